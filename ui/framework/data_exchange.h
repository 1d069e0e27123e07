#pragma once

#include "ui/framework/win_defs.h"

class CWnd;
class CComboBox;

// One run of a window's binding table in one direction.
class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

  // Tells the user the text of control nIDC is not acceptable, selects it
  // and stops the exchange: later bindings are skipped.
  void Fail(int nIDC, const char* prompt);
  bool Failed() const { return m_bFailed; }

  ControlHandle PrepareCtrl(int nIDC) const;

  const BOOL m_bSaveAndValidate;
  CWnd* const m_pDlgWnd;

 private:
  bool m_bFailed = false;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CComboBox& rControl);
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDX_Text(CDataExchange* pDX, int nIDC, double& value);
