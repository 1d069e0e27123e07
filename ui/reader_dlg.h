#pragma once

#include "serial/serial_port.h"
#include "ui/framework/combo_box.h"
#include "ui/framework/dialog.h"

// The main window: the port list, the meter address, the seven readings,
// and the handlers that scan and open ports and run the reading cycle.
class CReaderDlg : public CDialog {
 public:
  // line: every port operation of the window goes through it.
  explicit CReaderDlg(SerialPort& line, CWnd* pParent = nullptr);
  // Releases the members only: an open port stays open (the process ends
  // right after and frees it).
  ~CReaderDlg() override;

  HANDLE m_hPort = INVALID_HANDLE_VALUE;
  CComboBox m_cbPorts;
  int m_nAddress = 0;
  double m_dVolumeM3 = 0.0;
  double m_dNominalDiameter = 0.0;
  double m_dHours = 0.0;
  double m_dVolumeL = 0.0;
  double m_dFlowLmin = 0.0;
  double m_dFlowM3h = 0.0;
  double m_dFlowPercent = 0.0;
  HICON m_hIcon = nullptr;

  void ScanPorts();
  void OpenSelectedPort();
  void ClosePort();
  // One exchange with the meter; the outcome is in g_nReadStatus (ui/read_status.h).
  void ReadParameter(int code, double& rawValue, int& position);

 protected:
  const MessageMap* GetMessageMap() const override;
  static const MessageMap messageMap;

  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnCancel() override;

  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnPaint();
  HICON OnQueryDragIcon();
  void OnSelchangePort();
  void OnTimer(UINT_PTR nIDEvent);
  void OnClosePort();
  void OnStartReading();
  void OnStopReading();

 private:
  static const MessageEntry messageEntries[];

  void FailRead(const char* text);

  SerialPort* m_pLine;
};
