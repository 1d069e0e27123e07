#include "ui/framework/win32/menu.h"

#include "ui/framework/win32/utf16.h"

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const char* lpszNewItem) {
  if (nFlags & MF_SEPARATOR) return AppendMenuW(m_hMenu, nFlags, 0, nullptr);
  const std::wstring text = Widen(lpszNewItem ? lpszNewItem : "");
  return AppendMenuW(m_hMenu, nFlags, nIDNewItem, text.c_str());
}

int CMenu::GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }

UINT CMenu::GetMenuItemID(int index) const { return ::GetMenuItemID(m_hMenu, index); }

UINT CMenu::GetMenuState(int index) const {
  return ::GetMenuState(m_hMenu, static_cast<UINT>(index), MF_BYPOSITION);
}

std::string CMenu::GetMenuString(int index) const {
  wchar_t text[256] = {};
  const int length = GetMenuStringW(m_hMenu, static_cast<UINT>(index), text,
                                    static_cast<int>(std::size(text)), MF_BYPOSITION);
  return length > 0 ? Narrow(std::wstring_view(text, static_cast<std::size_t>(length)))
                    : std::string();
}
