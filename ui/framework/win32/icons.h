#pragma once

#include "ui/framework/win_defs.h"

// The 16 x 16 image of an icon loaded by LoadIconResource, or the icon
// itself when it has none (the system then scales it).
HICON SmallImageOf(HICON icon);
