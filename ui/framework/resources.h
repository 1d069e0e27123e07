#pragma once

#include <string>

#include "ui/framework/win_defs.h"

// The program's strings and icons, looked up by id. On Windows they lie in
// the program file (compiled from its resource script); elsewhere the
// application registers them once at start-up.

// The string with that id, or an empty string when there is none.
std::string LoadStringResource(UINT id);
// The icon with that id (shared, never destroyed), or nullptr.
HICON LoadIconResource(int id);

#ifndef _WIN32
class QString;

void SetStringResource(UINT id, std::string text);
void RemoveStringResource(UINT id);
// path: a Qt resource or file holding every size of the icon.
void SetIconResource(int id, const QString& path);
#endif
