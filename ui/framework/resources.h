#pragma once

#include <string>

#include "ui/framework/wnd.h"

class QString;

// The program's string table and icons, registered once at start-up by the
// application and looked up by id.

void SetStringResource(UINT id, std::string text);
void RemoveStringResource(UINT id);
// The string with that id, or an empty string when there is none.
std::string LoadStringResource(UINT id);

// path: a Qt resource or file holding every size of the icon.
void SetIconResource(int id, const QString& path);
// The icon with that id (shared, never destroyed), or nullptr.
HICON LoadIconResource(int id);
