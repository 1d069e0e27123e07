// A CDialog's platform window: made by the dialog manager from the
// in-memory template, run modally (DialogBoxIndirectParamW) or shown
// modeless (CreateDialogIndirectParamW), ended and destroyed.

#include <vector>

#include "ui/framework/dialog.h"
#include "ui/framework/win32/dialog_template_builder.h"
#include "ui/framework/win32/window_backend.h"
#include "ui/framework/win_app.h"

namespace {

constexpr wchar_t kSuperProcProperty[] = L"ZlmReader.SuperProc";

CWnd* OwnerOf(HWND hWnd) { return reinterpret_cast<CWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA)); }

// Runs one of the dialog manager's two calls (modeless or modal) on the
// template built in memory, owned by the parent's window, with dlg as the
// creation parameter DialogProc ties the window to.
template <typename DialogCall>
auto FromTemplate(DialogCall call, const DlgTemplate& dialogTemplate, CWnd* parent, CDialog* dlg) {
  const std::vector<std::uint16_t> memory = BuildDialogTemplate(dialogTemplate);
  return call(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(memory.data()),
              parent ? parent->GetSafeHwnd() : nullptr, &WindowBackend::DialogProc,
              reinterpret_cast<LPARAM>(dlg));
}

}  // namespace

INT_PTR CALLBACK WindowBackend::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* wnd = reinterpret_cast<CWnd*>(lParam);
  wnd->m_hWnd = hWnd;
  SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(wnd));
  const LONG_PTR super =
      SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc));
  SetPropW(hWnd, kSuperProcProperty, reinterpret_cast<HANDLE>(super));
  // TRUE: the dialog manager focuses the first tab stop.
  return wnd->WindowProc(WM_INITDIALOG, wParam, lParam);
}

LRESULT WindowBackend::CallSuper(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto super = reinterpret_cast<WNDPROC>(GetPropW(hWnd, kSuperProcProperty));
  return super ? CallWindowProcW(super, hWnd, message, wParam, lParam)
               : DefWindowProcW(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK WindowBackend::SubclassProc(HWND hWnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  CWnd* wnd = OwnerOf(hWnd);
  if (!wnd) return CallSuper(hWnd, message, wParam, lParam);
  switch (message) {
    case WM_HELP:
      // F1 anywhere in the program is the help command of the application.
      if (CWinApp* app = AfxGetApp()) app->OnCmdMsg(ID_HELP);
      return TRUE;
    case WM_PAINT: {
      // A paint handler that draws nothing (the controls paint themselves)
      // leaves the window to the dialog manager, which erases and validates
      // it; otherwise WM_PAINT would come back for ever.
      const LRESULT result = wnd->WindowProc(message, wParam, lParam);
      if (GetUpdateRect(hWnd, nullptr, FALSE)) return CallSuper(hWnd, message, wParam, lParam);
      return result;
    }
    case WM_NCDESTROY: {
      // The last message of the window: the object lives on without it.
      const LRESULT result = CallSuper(hWnd, message, wParam, lParam);
      SetWindowLongPtrW(hWnd, GWLP_WNDPROC,
                        reinterpret_cast<LONG_PTR>(GetPropW(hWnd, kSuperProcProperty)));
      RemovePropW(hWnd, kSuperProcProperty);
      SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
      wnd->m_hWnd = nullptr;
      return result;
    }
    default:
      return wnd->WindowProc(message, wParam, lParam);
  }
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!m_hWnd) return 0;
  return WindowBackend::CallSuper(m_hWnd, message, wParam, lParam);
}

BOOL CDialog::CreateWindow(bool) {
  if (m_hWnd) return FALSE;
  m_bEnded = false;
  m_nResult = 0;
  const HWND hWnd = FromTemplate(&CreateDialogIndirectParamW, m_template, m_pParentWnd, this);
  if (!hWnd) return FALSE;
  ShowWindow(hWnd, SW_SHOW);
  return TRUE;
}

int CDialog::DoModal() {
  if (m_hWnd) return -1;
  m_bEnded = false;
  m_nResult = 0;
  // The dialog manager's own modal loop, with the parent disabled meanwhile.
  const INT_PTR result = FromTemplate(&DialogBoxIndirectParamW, m_template, m_pParentWnd, this);
  AfxWindowDestroyed(this);
  return result == -1 ? -1 : m_nResult;
}

void CDialog::DestroyWindow() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
  AfxWindowDestroyed(this);
}

void CDialog::EndDialog(int nResult) {
  m_bEnded = true;
  m_nResult = nResult;
  if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}
