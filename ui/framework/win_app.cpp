#include "ui/framework/win_app.h"

namespace {

CWinApp* g_pApp = nullptr;

}  // namespace

const AppCommandMap CWinApp::messageMap{nullptr, {}};

const AppCommandMap* CWinApp::GetMessageMap() const { return &messageMap; }

CWinApp::CWinApp(const char* lpszAppName) : m_strAppName(lpszAppName ? lpszAppName : "") {
  if (!g_pApp) g_pApp = this;
}

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

BOOL CWinApp::Enable3dControls() { return TRUE; }

BOOL CWinApp::OnCmdMsg(UINT nID) {
  for (const AppCommandMap* map = GetMessageMap(); map; map = map->base) {
    for (const AppCommandEntry& entry : map->entries) {
      if (entry.id == nID) {
        entry.thunk(this);
        return TRUE;
      }
    }
  }
  return FALSE;
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() { return g_pApp; }

void AfxEnableControlContainer() {}

void AfxWindowDestroyed(const CWnd* wnd) {
  if (g_pApp && g_pApp->m_pMainWnd == wnd) g_pApp->m_pMainWnd = nullptr;
}
