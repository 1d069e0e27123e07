// A CDialog's Qt window: built from the template, run modally or shown,
// ended and destroyed.

#include <QWidget>

#include "ui/framework/dialog.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/win_app.h"

BOOL CDialog::CreateWindow(bool show) {
  if (m_hWnd) return FALSE;
  m_bEnded = false;
  m_nResult = 0;
  QWidget* parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
  m_hWnd = new DialogWindow(this, m_template, parent);

  const BOOL focusFirst = SendMessage(WM_INITDIALOG) != 0;
  QWidget* first = focusFirst ? m_hWnd->FirstTabStop() : nullptr;
  if (show) {
    m_hWnd->show();
    if (first) first->setFocus(Qt::TabFocusReason);
  } else {
    m_hWnd->SetPendingFocus(first);
  }
  return TRUE;
}

int CDialog::DoModal() {
  if (!CreateWindow(false)) return -1;
  if (!m_bEnded) m_hWnd->exec();
  const int result = m_nResult;
  DestroyWindow();
  return result;
}

void CDialog::DestroyWindow() {
  if (m_hWnd) {
    SendMessage(WM_DESTROY);
    DialogWindow* window = m_hWnd;
    m_hWnd = nullptr;
    delete window;
  }
  AfxWindowDestroyed(this);
}

void CDialog::EndDialog(int nResult) {
  m_bEnded = true;
  m_nResult = nResult;
  if (m_hWnd) m_hWnd->Finish(nResult);
}
