#pragma once

// The drop-down list control of the backend being built.
#ifdef _WIN32
#include "ui/framework/win32/combo_box.h"
#else
#include "ui/framework/qt/combo_box.h"
#endif
