#pragma once

#include "ui/framework/dialog_template.h"
#include "ui/framework/wnd.h"

// A dialog built from a template and run modally.
class CDialog : public CWnd {
 public:
  explicit CDialog(const DlgTemplate& dialogTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Builds the window, initialises it, runs a modal loop until the dialog
  // ends, destroys the window and returns IDOK, IDCANCEL, or -1 when the
  // window could not be built.
  virtual int DoModal();

  // The first half of DoModal without the loop: builds and initialises the
  // window and shows it. Lets tests drive a live dialog step by step.
  BOOL Create();
  // Destroys the window (WM_DESTROY first); the object lives on.
  void DestroyWindow();

  void EndDialog(int nResult);
  bool IsEnded() const { return m_bEnded; }
  int GetResult() const { return m_nResult; }

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

 protected:
  const MessageMap* GetMessageMap() const override;
  static const MessageMap messageMap;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  static const MessageEntry messageEntries[];

  BOOL CreateWindow(bool show);

  const DlgTemplate& m_template;
  CWnd* m_pParentWnd;
  bool m_bEnded = false;
  int m_nResult = 0;
};
