#include "ui/framework/dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "tests/support/message_box_recorder.h"
#include "tests/support/toy_dlg.h"
#include "ui/framework/combo_box.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/message_box_hook.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/qt/template_font.h"

namespace {

class DialogTest : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_TRUE(dlg.Create()); }

  QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
  QWidget* Focus() { return dlg.GetSafeHwnd()->focusWidget(); }

  MessageBoxRecorder recorder;
  std::vector<MessageBoxCall>& boxes = recorder.boxes;
  ToyDlg dlg;
};

TEST_F(DialogTest, CommandsReachTheirHandlersAndOkAndCancelTheBase) {
  dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED));
  // A notification the table does not bind is ignored.
  dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_GO, CBN_SELCHANGE));
  dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PLAIN, BN_CLICKED));
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"go"}));
  EXPECT_FALSE(dlg.IsEnded());

  dlg.SendMessage(WM_SYSCOMMAND, SC_CLOSE);
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"go", "cancel"}));
  EXPECT_TRUE(dlg.IsEnded());
  EXPECT_EQ(dlg.GetResult(), IDCANCEL);
}

TEST_F(DialogTest, OkEndsOnlyWhenTheRefreshSucceeds) {
  Edit(IDC_NUMBER)->setText("x");
  dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
  EXPECT_FALSE(dlg.IsEnded());
  EXPECT_EQ(boxes.size(), 1u);

  Edit(IDC_NUMBER)->setText("12");
  dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
  EXPECT_TRUE(dlg.IsEnded());
  EXPECT_EQ(dlg.GetResult(), IDOK);
  EXPECT_EQ(dlg.m_nNumber, 12);
}

TEST_F(DialogTest, FailedRefreshStopsAtTheFieldAndSelectsIt) {
  dlg.m_dValue = 1.5;
  Edit(IDC_NUMBER)->setText("4x");
  Edit(IDC_VALUE)->setText("2.5");
  EXPECT_EQ(dlg.UpdateData(TRUE), FALSE);
  EXPECT_EQ(dlg.m_nNumber, 0);
  EXPECT_EQ(dlg.m_dValue, 1.5);  // later bindings were not reached
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Проба");
  EXPECT_EQ(boxes[0].style, MB_ICONEXCLAMATION);
  EXPECT_EQ(Focus(), Edit(IDC_NUMBER));
  EXPECT_EQ(Edit(IDC_NUMBER)->selectedText(), "4x");

  dlg.m_nNumber = -3;
  dlg.m_dValue = 0.1 + 0.2;
  EXPECT_EQ(dlg.UpdateData(FALSE), TRUE);
  EXPECT_EQ(Edit(IDC_NUMBER)->text(), "-3");
  EXPECT_EQ(Edit(IDC_VALUE)->text(), "0.3");
}

TEST_F(DialogTest, SortedListKeepsStoredTextsAndNoSelection) {
  CComboBox& list = dlg.m_cbList;
  ASSERT_NE(list.GetControl(), nullptr);  // attached by the first push
  for (const char* text : {"COM3\n", "COM10\n", "com2\n", "COM1\n"}) list.AddString(text);
  EXPECT_EQ(list.GetCount(), 4);
  EXPECT_EQ(list.GetCurSel(), CB_ERR);
  std::vector<std::string> stored;
  for (int i = 0; i < list.GetCount(); ++i) stored.push_back(list.GetLBText(i));
  EXPECT_EQ(stored, std::vector<std::string>({"COM1\n", "COM10\n", "com2\n", "COM3\n"}));
  EXPECT_EQ(list.GetControl()->itemText(1), "COM10");
  EXPECT_EQ(list.GetLBText(7), "");

  EXPECT_EQ(list.DeleteString(0), 3);
  EXPECT_EQ(list.DeleteString(5), CB_ERR);
}

TEST_F(DialogTest, EnterPressesTheFocusedButtonOrElseSendsOk) {
  auto* go = dlg.GetDlgItem(IDC_GO);
  go->setFocus();
  QTest::keyClick(go, Qt::Key_Return);
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"go"}));
  EXPECT_FALSE(dlg.IsEnded());

  Edit(IDC_NUMBER)->setFocus();
  QTest::keyClick(Edit(IDC_NUMBER), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_TRUE(dlg.IsEnded());
  EXPECT_EQ(dlg.GetResult(), IDOK);
}

TEST_F(DialogTest, SettingARunningTimerRestartsItAndTimersEndWithTheWindow) {
  EXPECT_EQ(dlg.SetTimer(7, 1000), 7u);
  EXPECT_EQ(dlg.SetTimer(7, 50), 7u);
  EXPECT_TRUE(dlg.IsTimerSet(7));
  EXPECT_EQ(dlg.KillTimer(8), FALSE);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.ticks.empty(); }, 2000));
  EXPECT_EQ(dlg.ticks.front(), 7u);
  dlg.DestroyWindow();
  EXPECT_FALSE(dlg.IsTimerSet(7));
  EXPECT_EQ(dlg.SetTimer(7, 50), 0u);
}

TEST_F(DialogTest, TicksDoNotNestInsideATick) {
  int depth = 0;
  int deepest = 0;
  dlg.onTick = [&] {
    ++depth;
    deepest = std::max(deepest, depth);
    dlg.SendMessage(WM_TIMER, 1);
    --depth;
  };
  dlg.SendMessage(WM_TIMER, 1);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(dlg.ticks.size(), 1u);
}

TEST_F(DialogTest, RealMessageBoxKeepsTimerMessagesFlowing) {
  SetMessageBoxHook({});
  dlg.SetTimer(3, 10);
  std::size_t ticksWhileOpen = 0;
  QTimer::singleShot(300, [&] {
    ticksWhileOpen = dlg.ticks.size();
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
  });
  EXPECT_EQ(dlg.MessageBox("Text", "Error", MB_ICONERROR), IDOK);
  EXPECT_GT(ticksWhileOpen, 0u);
}

TEST(DialogModalTest, DoModalRunsUntilEscapeAndDestroysTheWindow) {
  ToyDlg dlg;
  QTimer::singleShot(0, [&] { QTest::keyClick(dlg.GetSafeHwnd(), Qt::Key_Escape); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
  EXPECT_EQ(dlg.calls, std::vector<std::string>({"cancel"}));
}

TEST(DialogUnitsTest, ConvertWithRoundingLikeTheClassicDialogs) {
  const DialogBaseUnits units{6, 13};
  EXPECT_EQ(DialogUnitsToPixels(units, 244, 143, 55, 14), (PixelRect{366, 232, 83, 23}));
  EXPECT_EQ(MulDivRounded(5, 3, 2), 8);
  EXPECT_EQ(MulDivRounded(-5, 3, 2), -8);
  EXPECT_EQ(TemplateFont("MS Sans Serif", 8).pointSizeF(), 7.5);
  EXPECT_EQ(TemplateFont("DejaVu Sans", 9).pointSizeF(), 9.0);
}

}  // namespace
