// CWnd's services over its platform window.

#include <string>

#include "ui/framework/menu.h"
#include "ui/framework/win32/icons.h"
#include "ui/framework/win32/utf16.h"
#include "ui/framework/wnd.h"

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  // Without a window there is no procedure to send to; the table still
  // answers, as it would for a window of the same class.
  if (!m_hWnd) return WindowProc(message, wParam, lParam);
  return SendMessageW(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::StartPlatformTimer(UINT_PTR nIDEvent, UINT nElapse) {
  return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr);
}

void CWnd::StopPlatformTimer(UINT_PTR nIDEvent, UINT_PTR) { ::KillTimer(m_hWnd, nIDEvent); }

int CWnd::ShowMessageBox(const std::string& text, const std::string& caption, UINT type) {
  return MessageBoxW(m_hWnd, Widen(text).c_str(), Widen(caption).c_str(), type);
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) {
  if (!m_hWnd) return nullptr;
  const HMENU hMenu = ::GetSystemMenu(m_hWnd, bRevert);
  if (!hMenu) return nullptr;
  if (!m_pSysMenu || m_pSysMenu->m_hMenu != hMenu) m_pSysMenu = std::make_unique<CMenu>(hMenu);
  return m_pSysMenu.get();
}

void CWnd::ShowIcon(BOOL bBigIcon) {
  // The title bar and the task switcher get the image drawn for their size
  // when the icon has one.
  const HICON shown = bBigIcon ? m_hBigIcon : SmallImageOf(m_hSmallIcon);
  SendMessageW(m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
               reinterpret_cast<LPARAM>(shown));
}

HWND CWnd::GetDlgItem(int id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr; }

bool CWnd::GetDlgItemText(int id, std::string& text) const {
  const HWND control = GetDlgItem(id);
  if (!control) return false;
  std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  const int length = GetWindowTextW(control, wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  text = Narrow(wide);
  return true;
}

void CWnd::SetDlgItemText(int id, const char* text) {
  if (m_hWnd) SetDlgItemTextW(m_hWnd, id, Widen(text ? text : "").c_str());
}

std::string CWnd::GetWindowText() const {
  if (!m_hWnd) return {};
  std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(m_hWnd)) + 1, L'\0');
  const int length = GetWindowTextW(m_hWnd, wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return Narrow(wide);
}

void CWnd::GotoDlgCtrl(int id) {
  const HWND control = GetDlgItem(id);
  if (!control) return;
  // The dialog manager's own focus move, which also selects an edit's text.
  SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
    SendMessageW(control, EM_SETSEL, 0, -1);
  }
}
