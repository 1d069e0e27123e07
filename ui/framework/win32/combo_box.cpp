#include "ui/framework/combo_box.h"

#include "ui/framework/win32/utf16.h"

namespace {

std::string Shown(std::string text) {
  std::erase_if(text, [](char c) { return c == '\n' || c == '\r'; });
  return text;
}

}  // namespace

void CComboBox::Attach(HWND control) { m_hWnd = control; }

HWND CComboBox::GetControl() const { return m_hWnd; }

int CComboBox::AddString(const std::string& text) {
  if (!m_hWnd) return CB_ERR;
  const std::wstring wide = Widen(Shown(text));
  const LRESULT index =
      SendMessageW(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  if (index < 0) return static_cast<int>(index);
  const std::string& stored = m_stored.emplace_back(text);
  SendMessageW(m_hWnd, CB_SETITEMDATA, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&stored));
  return static_cast<int>(index);
}

int CComboBox::DeleteString(int index) {
  if (!m_hWnd) return CB_ERR;
  const LRESULT data = SendMessageW(m_hWnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  const LRESULT left = SendMessageW(m_hWnd, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
  if (left != CB_ERR) {
    m_stored.remove_if(
        [data](const std::string& s) { return reinterpret_cast<LRESULT>(&s) == data; });
  }
  return static_cast<int>(left);
}

int CComboBox::GetCount() const {
  return m_hWnd ? static_cast<int>(SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)) : CB_ERR;
}

int CComboBox::GetCurSel() const {
  return m_hWnd ? static_cast<int>(SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)) : CB_ERR;
}

std::string CComboBox::GetLBText(int index) const {
  if (!m_hWnd || index < 0) return {};
  const LRESULT data = SendMessageW(m_hWnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  for (const std::string& stored : m_stored) {
    if (reinterpret_cast<LRESULT>(&stored) == data) return stored;
  }
  const LRESULT length = SendMessageW(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(text.data()));
  if (copied == CB_ERR) return {};
  text.resize(static_cast<std::size_t>(copied));
  return Narrow(text);
}
