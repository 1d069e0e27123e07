#pragma once

// The menu of the backend being built.
#ifdef _WIN32
#include "ui/framework/win32/menu.h"
#else
#include "ui/framework/qt/menu.h"
#endif
