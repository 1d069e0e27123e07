#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/framework/combo_box.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/dialog.h"

// A small dialog for the framework's tests on either backend: a button bound
// in the message table and one that is not (and no tab stop), a sorted
// drop-down list, a label, a number field and a read-only value field.
enum ToyControlId : int {
  IDC_LIST = 100,
  IDC_NUMBER,
  IDC_VALUE,
  IDC_GO,
  IDC_LABEL,
  IDC_PLAIN,
};

inline constexpr DlgItemTemplate kToyItems[] = {
    {IDC_GO, ControlKind::kPushButton, "Go", 5, 5, 40, 14, WS_TABSTOP},
    {IDC_LIST, ControlKind::kComboBox, nullptr, 50, 5, 60, 80,
     CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
    {IDC_LABEL, ControlKind::kLabel, "Число:", 5, 25, 40, 8, SS_LEFT},
    {IDC_NUMBER, ControlKind::kEdit, nullptr, 50, 25, 40, 12, WS_BORDER | WS_TABSTOP},
    {IDC_VALUE, ControlKind::kEdit, nullptr, 50, 40, 40, 12, WS_BORDER | ES_READONLY | WS_TABSTOP},
    {IDC_PLAIN, ControlKind::kPushButton, "Plain", 5, 40, 40, 14, 0},
};
inline constexpr DlgTemplate kToyTemplate{
    "Проба", 0,
    0,       120,
    60,      "MS Sans Serif",
    8,       DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    0,       kToyItems};

// Records what reaches its handlers: "go", "ok" and "cancel" in calls, the
// id of every timer tick in ticks; onTick, when set, runs inside each tick.
class ToyDlg : public CDialog {
 public:
  ToyDlg() : CDialog(kToyTemplate) {}

  CComboBox m_cbList;
  int m_nNumber = 0;
  double m_dValue = 0.0;
  std::vector<std::string> calls;
  std::vector<UINT_PTR> ticks;
  std::function<void()> onTick;

  void OnGo() { calls.push_back("go"); }
  void OnTimer(UINT_PTR id) {
    ticks.push_back(id);
    if (onTick) onTick();
  }

 protected:
  const MessageMap* GetMessageMap() const override { return &messageMap; }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, IDC_LIST, m_cbList);
    DDX_Text(pDX, IDC_NUMBER, m_nNumber);
    DDX_Text(pDX, IDC_VALUE, m_dValue);
  }
  void OnOK() override {
    calls.push_back("ok");
    CDialog::OnOK();
  }
  void OnCancel() override {
    calls.push_back("cancel");
    CDialog::OnCancel();
  }

  static const MessageEntry entries[];
  static const MessageMap messageMap;
};

inline const MessageEntry ToyDlg::entries[] = {
    MapClicked<&ToyDlg::OnGo>(IDC_GO),
    MapTimer<&ToyDlg::OnTimer>(),
};
inline const MessageMap ToyDlg::messageMap{&CDialog::messageMap, entries};
