// The Win32 backend through the platform's own window messages: run under
// Wine with a display.

#include "ui/framework/dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ui/framework/combo_box.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/menu.h"
#include "ui/framework/message_box_hook.h"

namespace {

constexpr int IDC_LIST = 100;
constexpr int IDC_NUMBER = 101;
constexpr int IDC_VALUE = 102;
constexpr int IDC_GO = 103;
constexpr int IDC_LABEL = 104;
constexpr UINT_PTR kTimer = 7;

constexpr DlgItemTemplate kItems[] = {
    {IDC_GO, ControlKind::PushButton, "Go", 5, 5, 40, 14, WS_TABSTOP},
    {IDC_LIST, ControlKind::ComboBox, nullptr, 50, 5, 60, 80,
     CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
    {IDC_LABEL, ControlKind::Label, "Число:", 5, 25, 40, 8, SS_LEFT},
    {IDC_NUMBER, ControlKind::Edit, nullptr, 50, 25, 40, 12, WS_BORDER | WS_TABSTOP},
    {IDC_VALUE, ControlKind::Edit, nullptr, 50, 40, 40, 12, WS_BORDER | ES_READONLY | WS_TABSTOP},
};
constexpr DlgTemplate kTemplate{
    "Проба", 0,
    0,       120,
    60,      "MS Sans Serif",
    8,       DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    0,       kItems};

class ToyDlg : public CDialog {
 public:
  ToyDlg() : CDialog(kTemplate) {}

  CComboBox m_cbList;
  int m_nNumber = 0;
  double m_dValue = 0.0;
  std::vector<std::string> calls;
  int ticks = 0;
  bool boxOnTick = false;
  int ticksWhileBoxOpen = 0;

  void OnGo() { calls.push_back("go"); }
  void OnTimer(UINT_PTR id) {
    if (id != kTimer) return;
    ++ticks;
    // One real box: its loop keeps dispatching ticks to this window.
    if (boxOnTick) {
      boxOnTick = false;
      MessageBox("Тик", "Тик", MB_ICONERROR);
      ticksWhileBoxOpen = ticks;
    }
  }
  void OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == 0x0010) {
      calls.push_back("about");
    } else {
      Default();
    }
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

 private:
  static const MessageEntry entries[];
  static const MessageMap messageMap;
};

const MessageEntry ToyDlg::entries[] = {
    MapClicked<&ToyDlg::OnGo>(IDC_GO),
    MapTimer<&ToyDlg::OnTimer>(),
    MapSysCommand<&ToyDlg::OnSysCommand>(),
};
const MessageMap ToyDlg::messageMap{&CDialog::messageMap, entries};

std::wstring Text(HWND hWnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hWnd, text, 256);
  return text;
}

// Dispatches what is queued, with the dialog keyboard, for about ms.
void Pump(HWND dialog, int ms = 50) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (std::chrono::steady_clock::now() < end);
}

// A key as the keyboard delivers it: to the window with the focus.
void PressKey(HWND dialog, WPARAM key) {
  const HWND focus = GetFocus();
  PostMessageW(focus, WM_KEYDOWN, key, 1);
  PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
  Pump(dialog);
}

// Brings the dialog to the front and dispatches until the desktop has made
// it the active window with a focused control, for at most ten seconds:
// activation arrives as messages, later than SetForegroundWindow returns.
bool Activate(HWND dialog) {
  SetForegroundWindow(dialog);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (GetForegroundWindow() != dialog || GetActiveWindow() != dialog || !GetFocus()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Pump(dialog, 10);
  }
  return true;
}

class Win32DialogTest : public ::testing::Test {
 public:
  void SetUp() override {
    SetMessageBoxHook([this](const MessageBoxCall& call) {
      boxes.push_back(call);
      return IDOK;
    });
    ASSERT_TRUE(dlg.Create());
    hWnd = dlg.GetSafeHwnd();
    ASSERT_TRUE(Activate(hWnd)) << "the dialog did not become active";
  }
  void TearDown() override {
    dlg.DestroyWindow();
    SetMessageBoxHook({});
  }

  ToyDlg dlg;
  HWND hWnd = nullptr;
  std::vector<MessageBoxCall> boxes;
};

TEST_F(Win32DialogTest, TemplateGivesFontTextsAndControlRectangles) {
  EXPECT_EQ(Text(hWnd), L"Проба");
  EXPECT_EQ(Text(GetDlgItem(hWnd, IDC_LABEL)), L"Число:");
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hWnd, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");

  // Our dialog-unit arithmetic with the dialog manager's base units gives
  // the dialog manager's own rectangles.
  RECT base{0, 0, 4, 8};
  MapDialogRect(hWnd, &base);
  const DialogBaseUnits units{base.right, base.bottom};
  RECT client;
  GetClientRect(hWnd, &client);
  EXPECT_EQ(DialogUnitsToPixels(units, 0, 0, 120, 60),
            (PixelRect{0, 0, client.right, client.bottom}));
  for (const DlgItemTemplate& item : kItems) {
    SCOPED_TRACE(item.id);
    const HWND control = GetDlgItem(hWnd, item.id);
    ASSERT_NE(control, nullptr);
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
    PixelRect shown{r.left, r.top, r.right - r.left, r.bottom - r.top};
    const PixelRect expected = DialogUnitsToPixels(units, item.x, item.y, item.cx, item.cy);
    if (item.kind == ControlKind::ComboBox) {
      // The template height includes the dropped-down list; closed, the
      // control is one line high.
      EXPECT_LT(shown.height, expected.height);
      shown.height = expected.height;
    }
    EXPECT_EQ(expected, shown);
  }
}

TEST_F(Win32DialogTest, DataExchangeRoundTripsInUtf8AndPromptsOnABadNumber) {
  dlg.m_nNumber = -42;
  dlg.m_dValue = 12.3456;
  ASSERT_TRUE(dlg.UpdateData(FALSE));
  EXPECT_EQ(Text(GetDlgItem(hWnd, IDC_NUMBER)), L"-42");
  EXPECT_EQ(Text(GetDlgItem(hWnd, IDC_VALUE)), L"12.3456");

  struct Case {
    const wchar_t* text;
    bool ok;
    int number;
  };
  const Case cases[] = {{L" 255 ", true, 255},
                        {L"2147483647", true, 2147483647},
                        {L"2147483648", false, 0},
                        {L"12a", false, 0},
                        {L"", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.ok) << c.number);
    boxes.clear();
    dlg.m_nNumber = -1;
    SetDlgItemTextW(hWnd, IDC_NUMBER, c.text);
    EXPECT_EQ(dlg.UpdateData(TRUE), c.ok ? TRUE : FALSE);
    if (c.ok) {
      EXPECT_EQ(dlg.m_nNumber, c.number);
      EXPECT_TRUE(boxes.empty());
    } else {
      EXPECT_EQ(dlg.m_nNumber, -1);
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, "Введите целое число.");
      EXPECT_EQ(boxes[0].caption, "Проба");
      // The field is focused with its whole text selected.
      EXPECT_EQ(GetFocus(), GetDlgItem(hWnd, IDC_NUMBER));
      DWORD from = 1, to = 0;
      SendMessageW(GetDlgItem(hWnd, IDC_NUMBER), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                   reinterpret_cast<LPARAM>(&to));
      EXPECT_EQ(from, 0u);
      EXPECT_EQ(to, wcslen(c.text));
    }
  }

  // The list keeps its entries sorted and its stored texts exact.
  dlg.m_cbList.AddString("COM3\n");
  dlg.m_cbList.AddString("COM10\n");
  dlg.m_cbList.AddString("Порты заняты");
  EXPECT_EQ(dlg.m_cbList.GetCount(), 3);
  EXPECT_EQ(dlg.m_cbList.GetLBText(0), "COM10\n");
  // Shown without the line break.
  wchar_t shown[32] = {};
  SendDlgItemMessageW(hWnd, IDC_LIST, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(shown));
  EXPECT_STREQ(shown, L"COM3");
  EXPECT_EQ(dlg.m_cbList.GetLBText(2), "Порты заняты");
  EXPECT_EQ(dlg.m_cbList.GetCurSel(), CB_ERR);
  EXPECT_EQ(dlg.m_cbList.DeleteString(0), 2);
  EXPECT_EQ(dlg.m_cbList.GetLBText(0), "COM3\n");
}

TEST_F(Win32DialogTest, DialogKeyboardTabEnterEscape) {
  EXPECT_EQ(GetFocus(), GetDlgItem(hWnd, IDC_GO));
  for (const int id : {IDC_LIST, IDC_NUMBER, IDC_VALUE, IDC_GO}) {
    PressKey(hWnd, VK_TAB);
    EXPECT_EQ(GetFocus(), GetDlgItem(hWnd, id)) << id;
  }
  PressKey(hWnd, VK_TAB);
  PressKey(hWnd, VK_TAB);
  ASSERT_EQ(GetFocus(), GetDlgItem(hWnd, IDC_NUMBER));
  PressKey(hWnd, VK_RETURN);
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"ok"}));
  EXPECT_TRUE(dlg.IsEnded());
  EXPECT_EQ(dlg.GetResult(), IDOK);

  dlg.DestroyWindow();
  ASSERT_TRUE(dlg.Create());
  hWnd = dlg.GetSafeHwnd();
  ASSERT_TRUE(Activate(hWnd)) << "the dialog did not become active";
  PressKey(hWnd, VK_ESCAPE);
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"ok", "cancel"}));
  EXPECT_EQ(dlg.GetResult(), IDCANCEL);
}

TEST_F(Win32DialogTest, TimerTicksArriveAndATickDuringABoxIsDropped) {
  ASSERT_EQ(dlg.SetTimer(kTimer, 20), kTimer);
  EXPECT_TRUE(dlg.IsTimerSet(kTimer));
  Pump(hWnd, 300);
  EXPECT_GE(dlg.ticks, 5);
  EXPECT_TRUE(dlg.KillTimer(kTimer));
  const int ticks = dlg.ticks;
  Pump(hWnd, 100);
  EXPECT_EQ(dlg.ticks, ticks);

  // A real message box answers after 300 ms: about 15 ticks fall due while
  // it is open, and none of them runs the handler again.
  SetMessageBoxHook({});
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    for (int i = 0; i < 200 && !closed; ++i) {
      Sleep(300);
      if (const HWND box = FindWindowW(nullptr, L"Тик")) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        closed = true;
      }
    }
  });
  dlg.ticks = 0;
  dlg.boxOnTick = true;
  dlg.SetTimer(kTimer, 20);
  while (!closed) Pump(hWnd, 20);
  dlg.KillTimer(kTimer);
  closer.join();
  EXPECT_EQ(dlg.ticksWhileBoxOpen, 1);
}

TEST_F(Win32DialogTest, SystemMenuIsTheWindowsOwnAndItsCommandsReachTheTable) {
  CMenu* menu = dlg.GetSystemMenu(FALSE);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->m_hMenu, GetSystemMenu(hWnd, FALSE));
  const int count = menu->GetMenuItemCount();
  menu->AppendMenu(MF_SEPARATOR);
  menu->AppendMenu(MF_STRING, 0x0010, "&О программе…");
  EXPECT_EQ(menu->GetMenuItemCount(), count + 2);
  EXPECT_EQ(menu->GetMenuItemID(count + 1), 0x0010u);
  EXPECT_EQ(menu->GetMenuString(count + 1), "&О программе…");

  // The low four bits of a system command are the system's own.
  for (const WPARAM command : {WPARAM{0x0010}, WPARAM{0x0013}, WPARAM{0x001F}}) {
    SendMessageW(hWnd, WM_SYSCOMMAND, command, 0);
  }
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"about", "about", "about"}));
  // What the table leaves to the default processing: close means Cancel.
  PostMessageW(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump(hWnd);
  EXPECT_EQ(dlg.calls.back(), "cancel");
}

}  // namespace
