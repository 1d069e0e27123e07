#include "sim/sim_serial_port.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <string_view>

namespace {

constexpr std::string_view kPathPrefix = R"(\\.\COM)";

// Port number of "\\.\COMn" (decimal, no leading zero), or 0.
int PortNumberOf(const std::string& path) {
  if (!path.starts_with(kPathPrefix)) return 0;
  const std::string_view digits = std::string_view(path).substr(kPathPrefix.size());
  if (digits.empty() || digits[0] == '0') return 0;
  int n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  return ec == std::errc() && end == digits.data() + digits.size() ? n : 0;
}

NinthBit NinthBitOf(const DCB& dcb, BYTE value) {
  const bool oddOnes = std::popcount(value) % 2 == 1;
  switch (dcb.Parity) {
    case MARKPARITY:
      return NinthBit::kOne;
    case SPACEPARITY:
      return NinthBit::kZero;
    case ODDPARITY:
      return oddOnes ? NinthBit::kZero : NinthBit::kOne;
    case EVENPARITY:
      return oddOnes ? NinthBit::kOne : NinthBit::kZero;
    default:
      return NinthBit::kNone;
  }
}

DCB FreshDeviceSettings() {
  DCB dcb{};
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fBinary = true;
  return dcb;
}

}  // namespace

std::string SimSerialPort::PathOf(int n) { return std::string(kPathPrefix) + std::to_string(n); }

void SimSerialPort::AddPort(int n) {
  Port& port = ports_[n];
  if (port.present) return;
  port.present = true;
  port.dcb = FreshDeviceSettings();
  port.timeouts = {};
}

void SimSerialPort::RemovePort(int n) {
  Port& port = ports_[n];
  port.present = false;
  ++port.generation;
  port.owner = INVALID_HANDLE_VALUE;
  port.received.clear();
  port.late.clear();
}

void SimSerialPort::HoldPort(int n, bool held) { ports_[n].held = held; }

ZlmMeter& SimSerialPort::AttachMeter(int port, int32_t address) {
  return ports_[port].meters.emplace_back(address);
}

void SimSerialPort::SetEcho(int port, bool on) { ports_[port].echo = on; }

void SimSerialPort::SetFaults(int port, const SimFaults& faults) {
  Port& p = ports_[port];
  p.faults = faults;
  p.writesSinceFaults = 0;
}

void SimSerialPort::Deliver(int port, const std::vector<BYTE>& bytes) {
  std::deque<BYTE>& received = ports_[port].received;
  received.insert(received.end(), bytes.begin(), bytes.end());
}

const SimSerialPort::Port* SimSerialPort::Find(int n) const {
  const auto it = ports_.find(n);
  return it == ports_.end() ? nullptr : &it->second;
}

bool SimSerialPort::IsOpen(int port) const {
  const Port* p = Find(port);
  return p && p->owner != INVALID_HANDLE_VALUE;
}

DCB SimSerialPort::DcbOf(int port) const {
  const Port* p = Find(port);
  return p ? p->dcb : DCB{};
}

COMMTIMEOUTS SimSerialPort::TimeoutsOf(int port) const {
  const Port* p = Find(port);
  return p ? p->timeouts : COMMTIMEOUTS{};
}

const std::vector<WrittenByte>& SimSerialPort::Written(int port) const {
  static const std::vector<WrittenByte> kNone;
  const Port* p = Find(port);
  return p ? p->written : kNone;
}

std::size_t SimSerialPort::QueuedBytes(int port) const {
  const Port* p = Find(port);
  return p ? p->received.size() : 0;
}

SimSerialPort::Port* SimSerialPort::Live(HANDLE h) {
  const auto handle = handles_.find(h);
  if (handle == handles_.end()) return nullptr;
  Port& port = ports_[handle->second.port];
  return port.present && port.generation == handle->second.generation ? &port : nullptr;
}

HANDLE SimSerialPort::CreateFile(const std::string& path) {
  openAttempts_.push_back(path);
  const auto it = ports_.find(PortNumberOf(path));
  if (it == ports_.end()) return INVALID_HANDLE_VALUE;
  Port& port = it->second;
  if (!port.present || port.held || port.owner != INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  // A HANDLE is an integer on Linux and a pointer on Windows; either holds
  // the number.
  const HANDLE h = reinterpret_cast<HANDLE>(nextHandle_++);
  port.owner = h;
  handles_[h] = {it->first, port.generation};
  return h;
}

bool SimSerialPort::CloseHandle(HANDLE h) {
  const auto handle = handles_.find(h);
  if (handle == handles_.end()) return false;
  Port& port = ports_[handle->second.port];
  if (port.owner == h) port.owner = INVALID_HANDLE_VALUE;
  handles_.erase(handle);
  return true;
}

bool SimSerialPort::GetCommState(HANDLE h, DCB& dcb) {
  Port* port = Live(h);
  if (!port) return false;
  dcb = port->dcb;
  return true;
}

bool SimSerialPort::Refuses(const Port& port, const DCB& dcb) const {
  switch (port.faults.refuseSettings) {
    case SettingsRefusal::kNone:
      return false;
    case SettingsRefusal::kAll:
      return true;
    case SettingsRefusal::kMarkParity:
      return dcb.Parity == MARKPARITY;
    case SettingsRefusal::kSpaceParity:
      return dcb.Parity == SPACEPARITY;
  }
  return false;
}

bool SimSerialPort::SetCommState(HANDLE h, const DCB& dcb) {
  Port* port = Live(h);
  if (!port || Refuses(*port, dcb)) return false;
  port->dcb = dcb;
  return true;
}

bool SimSerialPort::SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) {
  Port* port = Live(h);
  if (!port) return false;
  port->timeouts = timeouts;
  return true;
}

bool SimSerialPort::WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) {
  written = 0;
  Port* port = Live(h);
  if (!port) return false;
  for (DWORD i = 0; i < length; ++i) {
    ++port->writesSinceFaults;
    const int failsFrom = port->faults.writeFailsFrom;
    if (failsFrom > 0 && port->writesSinceFaults >= failsFrom) return false;
    Transmit(*port, data[i]);
    ++written;
  }
  return true;
}

// One character on the line: the bus echoes it back to us and every meter
// hears it. The meters understand only 9600 baud, 8 data bits and a ninth bit;
// any other character reaches them garbled and is ignored.
void SimSerialPort::Transmit(Port& port, BYTE value) {
  const NinthBit bit = NinthBitOf(port.dcb, value);
  port.written.push_back({value, bit, nowMs_});

  const SimFaults& faults = port.faults;
  if (bit == NinthBit::kOne) {
    port.received.insert(port.received.end(), faults.strayBeforeEcho.begin(),
                         faults.strayBeforeEcho.end());
  }
  if (port.echo && !(bit == NinthBit::kOne && faults.addressEchoMissing)) {
    port.received.push_back(value);
  }

  if (bit == NinthBit::kNone || port.dcb.BaudRate != 9600 || port.dcb.ByteSize != 8) return;
  for (ZlmMeter& meter : port.meters) {
    const std::vector<BYTE> answer = meter.Receive(value, bit == NinthBit::kOne);
    if (faults.meterSilent) continue;
    if (faults.answerLate) {
      port.late.insert(port.late.end(), answer.begin(), answer.end());
    } else {
      port.received.insert(port.received.end(), answer.begin(), answer.end());
    }
  }
}

bool SimSerialPort::ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) {
  read = 0;
  Port* port = Live(h);
  if (!port) return false;
  read = static_cast<DWORD>(std::min<std::size_t>(length, port->received.size()));
  std::copy_n(port->received.begin(), read, buffer);
  port->received.erase(port->received.begin(), port->received.begin() + read);
  port->received.insert(port->received.end(), port->late.begin(), port->late.end());
  port->late.clear();
  return true;
}

bool SimSerialPort::PurgeComm(HANDLE h) {
  Port* port = Live(h);
  if (!port) return false;
  port->received.clear();
  return true;
}
