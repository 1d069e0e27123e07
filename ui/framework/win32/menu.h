#pragma once

#include <string>

#include "ui/framework/win_defs.h"

// A platform menu (for a window's system menu, the window's real one); the
// object does not own it.
class CMenu {
 public:
  explicit CMenu(HMENU hMenu = nullptr) : m_hMenu(hMenu) {}

  BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const char* lpszNewItem = nullptr);

  int GetMenuItemCount() const;
  UINT GetMenuItemID(int index) const;
  UINT GetMenuState(int index) const;
  std::string GetMenuString(int index) const;

  HMENU m_hMenu;
};
