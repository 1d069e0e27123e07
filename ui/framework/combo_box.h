#pragma once

#include <string>

#include "ui/framework/win_defs.h"

#ifdef _WIN32
#include <list>
using ComboBoxControl = HWND;
#else
class QComboBox;
using ComboBoxControl = QComboBox*;
inline constexpr int CB_ERR = -1;
#endif

// Wrapper of a drop-down list control, attached by DDX_Control. Entries keep
// their stored text exactly (a trailing newline included) while the list
// shows them without line breaks. A sorted list (CBS_SORT) places each new
// entry in case-insensitive text order. One implementation per backend.
class CComboBox {
 public:
  // A control that is not a drop-down list attaches nothing.
  void Attach(ControlHandle control);
  ComboBoxControl GetControl() const;

  int AddString(const std::string& text);
  // Returns the number of entries left, or CB_ERR.
  int DeleteString(int index);
  int GetCount() const;
  int GetCurSel() const;
  // The stored text of the entry at index; empty for a bad index.
  std::string GetLBText(int index) const;

 private:
#ifdef _WIN32
  HWND m_hWnd = nullptr;
  // The stored texts, which the entries' item data point to.
  std::list<std::string> m_stored;
#else
  QComboBox* m_pControl = nullptr;
#endif
};
