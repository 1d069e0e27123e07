// Renders the main window after one successful reading cycle, and the About
// box, to PNG files, using the simulated line and meter. Works on any Qt
// platform: offscreen without a display, or a real window under X.
//
//   zlm-screenshot [output-dir]     (default: the current directory)

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "meter/reading_cycle.h"
#include "sim/sim_serial_port.h"
#include "ui/about_dlg.h"
#include "ui/framework/dialog_window.h"
#include "ui/reader_dlg.h"
#include "ui/resource.h"

namespace {

bool Save(QWidget* window, const QString& path) {
  // Let the window system map and paint the window first.
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  const bool ok = window->grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
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

  CAboutDlg about(&dlg);
  about.Create();
  ok = Save(about.GetSafeHwnd(), outDir + QStringLiteral("/about-box.png")) && ok;
  return ok ? 0 : 1;
}
