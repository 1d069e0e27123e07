#pragma once

#include <string>
#include <string_view>

// Texts are UTF-8 inside the program and UTF-16 at the platform's
// wide-character calls. Invalid input converts to replacement characters.

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
