#include "ui/framework/win_app.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/modal_watcher.h"
#include "ui/framework/dialog.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/message_box_hook.h"

namespace {

constexpr UINT ID_EXTRA = 0x8001;

constexpr DlgItemTemplate kItems[] = {
    {IDOK, ControlKind::kPushButton, "OK", 5, 5, 40, 14, WS_TABSTOP},
};
constexpr DlgTemplate kTemplate{
    "Main", 0, 0, 80, 30, "MS Sans Serif", 8, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, kItems};

// A dialog that records how it was ended.
class RecordingDlg : public CDialog {
 public:
  RecordingDlg() : CDialog(kTemplate) {}
  int cancels = 0;

 protected:
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }
};

// An application whose InitInstance runs a script; help commands are
// counted through its command table.
class TestApp : public CWinApp {
 public:
  TestApp() : CWinApp("test-app") {}
  std::function<BOOL()> init = [] { return FALSE; };
  int helps = 0;
  int extras = 0;
  int exitCode = 0;

  BOOL InitInstance() override { return init(); }
  int ExitInstance() override { return exitCode; }
  void OnCountHelp() { ++helps; }
  void OnExtra() { ++extras; }

 protected:
  const AppCommandMap* GetMessageMap() const override { return &messageMap; }
  static const AppCommandEntry messageEntries[];
  static const AppCommandMap messageMap;
};

const AppCommandEntry TestApp::messageEntries[] = {
    MapAppCommand<&TestApp::OnCountHelp>(ID_HELP),
};
const AppCommandMap TestApp::messageMap{&CWinApp::messageMap, messageEntries};

// Adds a command to its base's table.
class DerivedApp : public TestApp {
 protected:
  static const AppCommandEntry messageEntries[];
  static const AppCommandMap messageMap;
  const AppCommandMap* GetMessageMap() const override { return &messageMap; }
};

const AppCommandEntry DerivedApp::messageEntries[] = {
    MapAppCommand<&TestApp::OnExtra>(ID_EXTRA),
};
const AppCommandMap DerivedApp::messageMap{&TestApp::messageMap, messageEntries};

int RunEntry() {
  std::string name = "win-app-test";
  char* argv[] = {name.data(), nullptr};
  return AfxWinMain(1, argv);
}

sighandler_t CurrentHandler(int signalNumber) {
  struct sigaction action {};
  sigaction(signalNumber, nullptr, &action);
  return action.sa_handler;
}

TEST(WinAppTest, FirstApplicationObjectIsTheOneUntilDestroyed) {
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(RunEntry(), -1);
  {
    TestApp first;
    TestApp second;
    EXPECT_EQ(AfxGetApp(), &first);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}

TEST(WinAppTest, CommandTablesAreSearchedFromTheMostDerived) {
  DerivedApp app;
  const struct {
    UINT id;
    BOOL handled;
    int helps;
    int extras;
  } cases[] = {{ID_HELP, TRUE, 1, 0}, {ID_EXTRA, TRUE, 1, 1}, {0xE145, FALSE, 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(app.OnCmdMsg(c.id), c.handled);
    EXPECT_EQ(app.helps, c.helps);
    EXPECT_EQ(app.extras, c.extras);
  }
}

TEST(WinAppTest, DestroyingTheMainWindowClearsTheRecord) {
  TestApp app;
  RecordingDlg other;
  {
    RecordingDlg main;
    app.m_pMainWnd = &main;
    ASSERT_TRUE(other.Create());
    other.DestroyWindow();
    EXPECT_EQ(app.m_pMainWnd, &main);
    ASSERT_TRUE(main.Create());
    main.DestroyWindow();
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    app.m_pMainWnd = &main;
  }
  EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST(WinAppTest, F1InAnyWindowIsTheHelpCommand) {
  TestApp app;
  app.init = [&] {
    RecordingDlg main;
    app.m_pMainWnd = &main;
    ModalWatcher watcher([](QWidget* window) {
      QTest::keyClick(window, Qt::Key_F1);
      QTest::keyClick(window->focusWidget(), Qt::Key_F1);
      QTest::keyClick(window, Qt::Key_F1, Qt::ShiftModifier);
      QTest::keyClick(window, Qt::Key_F2);
      QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_EQ(main.DoModal(), IDCANCEL);
    return FALSE;
  };
  EXPECT_EQ(RunEntry(), 0);
  EXPECT_EQ(app.helps, 2);
  EXPECT_EQ(QCoreApplication::applicationName(), "test-app");
}

TEST(WinAppTest, EntryRunsTheLoopOnlyWhenInitInstanceSaysSo) {
  const struct {
    BOOL init;
    int exitCode;
  } cases[] = {{FALSE, 0}, {TRUE, 0}, {TRUE, 7}};
  for (const auto& c : cases) {
    TestApp app;
    app.exitCode = c.exitCode;
    bool loopRan = false;
    app.init = [&] {
      QTimer::singleShot(0, [&] {
        loopRan = true;
        QCoreApplication::quit();
      });
      return c.init;
    };
    EXPECT_EQ(RunEntry(), c.exitCode);
    // Without the loop the queued call never runs inside the entry.
    EXPECT_EQ(loopRan, c.init == TRUE);
    QCoreApplication::processEvents();
  }
}

TEST(WinAppTest, CloseSignalsEndBoxesAboveTheMainWindowThenItsCloseCommand) {
  for (const int signalNumber : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signalNumber);
    const sighandler_t before = CurrentHandler(signalNumber);
    TestApp app;
    RecordingDlg main;
    int nestedResult = 0;
    app.init = [&] {
      app.m_pMainWnd = &main;
      int step = 0;
      ModalWatcher watcher([&](QWidget*) {
        if (step++ == 0) {
          // Main window up: open a box and a dialog over it, then signal.
          QTimer::singleShot(
              0, [&] { main.MessageBox("Over the main window", "Error", MB_ICONERROR); });
        } else if (step == 2) {
          QTimer::singleShot(0, [&] {
            RecordingDlg nested;
            nestedResult = nested.DoModal();
          });
        } else {
          // And the system menu over everything when the signal comes.
          QTimer::singleShot(0, [&] { raise(signalNumber); });
          main.GetSafeHwnd()->ShowSystemMenu(QPoint(0, 0));
        }
      });
      main.DoModal();
      return FALSE;
    };
    EXPECT_EQ(RunEntry(), 0);
    EXPECT_EQ(main.GetResult(), IDCANCEL);
    EXPECT_EQ(main.cancels, 1);
    EXPECT_EQ(nestedResult, IDCANCEL);
    EXPECT_EQ(CurrentHandler(signalNumber), before);
  }
}

}  // namespace
