#pragma once

#include <string>

// The visible top-level windows of the desktop, one a line with their
// class and caption, each followed by the texts of its child windows
// (labels, buttons, the text of a message box), in UTF-8. Safe to call
// from any thread: a window that does not answer within a moment is shown
// without its text.
std::string DescribeScreen();
