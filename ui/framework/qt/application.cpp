// The application over Qt: the QApplication, the message loop, the help key
// and the close signals.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/win_app.h"
#include "ui/framework/wnd.h"

namespace {

// The program's file name, from argv[0] or else the running executable.
std::string ProgramName(int argc, char** argv) {
  std::filesystem::path path;
  if (argc > 0 && argv[0] && *argv[0]) {
    path = argv[0];
  } else {
    std::error_code error;
    path = std::filesystem::read_symlink("/proc/self/exe", error);
  }
  std::string name = path.filename().string();
  return name.empty() ? std::string("app") : name;
}

// Qt picks the platform from QT_QPA_PLATFORM, else from the session's
// display variables. With none of them it could only fail inside Qt.
bool DisplayConfigured() {
  for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return true;
  }
  return false;
}

// While Qt sets up its platform, its messages are held back: a platform
// that cannot start ends the program with one line naming the first cause
// instead of Qt's multi-line report and an abort. On success the held
// messages are passed on as they came.
struct StartupMessages {
  std::string program;
  std::vector<std::pair<QtMsgType, QString>> held;
  QtMessageHandler previous = nullptr;
};
StartupMessages* g_startup = nullptr;

void HoldStartupMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    g_startup->held.emplace_back(type, text);
    return;
  }
  const QString cause = g_startup->held.empty() ? text : g_startup->held.front().second;
  std::fprintf(stderr, "%s: cannot open a window: %s\n", g_startup->program.c_str(),
               qPrintable(cause.section(QLatin1Char('\n'), 0, 0).trimmed()));
  std::fflush(stderr);
  std::_Exit(1);
}

std::unique_ptr<QApplication> MakeApplication(const std::string& program) {
  // Qt takes options of its own from argv; it gets only the program name.
  static std::string name;
  static char* argv[2];
  static int argc = 1;
  name = program;
  argv[0] = name.data();
  argv[1] = nullptr;

  StartupMessages startup{program, {}, nullptr};
  g_startup = &startup;
  startup.previous = qInstallMessageHandler(HoldStartupMessage);
  auto app = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(startup.previous);
  g_startup = nullptr;
  for (const auto& [type, text] : startup.held) {
    if (startup.previous) {
      startup.previous(type, QMessageLogContext(), text);
    } else {
      std::fprintf(stderr, "%s\n", qPrintable(text));
    }
  }
  return app;
}

// F1 anywhere in the program is the help command of the application.
class HelpKeyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier && AfxGetApp()) {
        AfxGetApp()->OnCmdMsg(ID_HELP);
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }
};

// SIGTERM and SIGINT close the program the way its close command does, so
// the main window's cancel path runs (it releases the port) and the program
// ends normally. The handler only writes to a pipe; the event loop does the
// rest. A second signal takes the default action.
int g_signalPipe[2] = {-1, -1};
constexpr int kCloseSignals[] = {SIGTERM, SIGINT};

void OnCloseSignal(int signalNumber) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
  signal(signalNumber, SIG_DFL);
  errno = savedErrno;
}

void CloseAllWindows() {
  CWnd* main = AfxGetApp() ? AfxGetApp()->m_pMainWnd : nullptr;
  const QWidget* mainWindow = main ? main->GetSafeHwnd() : nullptr;
  // Open menus and modal boxes above the main window first: their loops
  // must end for the main window's loop to return.
  for (int open = 0; open < 16 && QApplication::activePopupWidget(); ++open) {
    QApplication::activePopupWidget()->close();
  }
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog && dialog != mainWindow && dialog->isVisible() && dialog->isModal()) {
      dialog->reject();
    }
  }
  if (main) {
    main->SendMessage(WM_SYSCOMMAND, SC_CLOSE);
  } else {
    QCoreApplication::quit();
  }
}

class CloseSignals {
 public:
  CloseSignals() {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_notifier.emplace(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&*m_notifier, &QSocketNotifier::activated, [] {
      char bytes[16];
      while (read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
      }
      CloseAllWindows();
    });
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kCloseSignals); ++i) {
      sigaction(kCloseSignals[i], &action, &m_previous[i]);
    }
  }
  ~CloseSignals() {
    if (!m_notifier) return;
    for (std::size_t i = 0; i < std::size(kCloseSignals); ++i) {
      sigaction(kCloseSignals[i], &m_previous[i], nullptr);
    }
    m_notifier.reset();
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
  }
  CloseSignals(const CloseSignals&) = delete;
  CloseSignals& operator=(const CloseSignals&) = delete;

 private:
  std::optional<QSocketNotifier> m_notifier;
  struct sigaction m_previous[std::size(kCloseSignals)]{};
};

}  // namespace

int CWinApp::Run() {
  QApplication::exec();
  return ExitInstance();
}

int AfxWinMain(int argc, char** argv) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  if (app->m_strAppName.empty()) app->m_strAppName = ProgramName(argc, argv);

  std::unique_ptr<QApplication> ownApplication;
  if (!QCoreApplication::instance()) {
    if (!DisplayConfigured()) {
      std::fprintf(
          stderr,
          "%s: cannot open a window: no display (DISPLAY and WAYLAND_DISPLAY are not set)\n",
          app->m_strAppName.c_str());
      return 1;
    }
    ownApplication = MakeApplication(ProgramName(argc, argv));
  }
  QCoreApplication::setApplicationName(QString::fromStdString(app->m_strAppName));

  int result = 0;
  {
    HelpKeyFilter helpKey;
    qApp->installEventFilter(&helpKey);
    const CloseSignals closeSignals;
    result = app->InitInstance() ? app->Run() : app->ExitInstance();
    qApp->removeEventFilter(&helpKey);
  }
  return result;
}
