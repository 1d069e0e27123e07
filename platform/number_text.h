#pragma once

#include <optional>
#include <string>
#include <string_view>

// Numbers as the dialogs show and read them: always with a dot and without
// grouping, whatever the user's locale.

std::string FormatInt(int value);
// General notation with up to 15 significant digits ("%.15g"): 0 -> "0",
// 12.3456 -> "12.3456", 1e-09 -> "1e-09".
std::string FormatDouble(double value);

// A whole number in int range, with optional sign and surrounding blanks.
std::optional<int> ParseInt(std::string_view text);
// A decimal number (dot, optional exponent), with surrounding blanks.
std::optional<double> ParseDouble(std::string_view text);
