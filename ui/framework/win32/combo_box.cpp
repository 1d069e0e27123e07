#include "ui/framework/win32/combo_box.h"

#include "ui/framework/win32/utf16.h"

int CComboBox::AddString(const std::string& text) {
  if (!m_hWnd) return CB_ERR;
  const std::wstring wide = Widen(text);
  return static_cast<int>(
      SendMessageW(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
}

int CComboBox::DeleteString(int index) {
  if (!m_hWnd) return CB_ERR;
  return static_cast<int>(SendMessageW(m_hWnd, CB_DELETESTRING, static_cast<WPARAM>(index), 0));
}

int CComboBox::GetCount() const {
  return m_hWnd ? static_cast<int>(SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)) : CB_ERR;
}

int CComboBox::GetCurSel() const {
  return m_hWnd ? static_cast<int>(SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)) : CB_ERR;
}

std::string CComboBox::GetLBText(int index) const {
  if (!m_hWnd || index < 0) return {};
  const LRESULT length = SendMessageW(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(text.data()));
  if (copied == CB_ERR) return {};
  text.resize(static_cast<std::size_t>(copied));
  return Narrow(text);
}
