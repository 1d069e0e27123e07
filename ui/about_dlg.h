#pragma once

#include "ui/framework/dialog.h"

// The About box: program name, version and contacts. No code of its own:
// OK, Enter, Escape and its close button end it.
class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(CWnd* pParent = nullptr);
};
