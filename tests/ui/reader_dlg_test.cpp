#include "ui/reader_dlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <clocale>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "meter/read_exchange.h"
#include "meter/reading_cycle.h"
#include "platform/number_text.h"
#include "sim/sim_serial_port.h"
#include "tests/support/message_box_recorder.h"
#include "ui/framework/message_box_hook.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/read_status.h"
#include "ui/reading_timer.h"
#include "ui/resource.h"

namespace {

constexpr int kPort = 3;
constexpr int kAddress = 5;

// The meter's values and where each must land, in reading order.
struct Expected {
  int32_t code;
  int32_t n;
  int32_t p;
  int field;
  double CReaderDlg::*member;
  const char* text;
};
constexpr Expected kCycle[] = {
    {1, 123456, 4, IDC_VOLUME_M3, &CReaderDlg::m_dVolumeM3, "12.3456"},
    {2, 12345678, 8, IDC_VOLUME_L, &CReaderDlg::m_dVolumeL, "12345678"},
    {3, 4321, 6, IDC_HOURS, &CReaderDlg::m_dHours, "43.21"},
    {4, 1500, 5, IDC_FLOW_M3H, &CReaderDlg::m_dFlowM3h, "1.5"},
    {6, 2500, 6, IDC_FLOW_LMIN, &CReaderDlg::m_dFlowLmin, "25"},
    {5, 99999999, 2, IDC_FLOW_PERCENT, &CReaderDlg::m_dFlowPercent, "99.999999"},
    {119, 50, 8, IDC_NOMINAL_DIAMETER, &CReaderDlg::m_dNominalDiameter, "50"},
};

class ReaderDlgTest : public ::testing::Test {
 public:
  void SetUp() override { g_nReadStatus = 0; }
  void TearDown() override { dlg.reset(); }

  // A window over a line with a meter at kAddress on port kPort.
  CReaderDlg& OpenWindow() {
    dlg = std::make_unique<CReaderDlg>(line);
    EXPECT_TRUE(dlg->Create());
    return *dlg;
  }
  ZlmMeter& MeterWithCycleValues() {
    line.AddPort(kPort);
    ZlmMeter& meter = line.AttachMeter(kPort, kAddress);
    for (const Expected& e : kCycle) EXPECT_TRUE(meter.SetValue(e.code, e.n, e.p));
    return meter;
  }
  // The window with port kPort selected and the meter's address typed.
  CReaderDlg& ReadyToRead() {
    MeterWithCycleValues();
    CReaderDlg& d = OpenWindow();
    Select("COM3");
    Edit(IDC_ADDRESS)->setText(QString::number(kAddress));
    return d;
  }

  QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id)); }
  QComboBox* Combo() { return qobject_cast<QComboBox*>(dlg->GetDlgItem(IDC_PORT_COMBO)); }
  QStringList Entries() {
    QStringList shown;
    for (int i = 0; i < Combo()->count(); ++i) shown << Combo()->itemText(i);
    return shown;
  }
  // The operator picks the entry shown as text.
  void Select(const QString& text) {
    const int index = Combo()->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    Combo()->setCurrentIndex(index);
    emit Combo()->activated(index);
  }
  void Click(int id) { qobject_cast<QPushButton*>(dlg->GetDlgItem(id))->click(); }
  void Tick() { dlg->SendMessage(WM_TIMER, POLL_TIMER_ID); }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes) texts.push_back(box.text);
    return texts;
  }
  std::vector<BYTE> CodesSent() const {
    std::vector<BYTE> codes;
    const auto& written = line.Written(kPort);
    for (std::size_t i = 0; i + 1 < written.size(); ++i) {
      if (written[i].bit == NinthBit::kOne) codes.push_back(written[i + 1].value);
    }
    return codes;
  }

  SimSerialPort line;
  std::unique_ptr<CReaderDlg> dlg;
  MessageBoxRecorder recorder;
  std::vector<MessageBoxCall>& boxes = recorder.boxes;
  std::function<void(const MessageBoxCall&)>& onBox = recorder.onBox;
};

TEST_F(ReaderDlgTest, StartsWithZerosTheFreePortsAndFocusOnCancel) {
  line.AddPort(1);
  line.AddPort(2);
  line.AddPort(10);
  line.AddPort(7);
  line.HoldPort(7, true);
  OpenWindow();

  EXPECT_EQ(Edit(IDC_ADDRESS)->text(), "0");
  for (const Expected& e : kCycle) {
    EXPECT_EQ(Edit(e.field)->text(), "0");
    EXPECT_TRUE(Edit(e.field)->isReadOnly());
  }
  EXPECT_EQ(Entries(), QStringList({"COM1", "COM10", "COM2"}));
  EXPECT_EQ(Combo()->currentIndex(), -1);
  EXPECT_EQ(dlg->m_hPort, INVALID_HANDLE_VALUE);
  EXPECT_EQ(dlg->GetSafeHwnd()->focusWidget(), dlg->GetDlgItem(IDCANCEL));
  EXPECT_EQ(dlg->GetSafeHwnd()->windowTitle(), "ZLM Reader V1.0");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(ReaderDlgTest, ScanTriesPortsOneTo255AndSortsEntriesAsText) {
  line.AddPort(3);
  line.AddPort(10);
  line.AddPort(256);
  OpenWindow();

  ASSERT_EQ(line.OpenAttempts().size(), 255u);
  EXPECT_EQ(line.OpenAttempts().front(), "\\\\.\\COM1");
  EXPECT_EQ(line.OpenAttempts().back(), "\\\\.\\COM255");
  EXPECT_EQ(Entries(), QStringList({"COM10", "COM3"}));
  // The stored entry keeps its newline; the list shows it without.
  EXPECT_EQ(dlg->m_cbPorts.GetLBText(0), "COM10\n");
  EXPECT_EQ(dlg->m_cbPorts.GetLBText(1), "COM3\n");
  EXPECT_FALSE(line.IsOpen(3));
  EXPECT_FALSE(line.IsOpen(10));
}

TEST_F(ReaderDlgTest, NoFreePortListsFallbackWhoseSelectionFails) {
  OpenWindow();
  EXPECT_EQ(Entries(), QStringList({"Порты заняты"}));

  Select("Порты заняты");
  EXPECT_EQ(Texts(), std::vector<std::string>({"No free COM ports"}));
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].style, MB_ICONERROR);
  EXPECT_EQ(dlg->m_hPort, INVALID_HANDLE_VALUE);
  EXPECT_EQ(line.OpenAttempts().back(), "\\\\.\\COM0");
}

TEST_F(ReaderDlgTest, SelectingAPortOpensItWithBaselineSettings) {
  line.AddPort(4);
  OpenWindow();
  Select("COM4");

  ASSERT_NE(dlg->m_hPort, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(line.IsOpen(4));
  const DCB dcb = line.DcbOf(4);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  const COMMTIMEOUTS timeouts = line.TimeoutsOf(4);
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);
  EXPECT_TRUE(line.Written(4).empty());
}

TEST_F(ReaderDlgTest, PortTakenAfterTheScanFailsAndLeavesNoPort) {
  line.AddPort(4);
  OpenWindow();
  line.HoldPort(4, true);
  Select("COM4");
  EXPECT_EQ(Texts(), std::vector<std::string>({"No free COM ports"}));
  EXPECT_EQ(dlg->m_hPort, INVALID_HANDLE_VALUE);
}

TEST_F(ReaderDlgTest, SelectingAnotherPortReleasesTheFirst) {
  line.AddPort(4);
  line.AddPort(5);
  OpenWindow();
  Select("COM4");
  Select("COM5");
  EXPECT_FALSE(line.IsOpen(4));
  EXPECT_TRUE(line.IsOpen(5));
  // Choosing the open port's entry again reopens it rather than failing.
  Select("COM5");
  EXPECT_TRUE(line.IsOpen(5));
  EXPECT_TRUE(boxes.empty());

  Click(IDC_CLOSE_PORT);
  EXPECT_EQ(Entries(), QStringList({"COM4", "COM5"}));
  EXPECT_EQ(Combo()->currentIndex(), -1);
  EXPECT_FALSE(line.IsOpen(5));
}

TEST_F(ReaderDlgTest, CycleFillsEveryFieldInReadingOrder) {
  ReadyToRead();
  Click(IDC_START_READING);
  EXPECT_TRUE(dlg->IsTimerSet(POLL_TIMER_ID));
  // Starting does not read at once: the first cycle is the first tick.
  EXPECT_TRUE(line.Written(kPort).empty());

  Tick();
  EXPECT_TRUE(boxes.empty()) << Texts().front();
  EXPECT_EQ(g_nReadStatus, 0);
  for (const Expected& e : kCycle) {
    EXPECT_EQ(Edit(e.field)->text().toStdString(), e.text) << "code " << e.code;
    EXPECT_EQ(FormatDouble(dlg.get()->*e.member), e.text);
  }
  EXPECT_EQ(CodesSent(), std::vector<BYTE>({1, 2, 3, 4, 6, 5, 119}));
  EXPECT_TRUE(dlg->IsTimerSet(POLL_TIMER_ID));
  // Seven exchanges with their fixed waits.
  EXPECT_GE(line.NowMs(), 7u * 62u);
}

TEST_F(ReaderDlgTest, ValuesShowADotUnderARussianLocale) {
  if (!std::setlocale(LC_NUMERIC, nullptr) ||
      std::string(std::localeconv()->decimal_point) != ",") {
    GTEST_SKIP() << "ru_RU.UTF-8 locale not installed";
  }
  ReadyToRead();
  Tick();
  EXPECT_EQ(Edit(IDC_VOLUME_M3)->text(), "12.3456");
  EXPECT_EQ(dlg->m_dVolumeM3, 12.3456);
}

TEST_F(ReaderDlgTest, FailureAtTheThirdParameterKeepsLaterValues) {
  ZlmMeter& meter = MeterWithCycleValues();
  OpenWindow();
  Select("COM3");
  for (const Expected& e : kCycle) dlg.get()->*e.member = 7.0;
  dlg->UpdateData(FALSE);
  Edit(IDC_ADDRESS)->setText("5");
  meter.SetRawValue(3, {0x09, 0x00, 0x00, 0x00, 0x01});
  Click(IDC_START_READING);

  Tick();
  EXPECT_EQ(Texts(), std::vector<std::string>({"Error reading (mnogitel>8)"}));
  EXPECT_EQ(g_nReadStatus, READ_FAILED);
  EXPECT_FALSE(dlg->IsTimerSet(POLL_TIMER_ID));
  EXPECT_EQ(Edit(IDC_VOLUME_M3)->text(), "12.3456");
  EXPECT_EQ(Edit(IDC_VOLUME_L)->text(), "12345678");
  for (std::size_t row = 2; row < std::size(kCycle); ++row) {
    EXPECT_EQ(Edit(kCycle[row].field)->text(), "7") << "code " << kCycle[row].code;
    EXPECT_EQ(dlg.get()->*kCycle[row].member, 7.0);
  }
}

// Every failure of an exchange reaches the operator with its own message and
// stops reading.
TEST_F(ReaderDlgTest, EachFailureShowsItsMessageAndStopsTheTimer) {
  struct Case {
    const char* message;
    std::function<void(SimSerialPort&, ZlmMeter&)> arrange;
  };
  const Case cases[] = {
      {"SetCommState M1 error",
       [](SimSerialPort& l, ZlmMeter&) {
         l.SetFaults(kPort, {.refuseSettings = SettingsRefusal::kMarkParity});
       }},
      {"Adres error1",
       [](SimSerialPort& l, ZlmMeter&) { l.SetFaults(kPort, {.writeFailsFrom = 1}); }},
      {"SetCommState S1 error",
       [](SimSerialPort& l, ZlmMeter&) {
         l.SetFaults(kPort, {.refuseSettings = SettingsRefusal::kSpaceParity});
       }},
      {"Data=1 error1",
       [](SimSerialPort& l, ZlmMeter&) { l.SetFaults(kPort, {.writeFailsFrom = 2}); }},
      {"Kont sum error",
       [](SimSerialPort& l, ZlmMeter&) { l.SetFaults(kPort, {.writeFailsFrom = 3}); }},
      {"Error reading (mnogitel>8)",
       [](SimSerialPort&, ZlmMeter& m) {
         m.SetRawValue(1, {0x10, 0x00, 0x00, 0x00, 0x01});
       }},
      {"No answer from ZLM",
       [](SimSerialPort& l, ZlmMeter&) { l.SetFaults(kPort, {.bus = {.silent = true}}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    line = SimSerialPort();
    boxes.clear();
    ZlmMeter& meter = MeterWithCycleValues();
    OpenWindow();
    Select("COM3");
    Edit(IDC_ADDRESS)->setText("5");
    c.arrange(line, meter);
    Click(IDC_START_READING);
    Tick();
    EXPECT_EQ(Texts(), std::vector<std::string>({c.message}));
    EXPECT_EQ(boxes.back().caption, "Error");
    EXPECT_EQ(boxes.back().style, MB_ICONERROR);
    EXPECT_EQ(g_nReadStatus, READ_FAILED);
    EXPECT_FALSE(dlg->IsTimerSet(POLL_TIMER_ID));
    EXPECT_EQ(Edit(IDC_VOLUME_M3)->text(), "0");
    dlg.reset();
  }
}

TEST_F(ReaderDlgTest, TimerIsStoppedBeforeTheMessageBoxOpens) {
  ReadyToRead();
  line.SetFaults(kPort, {.bus = {.silent = true}});
  Click(IDC_START_READING);
  bool timerRunningAtBox = true;
  onBox = [&](const MessageBoxCall&) { timerRunningAtBox = dlg->IsTimerSet(POLL_TIMER_ID); };
  Tick();
  EXPECT_FALSE(timerRunningAtBox);
}

TEST_F(ReaderDlgTest, AddressOutOfRangeSendsNothing) {
  for (const char* address : {"32", "-1", "256", "254"}) {
    SCOPED_TRACE(address);
    boxes.clear();
    ReadyToRead();
    Edit(IDC_ADDRESS)->setText(address);
    Click(IDC_START_READING);
    Tick();
    EXPECT_EQ(Texts(), std::vector<std::string>({"Incorrect Adres ZLM"}));
    EXPECT_TRUE(line.Written(kPort).empty());
    EXPECT_FALSE(dlg->IsTimerSet(POLL_TIMER_ID));
    dlg.reset();
    line = SimSerialPort();
  }
}

TEST_F(ReaderDlgTest, AddressesAtTheEdgesOfTheRangeAreRead) {
  for (const int address : {0, 31, 255}) {
    SCOPED_TRACE(address);
    line = SimSerialPort();
    line.AddPort(kPort);
    ASSERT_TRUE(line.AttachMeter(kPort, address == 255 ? 9 : address).SetValue(1, 42, 8));
    OpenWindow();
    Select("COM3");
    Edit(IDC_ADDRESS)->setText(QString::number(address));
    Tick();
    EXPECT_EQ(Edit(IDC_VOLUME_M3)->text(), "42");
    EXPECT_EQ(line.Written(kPort).front().value, static_cast<BYTE>(address));
    EXPECT_EQ(line.Written(kPort).front().bit, NinthBit::kOne);
    dlg.reset();
  }
}

TEST_F(ReaderDlgTest, AddressEditedBetweenCyclesIsUsedByTheNext) {
  ReadyToRead();
  ASSERT_TRUE(line.AttachMeter(kPort, 17).SetValue(1, 17, 8));
  Tick();
  EXPECT_EQ(Edit(IDC_VOLUME_M3)->text(), "12.3456");

  Edit(IDC_ADDRESS)->setText("17");
  Tick();
  EXPECT_EQ(dlg->m_nAddress, 17);
  EXPECT_EQ(line.Written(kPort).back().value, static_cast<BYTE>(119 + 17));
  EXPECT_EQ(Edit(IDC_VOLUME_M3)->text(), "17");
}

TEST_F(ReaderDlgTest, NonNumericAddressPromptsPerRefreshWithoutNestedCycles) {
  ReadyToRead();
  Tick();
  Click(IDC_START_READING);
  Edit(IDC_ADDRESS)->setText("abc");

  // Ticks that arrive while a prompt of the cycle is open are dropped.
  int nested = 0;
  onBox = [&](const MessageBoxCall&) {
    ++nested;
    Tick();
  };
  Tick();
  // The cycle's refresh, the exchange's first refresh and its refresh after
  // the read prompt; the push that follows restores the last good address.
  EXPECT_EQ(boxes.size(), 3u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, "Введите целое число.");
    EXPECT_EQ(box.style, MB_ICONEXCLAMATION);
  }
  EXPECT_EQ(nested, 3);
  EXPECT_EQ(dlg->m_nAddress, kAddress);
  EXPECT_EQ(Edit(IDC_ADDRESS)->text(), "5");
  EXPECT_TRUE(dlg->IsTimerSet(POLL_TIMER_ID));
}

TEST_F(ReaderDlgTest, ClosingThePortWhileReadingFailsTheNextTick) {
  ReadyToRead();
  Click(IDC_START_READING);
  Tick();
  Click(IDC_CLOSE_PORT);
  EXPECT_EQ(dlg->m_hPort, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(dlg->IsTimerSet(POLL_TIMER_ID));
  EXPECT_EQ(Entries(), QStringList({"COM3"}));

  Tick();
  EXPECT_EQ(Texts(), std::vector<std::string>({"SetCommState M1 error"}));
  EXPECT_FALSE(dlg->IsTimerSet(POLL_TIMER_ID));
}

TEST_F(ReaderDlgTest, StopResetsTheStatusAndTheTimer) {
  ReadyToRead();
  g_nReadStatus = READ_FAILED;
  Click(IDC_STOP_READING);
  EXPECT_EQ(g_nReadStatus, 0);
  Click(IDC_START_READING);
  Click(IDC_STOP_READING);
  EXPECT_FALSE(dlg->IsTimerSet(POLL_TIMER_ID));
}

TEST_F(ReaderDlgTest, AnyTimerIdRunsACycle) {
  ReadyToRead();
  dlg->SendMessage(WM_TIMER, 42);
  EXPECT_EQ(Edit(IDC_NOMINAL_DIAMETER)->text(), "50");
}

TEST_F(ReaderDlgTest, EnterInTheAddressFieldEndsWithOkAndKeepsThePort) {
  ReadyToRead();
  Edit(IDC_ADDRESS)->setFocus();
  Edit(IDC_ADDRESS)->setText(" 007");
  QTest::keyClick(Edit(IDC_ADDRESS), Qt::Key_Return);
  EXPECT_TRUE(dlg->IsEnded());
  EXPECT_EQ(dlg->GetResult(), IDOK);
  EXPECT_EQ(dlg->m_nAddress, 7);
  EXPECT_TRUE(line.IsOpen(kPort));
}

TEST_F(ReaderDlgTest, CancelPathsCloseThePort) {
  const std::vector<std::pair<const char*, std::function<void(ReaderDlgTest&)>>> paths = {
      {"Escape", [](ReaderDlgTest& t) { QTest::keyClick(t.Edit(IDC_ADDRESS), Qt::Key_Escape); }},
      {"close button", [](ReaderDlgTest& t) { t.dlg->GetSafeHwnd()->close(); }},
      {"Enter on Отмена",
       [](ReaderDlgTest& t) { QTest::keyClick(t.dlg->GetDlgItem(IDCANCEL), Qt::Key_Return); }},
      {"Space on Отмена",
       [](ReaderDlgTest& t) { QTest::keyClick(t.dlg->GetDlgItem(IDCANCEL), Qt::Key_Space); }},
  };
  for (const auto& [name, act] : paths) {
    SCOPED_TRACE(name);
    line = SimSerialPort();
    ReadyToRead();
    ASSERT_TRUE(line.IsOpen(kPort));
    act(*this);
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
    EXPECT_FALSE(line.IsOpen(kPort));
    EXPECT_EQ(dlg->m_hPort, INVALID_HANDLE_VALUE);
    dlg.reset();
  }
}

TEST_F(ReaderDlgTest, TabWalksTheTemplateOrderSkippingLabels) {
  OpenWindow();
  const int order[] = {IDCANCEL,          IDC_PORT_COMBO, IDC_CLOSE_PORT,   IDC_ADDRESS,
                       IDC_START_READING, IDC_VOLUME_M3,  IDC_VOLUME_L,     IDC_HOURS,
                       IDC_FLOW_M3H,      IDC_FLOW_LMIN,  IDC_FLOW_PERCENT, IDC_NOMINAL_DIAMETER,
                       IDC_STOP_READING,  IDCANCEL};
  QWidget* window = dlg->GetSafeHwnd();
  ASSERT_EQ(window->focusWidget(), dlg->GetDlgItem(IDCANCEL));
  for (std::size_t i = 1; i < std::size(order); ++i) {
    QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(window->focusWidget(), dlg->GetDlgItem(order[i])) << "step " << i;
  }
}

}  // namespace
