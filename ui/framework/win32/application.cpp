// The application over the platform: the entry and the message loop.

#include <filesystem>
#include <string>

#include "ui/framework/win_app.h"
#include "ui/framework/wnd.h"

namespace {

std::string ProgramName(int argc, char** argv) {
  std::filesystem::path path;
  if (argc > 0 && argv[0] && *argv[0]) path = argv[0];
  std::string name = path.stem().string();
  return name.empty() ? std::string("app") : name;
}

}  // namespace

int CWinApp::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // The dialog keyboard (Tab, Enter, Escape, mnemonics) of the main window.
    const HWND main = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
    if (main && IsDialogMessageW(main, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return ExitInstance();
}

int AfxWinMain(int argc, char** argv) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  if (app->m_strAppName.empty()) app->m_strAppName = ProgramName(argc, argv);
  return app->InitInstance() ? app->Run() : app->ExitInstance();
}
