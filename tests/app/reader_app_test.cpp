#include "app/reader_app.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/app_resources.h"
#include "app/version_info.h"
#include "tests/support/modal_watcher.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scratch_dir.h"
#include "ui/framework/menu.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/resources.h"
#include "ui/framework/wnd.h"
#include "ui/resource.h"

namespace {

constexpr char kMainCaption[] = "ZLM Reader V1.0";

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int OpaqueColours(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  QSet<QRgb> colours;
  for (int y = 0; y < argb.height(); ++y) {
    for (int x = 0; x < argb.width(); ++x) {
      if (qAlpha(argb.pixel(x, y)) == 255) colours.insert(argb.pixel(x, y));
    }
  }
  return static_cast<int>(colours.size());
}

// Runs act on the program's main window once its modal loop shows it; the
// window must be ended by act.
class MainWindowDriver {
 public:
  explicit MainWindowDriver(std::function<void(QWidget*)> act)
      : m_act(std::move(act)), m_watcher([this](QWidget* modal) {
          if (m_done) return;
          m_done = true;
          m_title = modal->windowTitle().toStdString();
          m_mainWndWasThisWindow =
              theApp.m_pMainWnd && theApp.m_pMainWnd->GetSafeHwnd() == static_cast<QWidget*>(modal);
          m_icon = modal->windowIcon();
          m_act(modal);
        }) {}
  const std::string& Title() const { return m_title; }
  bool MainWndWasThisWindow() const { return m_mainWndWasThisWindow; }
  const QIcon& Icon() const { return m_icon; }

 private:
  std::function<void(QWidget*)> m_act;
  bool m_done = false;
  std::string m_title;
  bool m_mainWndWasThisWindow = false;
  QIcon m_icon;
  ModalWatcher m_watcher;
};

// The program's start-up scan sees only a scratch system root and port
// directory, never the machine's serial devices: its /dev holds one device
// named like a USB adapter, a pseudo-terminal the test made.
class ScratchSystem {
 public:
  ScratchSystem() {
    for (const char* dir : {"system/dev", "system/sys", "system/run/lock", "config"}) {
      std::filesystem::create_directories(m_base / dir);
    }
    if (!m_pty.Ok()) std::abort();
    std::filesystem::create_symlink(m_pty.Slave(), m_base / "system/dev/ttyUSB0");
    ::setenv("ZLM_SYSTEM_ROOT", (m_base / "system").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (m_base / "config").c_str(), 1);
  }

 private:
  ScratchDir m_base{"zlm-app"};
  PtyPair m_pty;
};

class ReaderAppTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    RegisterAppResources();
    system = new ScratchSystem;
  }
  static void TearDownTestSuite() {
    delete system;
    system = nullptr;
  }

 private:
  static ScratchSystem* system;
};

ScratchSystem* ReaderAppTest::system = nullptr;

TEST_F(ReaderAppTest, TheOneApplicationObjectBindsHelpOnly) {
  EXPECT_EQ(AfxGetApp(), &theApp);
  EXPECT_TRUE(theApp.OnCmdMsg(ID_HELP));
  for (const UINT other : {0u, 1u, 2u, 0xE140u, 0xE147u}) EXPECT_FALSE(theApp.OnCmdMsg(other));
}

TEST_F(ReaderAppTest, StringTableAndIconGroup128AreRegistered) {
  EXPECT_EQ(LoadStringResource(IDS_ABOUTBOX), "&About Tellap1...");
  const HICON icon = LoadIconResource(IDR_MAINFRAME);
  ASSERT_NE(icon, nullptr);
  const QList<QSize> sizes = icon->availableSizes();
  EXPECT_EQ(QSet<QSize>(sizes.begin(), sizes.end()), QSet<QSize>({QSize(32, 32), QSize(16, 16)}));
  for (const QSize& size : sizes) {
    const QImage image = icon->pixmap(size).toImage();
    EXPECT_EQ(image.size(), size);
    EXPECT_LE(OpaqueColours(image), 16) << size.width();
    EXPECT_GE(OpaqueColours(image), 4) << size.width();
  }
}

TEST_F(ReaderAppTest, IconFileHoldsTwoImagesOf4BitsPerPixel) {
  const QByteArray ico = ReadAll(kAppIconPath);
  ASSERT_GE(ico.size(), 6 + 2 * 16);
  const auto* data = reinterpret_cast<const uchar*>(ico.constData());
  EXPECT_EQ(qFromLittleEndian<quint16>(data + 2), 1);  // an icon, not a cursor
  ASSERT_EQ(qFromLittleEndian<quint16>(data + 4), 2);
  const int sides[] = {32, 16};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(sides[i]);
    const uchar* entry = data + 6 + 16 * i;
    EXPECT_EQ(entry[0], sides[i]);
    EXPECT_EQ(entry[1], sides[i]);
    EXPECT_EQ(entry[2], 16);  // colours
    EXPECT_EQ(qFromLittleEndian<quint16>(entry + 6), 4);
    const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
    ASSERT_LE(offset + 40, static_cast<quint32>(ico.size()));
    EXPECT_EQ(qFromLittleEndian<quint16>(data + offset + 14), 4);  // bitmap bits per pixel
  }
}

TEST_F(ReaderAppTest, VersionInformationInMetadataBinaryAndDesktopEntry) {
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"CompanyName", ""},
      {"FileDescription", "Tellap1 MFC Application"},
      {"FileVersion", "1, 0, 0, 1"},
      {"InternalName", "Tellap1"},
      {"LegalTrademarks", ""},
      {"OriginalFilename", "Tellap1.EXE"},
      {"ProductName", "Tellap1 Application"},
      {"ProductVersion", "1, 0, 0, 1"},
  };
  std::vector<std::pair<std::string, std::string>> table;
  for (const VersionString& entry : kVersionStrings) table.emplace_back(entry.key, entry.value);
  EXPECT_EQ(table, expected);
  EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0.0.1");

  const QByteArray binary = ReadAll(ZLM_READER_PATH);
  const QByteArray desktop = ReadAll(ZLM_DESKTOP_ENTRY);
  ASSERT_FALSE(binary.isEmpty());
  ASSERT_FALSE(desktop.isEmpty());
  for (const auto& [key, value] : expected) {
    SCOPED_TRACE(key);
    const QByteArray line = QByteArray::fromStdString(key + "=" + value);
    EXPECT_TRUE(binary.contains(QByteArray("040904B0/") + line + '\0'));
    EXPECT_TRUE(desktop.contains(QByteArray("\nX-Version-") + line + '\n'));
  }
  for (const char* text :
       {"FileVersion=1.0.0.1", "ProductVersion=1.0.0.1", "VarFileInfo/Translation=0x0409 0x04B0"}) {
    EXPECT_TRUE(binary.contains(QByteArray(text) + '\0')) << text;
  }

  // The fixed part beside the numbers: no flag set, 32-bit Windows, an
  // application.
  const std::vector<std::pair<std::string, std::uint32_t>> fixed = {
      {"FileFlagsMask", 0x3F}, {"FileFlags", 0}, {"FileOS", 4}, {"FileType", 1}, {"FileSubtype", 0},
  };
  std::vector<std::pair<std::string, std::uint32_t>> fixedTable;
  for (const VersionNumber& entry : kVersionFixed) fixedTable.emplace_back(entry.key, entry.value);
  EXPECT_EQ(fixedTable, fixed);
  for (const char* line :
       {"FileFlagsMask=0x3F", "FileFlags=0x0", "FileOS=0x4", "FileType=0x1", "FileSubtype=0x0"}) {
    EXPECT_TRUE(binary.contains(QByteArray(line) + '\0')) << line;
    EXPECT_TRUE(desktop.contains(QByteArray("\nX-Version-") + line + '\n')) << line;
  }
  for (const char* line : {"Name=ZLM Reader", "Name[ru]=", "Comment=", "Icon=zlm-reader",
                           "Exec=zlm-reader", "Categories=", "Type=Application"}) {
    EXPECT_TRUE(desktop.contains(QByteArray("\n") + line)) << line;
  }
}

TEST_F(ReaderAppTest, InitInstanceRunsTheMainWindowAndReturnsFalseHoweverItEnds) {
  struct Case {
    const char* name;
    std::function<void(QWidget*)> end;
  };
  const Case cases[] = {
      {"Escape", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }},
      {"Cancel button", [](QWidget* w) { QTest::keyClick(w->focusWidget(), Qt::Key_Space); }},
      {"close button", [](QWidget* w) { w->close(); }},
      {"Enter in the address field",
       [](QWidget* w) {
         auto* address = static_cast<DialogWindow*>(w)->Control(IDC_ADDRESS);
         address->setFocus();
         QTest::keyClick(address, Qt::Key_Return);
       }},
      {"close command", [](QWidget*) { theApp.m_pMainWnd->SendMessage(WM_SYSCOMMAND, SC_CLOSE); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MainWindowDriver driver(c.end);
    EXPECT_EQ(theApp.InitInstance(), FALSE);
    EXPECT_EQ(driver.Title(), kMainCaption);
    EXPECT_TRUE(driver.MainWndWasThisWindow());
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
  }
}

TEST_F(ReaderAppTest, StartUpScanReachesOnlyTheTestsDevices) {
  QStringList entries;
  MainWindowDriver driver([&](QWidget* w) {
    const auto* list = qobject_cast<QComboBox*>(theApp.m_pMainWnd->GetDlgItem(IDC_PORT_COMBO));
    for (int i = 0; list != nullptr && i < list->count(); ++i) entries << list->itemText(i);
    QTest::keyClick(w, Qt::Key_Escape);
  });
  EXPECT_EQ(theApp.InitInstance(), FALSE);
  EXPECT_EQ(entries, QStringList{"COM1"});
}

TEST_F(ReaderAppTest, MainWindowShowsTheIconAndTheAboutEntry) {
  std::vector<std::string> menu;
  bool aboutIconShown = false;
  MainWindowDriver driver([&](QWidget* w) {
    CMenu* sysMenu = theApp.m_pMainWnd->GetSystemMenu(FALSE);
    for (int i = 0; i < sysMenu->GetMenuItemCount(); ++i) {
      menu.push_back(sysMenu->GetMenuString(i));
    }
    QTimer::singleShot(0, [&] {
      QWidget* about = QApplication::activeModalWidget();
      for (const QLabel* label : about->findChildren<QLabel*>()) {
        aboutIconShown = aboutIconShown || !label->pixmap().isNull();
      }
      QTest::keyClick(about, Qt::Key_Escape);
      QTimer::singleShot(0, [w] { QTest::keyClick(w, Qt::Key_Escape); });
    });
    theApp.m_pMainWnd->SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX);
  });
  EXPECT_EQ(theApp.InitInstance(), FALSE);
  ASSERT_EQ(menu.size(), 3u);
  EXPECT_EQ(menu[2], "&About Tellap1...");
  const QList<QSize> sizes = driver.Icon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(aboutIconShown);
}

TEST_F(ReaderAppTest, FrameworkEntryIgnoresArgumentsTakesF1AndReturnsItsExitCode) {
  std::string programName = "zlm-reader";
  std::string args[] = {"-platform", "minimal", "--help", "-geometry", "1x1", "-reverse"};
  std::vector<char*> argv = {programName.data()};
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  bool stillOpenAfterF1 = false;
  bool nothingOpenedByF1 = false;
  MainWindowDriver driver([&](QWidget* w) {
    QTest::keyClick(w, Qt::Key_F1);
    stillOpenAfterF1 = w->isVisible();
    nothingOpenedByF1 =
        QApplication::activeModalWidget() == w && QApplication::activePopupWidget() == nullptr;
    QTest::keyClick(w, Qt::Key_Escape);
  });
  EXPECT_EQ(AfxWinMain(static_cast<int>(argv.size()) - 1, argv.data()), 0);
  EXPECT_EQ(driver.Title(), kMainCaption);
  EXPECT_TRUE(stillOpenAfterF1);
  EXPECT_TRUE(nothingOpenedByF1);
  EXPECT_EQ(QGuiApplication::platformName(), "offscreen");
  EXPECT_FALSE(QGuiApplication::isRightToLeft());
  EXPECT_EQ(QCoreApplication::applicationName(), "zlm-reader");
}

}  // namespace
