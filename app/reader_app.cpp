#include "app/reader_app.h"

#include <cstdio>

#include "meter/line_trace.h"
#include "serial/platform_serial_port.h"
#include "ui/reader_dlg.h"

const AppCommandEntry CReaderApp::messageEntries[] = {
    MapAppCommand<&CWinApp::OnHelp>(ID_HELP),
};

const AppCommandMap CReaderApp::messageMap{&CWinApp::messageMap, messageEntries};

const AppCommandMap* CReaderApp::GetMessageMap() const { return &messageMap; }

CReaderApp::CReaderApp() = default;

CReaderApp::~CReaderApp() = default;

CReaderApp theApp;

BOOL CReaderApp::InitInstance() {
  AfxEnableControlContainer();
  Enable3dControls();

  // ZLM_TRACE names a file that gets every line operation; the window
  // itself shows and does nothing different.
  PlatformSerialPort device;
  TracedLine line(device, TracePathOf({}), "zlm-reader");
  if (!line.Error().empty())
    std::fprintf(stderr, "zlm-reader: no trace: %s\n", line.Error().c_str());
  CReaderDlg dlg(line.Line());
  m_pMainWnd = &dlg;
  // IDOK and IDCANCEL end the program alike; so does a window that could
  // not be built.
  dlg.DoModal();

  // No message loop of the application's own: the program ends here.
  return FALSE;
}
