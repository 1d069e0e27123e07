#include "ui/reader_dlg.h"

#include <cstddef>
#include <string>
#include <vector>

#include "meter/link_format.h"
#include "meter/read_exchange.h"
#include "meter/reading_cycle.h"
#include "serial/port_discovery.h"
#include "ui/about_dlg.h"
#include "ui/framework/data_exchange.h"
#include "ui/framework/menu.h"
#include "ui/framework/resources.h"
#include "ui/read_status.h"
#include "ui/reader_dlg_template.h"
#include "ui/reading_timer.h"
#include "ui/resource.h"

namespace {

// The member each parameter lands in, in reading order.
constexpr double CReaderDlg::*kReadings[] = {
    &CReaderDlg::m_dVolumeM3,        &CReaderDlg::m_dVolumeL,  &CReaderDlg::m_dHours,
    &CReaderDlg::m_dFlowM3h,         &CReaderDlg::m_dFlowLmin, &CReaderDlg::m_dFlowPercent,
    &CReaderDlg::m_dNominalDiameter,
};
static_assert(std::size(kReadings) == kParameters.size());

}  // namespace

const MessageEntry CReaderDlg::messageEntries[] = {
    MapSysCommand<&CReaderDlg::OnSysCommand>(),
    MapPaint<&CReaderDlg::OnPaint>(),
    MapQueryDragIcon<&CReaderDlg::OnQueryDragIcon>(),
    MapDefault(WM_CANCELMODE),
    MapSelChange<&CReaderDlg::OnSelchangePort>(IDC_PORT_COMBO),
    MapTimer<&CReaderDlg::OnTimer>(),
    MapClicked<&CReaderDlg::OnClosePort>(IDC_CLOSE_PORT),
    MapClicked<&CReaderDlg::OnStartReading>(IDC_START_READING),
    MapClicked<&CReaderDlg::OnStopReading>(IDC_STOP_READING),
    MapDestroy<&CReaderDlg::OnDestroy>(),
    MapDefault(WM_CAPTURECHANGED),
};

const MessageMap CReaderDlg::messageMap{&CDialog::messageMap, messageEntries};

const MessageMap* CReaderDlg::GetMessageMap() const { return &messageMap; }

CReaderDlg::CReaderDlg(SerialPort& line, CWnd* pParent)
    : CDialog(kReaderDialogTemplate, pParent),
      m_hIcon(LoadIconResource(IDR_MAINFRAME)),
      m_pLine(&line) {}

CReaderDlg::~CReaderDlg() = default;

void CReaderDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PORT_COMBO, m_cbPorts);
  DDX_Text(pDX, IDC_ADDRESS, m_nAddress);
  DDX_Text(pDX, IDC_VOLUME_M3, m_dVolumeM3);
  DDX_Text(pDX, IDC_NOMINAL_DIAMETER, m_dNominalDiameter);
  DDX_Text(pDX, IDC_HOURS, m_dHours);
  DDX_Text(pDX, IDC_VOLUME_L, m_dVolumeL);
  DDX_Text(pDX, IDC_FLOW_LMIN, m_dFlowLmin);
  DDX_Text(pDX, IDC_FLOW_M3H, m_dFlowM3h);
  DDX_Text(pDX, IDC_FLOW_PERCENT, m_dFlowPercent);
}

BOOL CReaderDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
    const std::string strAboutMenu = LoadStringResource(IDS_ABOUTBOX);
    if (!strAboutMenu.empty()) {
      pSysMenu->AppendMenu(MF_SEPARATOR);
      pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu.c_str());
    }
  }

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  ScanPorts();
  return TRUE;
}

void CReaderDlg::OnSysCommand(UINT nID, LPARAM) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout(this);
    dlgAbout.DoModal();
  } else {
    Default();
  }
}

// The controls paint themselves and the platform erases the background.
void CReaderDlg::OnPaint() {}

HICON CReaderDlg::OnQueryDragIcon() { return m_hIcon; }

void CReaderDlg::OnCancel() {
  ClosePort();
  CDialog::OnCancel();
}

void CReaderDlg::ScanPorts() {
  while (m_cbPorts.GetCount() > 0) m_cbPorts.DeleteString(0);
  const std::vector<int> freePorts = ScanFreePorts(*m_pLine);
  for (const int number : freePorts) m_cbPorts.AddString(PortEntryText(number));
  if (freePorts.empty()) m_cbPorts.AddString(kPortsBusyEntry);
  UpdateData(FALSE);
}

void CReaderDlg::OpenSelectedPort() {
  const std::string entry = m_cbPorts.GetLBText(m_cbPorts.GetCurSel());
  const int number = PortNumberFromEntry(entry);
  m_hPort = m_pLine->CreateFile(ComDevicePath(number));
  if (m_hPort == INVALID_HANDLE_VALUE) {
    MessageBox(kMsgNoFreePort, kErrorCaption, MB_ICONERROR);
    return;
  }
  ApplyBaseline(*m_pLine, m_hPort);
}

void CReaderDlg::ClosePort() {
  if (m_hPort != INVALID_HANDLE_VALUE) m_pLine->CloseHandle(m_hPort);
  m_hPort = INVALID_HANDLE_VALUE;
}

void CReaderDlg::OnSelchangePort() {
  // A port opened by an earlier choice is released first, so no handle is
  // ever lost holding a port against every program until exit.
  ClosePort();
  OpenSelectedPort();
}

void CReaderDlg::OnClosePort() {
  UpdateData(TRUE);
  ClosePort();
  ScanPorts();
}

void CReaderDlg::FailRead(const char* text) {
  // The timer stops before the box opens, so no tick arrives behind it.
  KillTimer(POLL_TIMER_ID);
  g_nReadStatus = READ_FAILED;
  MessageBox(text, kErrorCaption, MB_ICONERROR);
}

void CReaderDlg::ReadParameter(int code, double& rawValue, int& position) {
  UpdateData(TRUE);
  g_nReadStatus = 0;
  if (!IsValidMeterAddress(m_nAddress)) {
    FailRead(kMsgIncorrectAddress);
    return;
  }

  const ReceiveResult received = SendRequest(*m_pLine, m_hPort, m_nAddress, code);
  if (received.error) {
    FailRead(received.error);
    return;
  }

  UpdateData(TRUE);
  const ExchangeResult answer = DecodeAnswer(received);
  if (!answer.positionDecoded) {
    FailRead(answer.error);
    return;
  }
  UpdateData(FALSE);
  UpdateData(TRUE);

  position = answer.position;
  if (answer.error) {
    FailRead(answer.error);
    return;
  }
  rawValue = static_cast<double>(answer.value);
}

void CReaderDlg::OnStartReading() { SetTimer(POLL_TIMER_ID, kPollPeriodMs, nullptr); }

void CReaderDlg::OnStopReading() {
  KillTimer(POLL_TIMER_ID);
  g_nReadStatus = 0;
}

void CReaderDlg::OnTimer(UINT_PTR) {
  UpdateData(TRUE);
  for (std::size_t row = 0; row < kParameters.size(); ++row) {
    double rawValue = 0.0;
    int position = 0;
    ReadParameter(kParameters[row].code, rawValue, position);
    if (g_nReadStatus == READ_FAILED) {
      KillTimer(POLL_TIMER_ID);
      return;
    }
    this->*kReadings[row] = ScaleValue(rawValue, position);
    UpdateData(FALSE);
    if (row + 1 < kParameters.size()) UpdateData(TRUE);
  }
}
