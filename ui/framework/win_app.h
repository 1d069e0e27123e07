#pragma once

#include <span>
#include <string>

#include "ui/framework/message_map.h"
#include "ui/framework/win_defs.h"

class CWinApp;
class CWnd;

// One row of an application's command table: a WM_COMMAND id and the member
// that handles it. Lookup walks from the most derived table to its bases.
using AppCommandThunk = void (*)(CWinApp* app);

struct AppCommandEntry {
  UINT id;
  AppCommandThunk thunk;
};

struct AppCommandMap {
  const AppCommandMap* base;
  std::span<const AppCommandEntry> entries;
};

// void OnX() of the application class for command id.
template <auto F>
constexpr AppCommandEntry MapAppCommand(UINT id) {
  return {id, [](CWinApp* app) { (static_cast<message_map_detail::ClassOf<F>*>(app)->*F)(); }};
}

// The application object: exactly one per process, a global object that
// exists before AfxWinMain runs. AfxWinMain makes the Qt application, calls
// InitInstance, and runs the message loop only when InitInstance returns
// TRUE; either way ExitInstance gives the process its exit code.
class CWinApp {
 public:
  // lpszAppName: nullptr takes the program's file name.
  explicit CWinApp(const char* lpszAppName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  // The message loop; returns ExitInstance's result when it ends.
  virtual int Run();
  // The process exit code: 0.
  virtual int ExitInstance();

  // Dialog controls look the same either way here: nothing to switch on.
  BOOL Enable3dControls();

  // Sends a command through the command table: TRUE when a row took it.
  // F1 in any window of the program arrives here as ID_HELP.
  BOOL OnCmdMsg(UINT nID);

  // The program ships no help content: the help command does nothing.
  void OnHelp();

  // The program's name; Qt's application name.
  std::string m_strAppName;
  // The window whose end ends the program; cleared when that window is
  // destroyed. Closing the process by SIGTERM or SIGINT sends it the close
  // command.
  CWnd* m_pMainWnd = nullptr;

 protected:
  virtual const AppCommandMap* GetMessageMap() const;
  // The base table is empty: an application binds the commands it wants.
  static const AppCommandMap messageMap;
};

// The application object, or nullptr before it is constructed.
CWinApp* AfxGetApp();

// Dialog templates here hold no embedded controls that need a container:
// nothing to set up.
void AfxEnableControlContainer();

// The framework's entry: command-line arguments are accepted and ignored
// (none reaches Qt either). Without a display it prints one line to stderr
// and returns 1. Uses the QApplication that already exists, if any.
int AfxWinMain(int argc, char** argv);

// Called by the window layer when a window is destroyed.
void AfxWindowDestroyed(const CWnd* wnd);
