#include "ui/framework/qt/menu.h"

#include <QAction>
#include <QMenu>
#include <QPoint>

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const char* lpszNewItem) {
  if (nFlags & MF_SEPARATOR) {
    m_items.push_back({nFlags, 0, {}});
  } else {
    m_items.push_back({nFlags, nIDNewItem, lpszNewItem ? lpszNewItem : ""});
  }
  return TRUE;
}

UINT CMenu::GetMenuItemID(int index) const {
  if (index < 0 || index >= GetMenuItemCount()) return static_cast<UINT>(-1);
  return static_cast<UINT>(m_items[index].id);
}

UINT CMenu::GetMenuState(int index) const {
  if (index < 0 || index >= GetMenuItemCount()) return static_cast<UINT>(-1);
  return m_items[index].flags;
}

std::string CMenu::GetMenuString(int index) const {
  if (index < 0 || index >= GetMenuItemCount()) return {};
  return m_items[index].text;
}

UINT CMenu::TrackPopupMenu(QWidget* parent, const QPoint& globalPos) const {
  QMenu menu(parent);
  for (const auto& item : m_items) {
    if (item.flags & MF_SEPARATOR) {
      menu.addSeparator();
    } else {
      menu.addAction(QString::fromStdString(item.text))->setData(QVariant::fromValue(item.id));
    }
  }
  const QAction* chosen = menu.exec(globalPos);
  return chosen ? static_cast<UINT>(chosen->data().value<UINT_PTR>()) : 0;
}
