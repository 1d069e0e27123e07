#include "ui/framework/dialog.h"

#include <QWidget>

#include "ui/framework/dialog_window.h"
#include "ui/framework/win_app.h"

const MessageEntry CDialog::messageEntries[] = {
    MapCommand<&CDialog::OnOK>(BN_CLICKED, IDOK),
    MapCommand<&CDialog::OnCancel>(BN_CLICKED, IDCANCEL),
};

const MessageMap CDialog::messageMap{&CWnd::messageMap, messageEntries};

const MessageMap* CDialog::GetMessageMap() const { return &messageMap; }

CDialog::CDialog(const DlgTemplate& dialogTemplate, CWnd* pParentWnd)
    : m_template(dialogTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() { DestroyWindow(); }

BOOL CDialog::CreateWindow(bool show) {
  if (m_hWnd) return FALSE;
  m_bEnded = false;
  m_nResult = 0;
  QWidget* parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
  m_hWnd = new DialogWindow(this, m_template, parent);
  if (m_template.style & WS_SYSMENU) CreateSystemMenu();

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

BOOL CDialog::Create() { return CreateWindow(true); }

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

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_CLOSE:
      // A dialog's close button and close command mean Cancel.
      return SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    default:
      return CWnd::DefWindowProc(message, wParam, lParam);
  }
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
