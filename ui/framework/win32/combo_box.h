#pragma once

#include <list>
#include <string>

#include "ui/framework/win_defs.h"

// Wrapper of a drop-down list control, attached by DDX_Control. Entries keep
// their stored text exactly (a trailing newline included, kept beside the
// entry as its item data) while the list shows them without line breaks. A
// sorted list (CBS_SORT) places each new entry in the platform's
// case-insensitive order.
class CComboBox {
 public:
  void Attach(HWND control) { m_hWnd = control; }
  HWND GetControl() const { return m_hWnd; }

  int AddString(const std::string& text);
  // Returns the number of entries left, or CB_ERR.
  int DeleteString(int index);
  int GetCount() const;
  int GetCurSel() const;
  // The stored text of the entry at index; empty for a bad index.
  std::string GetLBText(int index) const;

 private:
  HWND m_hWnd = nullptr;
  std::list<std::string> m_stored;  // the texts the entries' item data point to
};
