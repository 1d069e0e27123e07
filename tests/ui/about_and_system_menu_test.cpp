#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "meter/read_exchange.h"
#include "meter/reading_cycle.h"
#include "sim/sim_serial_port.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/modal_watcher.h"
#include "ui/about_dlg.h"
#include "ui/framework/menu.h"
#include "ui/framework/message_box_hook.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/qt/template_font.h"
#include "ui/framework/resources.h"
#include "ui/reader_dlg.h"
#include "ui/reading_timer.h"
#include "ui/resource.h"

namespace {

constexpr int kPort = 2;
constexpr int kAddress = 7;
constexpr char kAboutEntry[] = "&About Tellap1...";
constexpr char kAboutCaption[] = "About ZLM Reader V1.0";

QPushButton* OkButton(QWidget* box) {
  for (auto* button : box->findChildren<QPushButton*>()) {
    if (button->text() == "OK") return button;
  }
  return nullptr;
}

class AboutAndSystemMenuTest : public ::testing::Test {
 public:
  void SetUp() override {
    line.AddPort(kPort);
    ZlmMeter& meter = line.AttachMeter(kPort, kAddress);
    for (const ParameterInfo& parameter : kParameters) meter.SetValue(parameter.code, 1234, 4);
    SetStringResource(IDS_ABOUTBOX, kAboutEntry);
  }
  void TearDown() override {
    dlg.reset();
    SetStringResource(IDS_ABOUTBOX, kAboutEntry);
  }

  CReaderDlg& OpenWindow() {
    // A window left open by an earlier case gives its port back first.
    if (dlg) dlg->ClosePort();
    dlg = std::make_unique<CReaderDlg>(line);
    EXPECT_TRUE(dlg->Create());
    return *dlg;
  }
  // The window with a meter's port open and its address typed.
  CReaderDlg& OpenWindowOnMeter() {
    OpenWindow();
    auto* combo = qobject_cast<QComboBox*>(dlg->GetDlgItem(IDC_PORT_COMBO));
    const int index = combo->findText("COM2");
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_ADDRESS))->setText(QString::number(kAddress));
    EXPECT_TRUE(line.IsOpen(kPort));
    return *dlg;
  }
  // Requests the meter has received so far: one address byte each.
  std::size_t Requests() const {
    std::size_t count = 0;
    for (const WrittenByte& byte : line.Written(kPort)) count += byte.bit == NinthBit::kOne;
    return count;
  }

  SimSerialPort line;
  std::unique_ptr<CReaderDlg> dlg;
  MessageBoxRecorder recorder;
  std::vector<MessageBoxCall>& boxes = recorder.boxes;
};

TEST_F(AboutAndSystemMenuTest, SystemMenuEndsWithSeparatorAndAboutEntry) {
  OpenWindow();
  CMenu* menu = dlg->GetSystemMenu(FALSE);
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->GetMenuItemCount(), 3);
  EXPECT_EQ(menu->GetMenuItemID(0), SC_CLOSE);
  EXPECT_EQ(menu->GetMenuState(1), MF_SEPARATOR);
  EXPECT_EQ(menu->GetMenuItemID(1), 0u);
  EXPECT_EQ(menu->GetMenuState(2), MF_STRING);
  EXPECT_EQ(menu->GetMenuItemID(2), IDM_ABOUTBOX);
  EXPECT_EQ(menu->GetMenuString(2), kAboutEntry);
}

TEST_F(AboutAndSystemMenuTest, MissingOrEmptyString101AddsNeitherSeparatorNorEntry) {
  const std::optional<std::string> cases[] = {std::nullopt, std::string()};
  for (const auto& text : cases) {
    SCOPED_TRACE(text ? "empty" : "missing");
    if (text) {
      SetStringResource(IDS_ABOUTBOX, *text);
    } else {
      RemoveStringResource(IDS_ABOUTBOX);
    }
    OpenWindow();
    CMenu* menu = dlg->GetSystemMenu(FALSE);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->GetMenuItemCount(), 1);
    EXPECT_EQ(menu->GetMenuItemID(0), SC_CLOSE);
  }
}

TEST_F(AboutAndSystemMenuTest, AboutCommandAndItsLowBitVariantsOpenTheAboutBox) {
  OpenWindowOnMeter();
  for (UINT id = 0x0010; id <= 0x001F; ++id) {
    SCOPED_TRACE(id);
    bool focusOnOk = false;
    ModalWatcher watcher([&](QWidget* box) {
      focusOnOk = box->focusWidget() != nullptr && box->focusWidget() == OkButton(box);
      QTest::keyClick(box, Qt::Key_Escape);
    });
    dlg->SendMessage(WM_SYSCOMMAND, id);
    EXPECT_EQ(watcher.Titles(), std::vector<std::string>({kAboutCaption}));
    EXPECT_TRUE(focusOnOk);
    // The About box leaves the main window and its port as they were.
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_TRUE(line.IsOpen(kPort));
  }
}

TEST_F(AboutAndSystemMenuTest, OtherSystemCommandsGetDefaultProcessing) {
  struct Case {
    UINT id;
    bool ends;
  };
  const Case cases[] = {
      {0x0000, false}, {0x0020, false}, {0x00F0, false}, {0xF020, false},  // minimise
      {0xF030, false},                                                     // maximise
      {0xF060, true},  {0xF063, true},                                     // close
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    OpenWindowOnMeter();
    ModalWatcher watcher([](QWidget* box) { box->close(); });
    dlg->SendMessage(WM_SYSCOMMAND, c.id);
    EXPECT_EQ(watcher.Seen(), 0);
    EXPECT_EQ(dlg->IsEnded(), c.ends);
    if (c.ends) {
      // Through OnCancel: the port is closed and the result is IDCANCEL.
      EXPECT_EQ(dlg->GetResult(), IDCANCEL);
      EXPECT_FALSE(line.IsOpen(kPort));
      EXPECT_EQ(dlg->m_hPort, INVALID_HANDLE_VALUE);
    } else {
      EXPECT_TRUE(line.IsOpen(kPort));
    }
  }
}

TEST_F(AboutAndSystemMenuTest, ChoosingTheMenuEntryOpensTheAboutBox) {
  OpenWindow();
  // The context-menu key opens the system menu; the last entry is chosen.
  std::vector<std::string> entries;
  std::vector<std::string> titles;
  QTimer chooser;
  QObject::connect(&chooser, &QTimer::timeout, [&] {
    if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      entries.clear();
      for (const QAction* action : popup->actions())
        entries.push_back(action->text().toStdString());
      popup->setActiveAction(popup->actions().last());
      QTest::keyClick(popup, Qt::Key_Return);
    } else if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
      titles.push_back(modal->windowTitle().toStdString());
      modal->close();
    }
  });
  chooser.start(1);
  QTest::keyClick(dlg->GetSafeHwnd(), Qt::Key_Menu);
  chooser.stop();
  EXPECT_EQ(entries, std::vector<std::string>({"&Закрыть\tAlt+F4", "", kAboutEntry}));
  EXPECT_EQ(titles, std::vector<std::string>({kAboutCaption}));
  EXPECT_FALSE(dlg->IsEnded());
}

// Dismisses every system menu that opens while it is alive, remembering
// the entries of each.
class SystemMenuWatcher {
 public:
  SystemMenuWatcher() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!popup) return;
      std::vector<std::string> entries;
      for (const QAction* action : popup->actions())
        entries.push_back(action->text().toStdString());
      m_menus.push_back(entries);
      QTest::keyClick(popup, Qt::Key_Escape);
    });
    m_timer.start(1);
  }
  const std::vector<std::vector<std::string>>& Menus() const { return m_menus; }

 private:
  QTimer m_timer;
  std::vector<std::vector<std::string>> m_menus;
};

// Alt+Space opens the system menu from every control that can take the
// focus, and the control itself does nothing with it.
TEST_F(AboutAndSystemMenuTest, AltSpaceOnEveryControlOpensOnlyTheSystemMenu) {
  const std::vector<std::string> systemMenu = {"&Закрыть\tAlt+F4", "", kAboutEntry};
  const int focusable[] = {
      IDCANCEL,         IDC_PORT_COMBO,       IDC_CLOSE_PORT,  IDC_ADDRESS,  IDC_START_READING,
      IDC_VOLUME_M3,    IDC_VOLUME_L,         IDC_HOURS,       IDC_FLOW_M3H, IDC_FLOW_LMIN,
      IDC_FLOW_PERCENT, IDC_NOMINAL_DIAMETER, IDC_STOP_READING};
  for (const int id : focusable) {
    SCOPED_TRACE(id);
    OpenWindowOnMeter();
    QWidget* control = dlg->GetDlgItem(id);
    ASSERT_NE(control, nullptr);
    auto* address = qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_ADDRESS));
    address->selectAll();
    control->setFocus();
    SystemMenuWatcher watcher;
    QTest::keyClick(control, Qt::Key_Space, Qt::AltModifier);
    EXPECT_EQ(watcher.Menus(), std::vector<std::vector<std::string>>({systemMenu}));
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_TRUE(line.IsOpen(kPort));
    EXPECT_FALSE(dlg->IsTimerSet(POLL_TIMER_ID));
    EXPECT_EQ(address->text(), QString::number(kAddress));
  }
  EXPECT_EQ(Requests(), 0u);
}

TEST(AboutBoxTest, AltSpaceOnOkOpensOnlyTheSystemMenu) {
  CAboutDlg about;
  ASSERT_TRUE(about.Create());
  QWidget* ok = about.GetDlgItem(IDOK);
  ASSERT_EQ(about.GetSafeHwnd()->focusWidget(), ok);
  SystemMenuWatcher watcher;
  QTest::keyClick(ok, Qt::Key_Space, Qt::AltModifier);
  ASSERT_EQ(watcher.Menus().size(), 1u);
  EXPECT_EQ(watcher.Menus()[0].front(), "&Закрыть\tAlt+F4");
  EXPECT_FALSE(about.IsEnded());
}

TEST_F(AboutAndSystemMenuTest, ReadingTimerKeepsTickingBehindTheAboutBox) {
  OpenWindowOnMeter();
  // A short period stands in for the reading period: only the arrival of
  // ticks while the box is open matters here.
  dlg->SetTimer(POLL_TIMER_ID, 5);
  std::size_t before = 0;
  std::size_t whileOpen = 0;
  QTimer waiter;
  ModalWatcher watcher([&](QWidget* box) {
    before = Requests();
    QObject::connect(&waiter, &QTimer::timeout, [&, box] {
      whileOpen = Requests() - before;
      // One whole cycle behind the box is enough.
      if (whileOpen >= kParameters.size()) box->close();
    });
    waiter.start(5);
  });
  dlg->SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX);
  waiter.stop();
  EXPECT_GE(whileOpen, kParameters.size());
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(dlg->IsTimerSet(POLL_TIMER_ID));
  EXPECT_EQ(qobject_cast<QLineEdit*>(dlg->GetDlgItem(IDC_VOLUME_M3))->text(), "0.1234");
}

TEST(AboutBoxTest, TemplateTextsAndFocusOnOk) {
  CAboutDlg about;
  ASSERT_TRUE(about.Create());
  DialogWindow* box = about.GetSafeHwnd();
  EXPECT_EQ(box->windowTitle(), kAboutCaption);
  QPushButton* ok = OkButton(box);
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(box->focusWidget(), ok);
  EXPECT_EQ(about.GetDlgItem(IDOK), ok);
  QStringList labels;
  for (const QLabel* label : box->findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) labels << label->text();
  }
  ASSERT_EQ(labels.size(), 4);
  EXPECT_EQ(labels[0], "ZLM Reader 1.0");
}

// The icon control takes the size of its icon at the template's corner,
// so the whole 32x32 image shows.
TEST(AboutBoxTest, IconControlIsItsIconsSizeAtTheTemplateCorner) {
  QTemporaryDir dir;
  const QString path = dir.filePath("icon.png");
  QPixmap image(32, 32);
  image.fill(Qt::darkBlue);
  ASSERT_TRUE(image.save(path));
  SetIconResource(IDR_MAINFRAME, path);

  CAboutDlg about;
  ASSERT_TRUE(about.Create());
  DialogWindow* box = about.GetSafeHwnd();
  const QLabel* icon = nullptr;
  for (const QLabel* label : box->findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) icon = label;
  }
  ASSERT_NE(icon, nullptr);
  const QPoint corner =
      ToQRect(DialogUnitsToPixels(BaseUnitsOf(box->font()), 11, 17, 20, 20)).topLeft();
  EXPECT_EQ(icon->geometry(), QRect(corner, QSize(32, 32)));
  EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
  EXPECT_TRUE(icon->contentsRect().contains(QRect(QPoint(0, 0), icon->pixmap().size())));
  SetIconResource(IDR_MAINFRAME, QString());
}

TEST(AboutBoxTest, EndsOnOkEnterSpaceEscapeAndTheCloseButton) {
  struct Case {
    const char* name;
    std::function<void(QWidget* box)> act;
    int result;
  };
  const Case cases[] = {
      {"OK clicked", [](QWidget* box) { OkButton(box)->click(); }, IDOK},
      {"Enter", [](QWidget* box) { QTest::keyClick(box->focusWidget(), Qt::Key_Return); }, IDOK},
      {"keypad Enter",
       [](QWidget* box) { QTest::keyClick(box->focusWidget(), Qt::Key_Enter, Qt::KeypadModifier); },
       IDOK},
      {"Space on OK", [](QWidget* box) { QTest::keyClick(box->focusWidget(), Qt::Key_Space); },
       IDOK},
      {"Escape", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); }, IDCANCEL},
      {"close button", [](QWidget* box) { box->close(); }, IDCANCEL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CAboutDlg about;
    ModalWatcher watcher(c.act);
    EXPECT_EQ(about.DoModal(), c.result);
    EXPECT_EQ(watcher.Seen(), 1);
    EXPECT_EQ(about.GetSafeHwnd(), nullptr);
  }
}

}  // namespace
