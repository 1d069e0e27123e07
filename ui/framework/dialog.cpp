#include "ui/framework/dialog.h"

const MessageEntry CDialog::messageEntries[] = {
    MapCommand<&CDialog::OnOK>(BN_CLICKED, IDOK),
    MapCommand<&CDialog::OnCancel>(BN_CLICKED, IDCANCEL),
};

const MessageMap CDialog::messageMap{&CWnd::messageMap, messageEntries};

const MessageMap* CDialog::GetMessageMap() const { return &messageMap; }

CDialog::CDialog(const DlgTemplate& dialogTemplate, CWnd* pParentWnd)
    : m_template(dialogTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() { DestroyWindow(); }

BOOL CDialog::Create() { return CreateWindow(true); }

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
