// The main window and the About box on the Win32 backend, with the
// program's own resources and the simulated line: run under Wine with a
// display.

#include "ui/reader_dlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "meter/reading_cycle.h"
#include "sim/sim_serial_port.h"
#include "tests/support/message_box_recorder.h"
#include "ui/framework/menu.h"
#include "ui/framework/message_box_hook.h"
#include "ui/reading_timer.h"
#include "ui/resource.h"

namespace {

constexpr int kPort = 2;
constexpr int kAddress = 7;

void Pump(HWND dialog, int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (GetTickCount() < end);
}

class Win32ReaderDlgTest : public ::testing::Test {
 public:
  void SetUp() override {
    line.AddPort(kPort);
    line.AddPort(kPort + 1);
    ZlmMeter& meter = line.AttachMeter(kPort, kAddress);
    for (const ParameterInfo& parameter : kParameters) meter.SetValue(parameter.code, 1234, 4);
    ASSERT_TRUE(dlg.Create());
    hWnd = dlg.GetSafeHwnd();
  }
  void TearDown() override { dlg.DestroyWindow(); }

  void Choose(int index) {
    SendDlgItemMessageW(hWnd, IDC_PORT_COMBO, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDC_PORT_COMBO, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(hWnd, IDC_PORT_COMBO)));
  }

  SimSerialPort line;
  CReaderDlg dlg{line};
  HWND hWnd = nullptr;
  MessageBoxRecorder recorder;
  std::vector<MessageBoxCall>& boxes = recorder.boxes;
};

TEST_F(Win32ReaderDlgTest, ReselectingAPortClosesThePreviousOneFirst) {
  ASSERT_EQ(dlg.m_cbPorts.GetCount(), 2);
  Choose(0);
  EXPECT_TRUE(line.IsOpen(kPort));
  Choose(1);
  EXPECT_FALSE(line.IsOpen(kPort));
  EXPECT_TRUE(line.IsOpen(kPort + 1));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Win32ReaderDlgTest, TimerTickReadsTheSevenValuesIntoTheFields) {
  Choose(0);
  SetDlgItemTextW(hWnd, IDC_ADDRESS, L"7");
  SendMessageW(hWnd, WM_TIMER, POLL_TIMER_ID, 0);
  EXPECT_TRUE(boxes.empty());
  for (const int id : {IDC_VOLUME_M3, IDC_VOLUME_L, IDC_HOURS, IDC_FLOW_M3H, IDC_FLOW_LMIN,
                       IDC_FLOW_PERCENT, IDC_NOMINAL_DIAMETER}) {
    wchar_t text[64] = {};
    GetDlgItemTextW(hWnd, id, text, 64);
    EXPECT_STREQ(text, L"0.1234") << id;
  }
}

TEST_F(Win32ReaderDlgTest, SystemMenuEntryOpensTheAboutBoxWithItsIconWhole) {
  CMenu* menu = dlg.GetSystemMenu(FALSE);
  ASSERT_NE(menu, nullptr);
  const int last = menu->GetMenuItemCount() - 1;
  EXPECT_EQ(menu->GetMenuItemID(last), static_cast<UINT>(IDM_ABOUTBOX));
  EXPECT_EQ(menu->GetMenuString(last), "&About Tellap1...");
  EXPECT_TRUE(menu->GetMenuState(last - 1) & MF_SEPARATOR);
  EXPECT_NE(reinterpret_cast<HICON>(SendMessageW(hWnd, WM_GETICON, ICON_BIG, 0)), nullptr);
  EXPECT_NE(reinterpret_cast<HICON>(SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0)), nullptr);

  std::atomic<bool> seen{false};
  SIZE iconSize{};
  std::atomic<bool> disabledOwner{false};
  std::thread closer([&] {
    for (int i = 0; i < 200 && !seen; ++i) {
      Sleep(50);
      const HWND box = FindWindowW(nullptr, L"About ZLM Reader V1.0");
      if (!box) continue;
      // The About box is modal over the main window.
      disabledOwner = !IsWindowEnabled(hWnd);
      for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
          RECT r;
          GetClientRect(child, &r);
          iconSize = {r.right, r.bottom};
        }
      }
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      seen = true;
    }
  });
  // The low four bits of the command are the system's and are ignored.
  PostMessageW(hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0);
  Pump(hWnd, 100);
  closer.join();
  EXPECT_TRUE(seen);
  EXPECT_TRUE(disabledOwner);
  EXPECT_EQ(iconSize.cx, 32);
  EXPECT_EQ(iconSize.cy, 32);
  EXPECT_TRUE(IsWindowEnabled(hWnd));
}

}  // namespace
