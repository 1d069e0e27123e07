#pragma once

#include <string>
#include <vector>

#include "ui/framework/win_defs.h"

class QPoint;
class QWidget;

// A menu as a list of entries; shown as a popup on demand.
class CMenu {
 public:
  BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const char* lpszNewItem = nullptr);

  int GetMenuItemCount() const { return static_cast<int>(m_items.size()); }
  UINT GetMenuItemID(int index) const;
  UINT GetMenuState(int index) const;
  std::string GetMenuString(int index) const;

  // Shows the menu at a global position; returns the chosen command id, or
  // 0 when the menu was dismissed.
  UINT TrackPopupMenu(QWidget* parent, const QPoint& globalPos) const;

 private:
  struct Item {
    UINT flags;
    UINT_PTR id;
    std::string text;
  };
  std::vector<Item> m_items;
};
