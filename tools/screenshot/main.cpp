// Renders the main window after one successful reading cycle, its system
// menu and the About box to PNG files, with the program's own resources and
// the simulated line and meter. Works on any Qt platform: offscreen without
// a display, or real windows under X.
//
//   zlm-screenshot [output-dir]     (default: the current directory)
//     writes main-window.png, system-menu.png and about-box.png
//   zlm-screenshot --grab-window WINDOW-ID FILE.png
//     (under X) saves the window of another program, e.g. the real
//     zlm-reader, as it is on the screen

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/app_resources.h"
#include "meter/reading_cycle.h"
#include "sim/sim_serial_port.h"
#include "ui/about_dlg.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/reader_dlg.h"
#include "ui/reading_timer.h"
#include "ui/resource.h"

namespace {

bool Save(QWidget* window, const QString& path) {
  // Let the window system map and paint the window first.
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  const bool ok = window->grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

// Opens the window's system menu, saves it once it is painted, closes it.
bool SaveSystemMenu(CReaderDlg& dlg, const QString& path) {
  bool ok = false;
  QTimer::singleShot(0, [&] {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      ok = Save(popup, path);
      popup->close();
    }
  });
  DialogWindow* window = dlg.GetSafeHwnd();
  window->ShowSystemMenu(window->mapToGlobal(QPoint(0, 0)));
  if (!ok) std::printf("could not write %s\n", qPrintable(path));
  return ok;
}

int GrabWindow(const char* id, const char* path) {
  bool numeric = false;
  const WId window = QString::fromLatin1(id).toULongLong(&numeric, 0);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!numeric || !screen) {
    std::fprintf(stderr, "zlm-screenshot: no window %s to grab\n", id);
    return 1;
  }
  const bool ok = screen->grabWindow(window).save(QString::fromLocal8Bit(path), "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "could not write", path);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "--grab-window") == 0) return GrabWindow(argv[2], argv[3]);
  RegisterAppResources();
  const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  QDir().mkpath(outDir);

  SimSerialPort line;
  line.AddPort(1);
  line.AddPort(3);
  ZlmMeter& meter = line.AttachMeter(3, 1);
  // Value N with P digits before the decimal point.
  meter.SetValue(1, 12345670, 5);  // 12345.67 m3
  meter.SetValue(2, 12345670, 8);  // 12345670 l
  meter.SetValue(3, 87654320, 5);  // 87654.32 h
  meter.SetValue(4, 12540000, 2);  // 12.54 m3/h
  meter.SetValue(6, 20900000, 3);  // 209 l/min
  meter.SetValue(5, 62700000, 2);  // 62.7 %
  meter.SetValue(119, 50, 8);      // 50 mm

  CReaderDlg dlg(line);
  dlg.Create();
  auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_PORT_COMBO));
  const int index = combo->findText(QStringLiteral("COM3"));
  combo->setCurrentIndex(index);
  emit combo->activated(index);
  qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_ADDRESS))->setText(QStringLiteral("255"));
  dlg.SendMessage(WM_TIMER, POLL_TIMER_ID);

  bool ok = Save(dlg.GetSafeHwnd(), outDir + QStringLiteral("/main-window.png"));
  ok = SaveSystemMenu(dlg, outDir + QStringLiteral("/system-menu.png")) && ok;

  CAboutDlg about(&dlg);
  about.Create();
  ok = Save(about.GetSafeHwnd(), outDir + QStringLiteral("/about-box.png")) && ok;
  return ok ? 0 : 1;
}
