#pragma once

#include <string>

class QComboBox;
class QWidget;

inline constexpr int CB_ERR = -1;

// Wrapper of a drop-down list control, attached by DDX_Control. Entries keep
// their stored text exactly (a trailing newline included) while the list
// shows them without line breaks. A sorted list places each new entry in
// case-insensitive text order.
class CComboBox {
 public:
  // A control that is not a drop-down list attaches nothing.
  void Attach(QWidget* control);
  QComboBox* GetControl() const { return m_pControl; }

  int AddString(const std::string& text);
  // Returns the number of entries left, or CB_ERR.
  int DeleteString(int index);
  int GetCount() const;
  int GetCurSel() const;
  // The stored text of the entry at index; empty for a bad index.
  std::string GetLBText(int index) const;

 private:
  QComboBox* m_pControl = nullptr;
};
