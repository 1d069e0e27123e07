#pragma once

#include <cstdint>
#include <span>

#include "ui/framework/win_defs.h"

// A dialog described as data: the window and its controls in tab order,
// geometry in dialog units of the template font.

enum class ControlKind { kPushButton, kComboBox, kLabel, kIcon, kEdit };

// A control the program never addresses carries this id.
inline constexpr int IDC_STATIC = -1;

struct DlgItemTemplate {
  int id;
  ControlKind kind;
  const char* text;  // UTF-8
  int x, y, cx, cy;
  std::uint32_t style;  // besides WS_CHILD | WS_VISIBLE
  int iconId = 0;       // icon resource shown by an Icon control
};

struct DlgTemplate {
  const char* caption;
  int x, y, cx, cy;
  const char* fontFace;
  int pointSize;
  std::uint32_t style;
  std::uint32_t exStyle;
  std::span<const DlgItemTemplate> items;
};
