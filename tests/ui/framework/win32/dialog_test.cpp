// The Win32 backend through the platform's own window messages: run under
// Wine with a display.

#include "ui/framework/dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/message_box_recorder.h"
#include "tests/support/toy_dlg.h"
#include "ui/framework/combo_box.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/dialog_units.h"
#include "ui/framework/menu.h"
#include "ui/framework/message_box_hook.h"

namespace {

constexpr UINT_PTR kTimer = 7;

// The toy dialog with the system menu's commands in its table: the about
// entry (0x0010) recorded, the rest to the default.
class Win32ToyDlg : public ToyDlg {
 public:
  void OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == 0x0010) {
      calls.push_back("about");
    } else {
      Default();
    }
  }

 protected:
  const MessageMap* GetMessageMap() const override { return &sysCommandMap; }

 private:
  static const MessageEntry sysCommandEntries[];
  static const MessageMap sysCommandMap;
};

const MessageEntry Win32ToyDlg::sysCommandEntries[] = {
    MapSysCommand<&Win32ToyDlg::OnSysCommand>(),
};
const MessageMap Win32ToyDlg::sysCommandMap{&ToyDlg::messageMap, sysCommandEntries};

// The ticks of kTimer so far.
std::size_t TicksOf(const ToyDlg& dlg) {
  return static_cast<std::size_t>(std::count(dlg.ticks.begin(), dlg.ticks.end(), kTimer));
}

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

class Win32DialogTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(dlg.Create());
    hWnd = dlg.GetSafeHwnd();
    SetForegroundWindow(hWnd);
    Pump(hWnd);
  }
  void TearDown() override { dlg.DestroyWindow(); }

  MessageBoxRecorder recorder;
  std::vector<MessageBoxCall>& boxes = recorder.boxes;
  Win32ToyDlg dlg;
  HWND hWnd = nullptr;
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
  for (const DlgItemTemplate& item : kToyItems) {
    SCOPED_TRACE(item.id);
    const HWND control = GetDlgItem(hWnd, item.id);
    ASSERT_NE(control, nullptr);
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&r), 2);
    PixelRect shown{r.left, r.top, r.right - r.left, r.bottom - r.top};
    const PixelRect expected = DialogUnitsToPixels(units, item.x, item.y, item.cx, item.cy);
    if (item.kind == ControlKind::kComboBox) {
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
  Pump(hWnd);
  PressKey(hWnd, VK_ESCAPE);
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"ok", "cancel"}));
  EXPECT_EQ(dlg.GetResult(), IDCANCEL);
}

TEST_F(Win32DialogTest, TimerTicksArriveAndATickDuringABoxIsDropped) {
  ASSERT_EQ(dlg.SetTimer(kTimer, 20), kTimer);
  EXPECT_TRUE(dlg.IsTimerSet(kTimer));
  Pump(hWnd, 300);
  EXPECT_GE(TicksOf(dlg), 5u);
  EXPECT_TRUE(dlg.KillTimer(kTimer));
  const std::size_t ticks = TicksOf(dlg);
  Pump(hWnd, 100);
  EXPECT_EQ(TicksOf(dlg), ticks);

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
  dlg.ticks.clear();
  // One real box: its loop keeps dispatching ticks to this window.
  bool boxShown = false;
  std::size_t ticksWhileBoxOpen = 0;
  dlg.onTick = [&] {
    if (boxShown) return;
    boxShown = true;
    dlg.MessageBox("Тик", "Тик", MB_ICONERROR);
    ticksWhileBoxOpen = TicksOf(dlg);
  };
  dlg.SetTimer(kTimer, 20);
  while (!closed) Pump(hWnd, 20);
  dlg.KillTimer(kTimer);
  closer.join();
  EXPECT_EQ(ticksWhileBoxOpen, 1u);
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
