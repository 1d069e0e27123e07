#include "bench/window_start.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>

#include "serial/linux_serial_port.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/reader_dlg.h"

namespace {

// Notes the time of the first paint event the window gets.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(const QElapsedTimer& clock) : m_clock(clock) {}
  double PaintedMs() const { return m_paintedMs; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && m_paintedMs < 0) {
      m_paintedMs = static_cast<double>(m_clock.nsecsElapsed()) / 1e6;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  const QElapsedTimer& m_clock;
  double m_paintedMs = -1;
};

}  // namespace

WindowStart MeasureWindowStart(const PortRoots& roots) {
  WindowStart result;
  LinuxSerialPort line(roots);
  QElapsedTimer clock;
  PaintWatch watch(clock);
  clock.start();
  {
    CReaderDlg dlg(line);
    // The window exists only inside Create(); the filter goes on the
    // application so the very first paint is seen.
    qApp->installEventFilter(&watch);
    dlg.Create();
    result.createMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    while (watch.PaintedMs() < 0 && clock.elapsed() < 5000) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    qApp->removeEventFilter(&watch);
    result.firstPaintMs = watch.PaintedMs();
    dlg.DestroyWindow();
  }
  return result;
}
