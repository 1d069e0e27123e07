#include "sim/sim_serial_port.h"

#include <algorithm>
#include <bit>

namespace {

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
  DCB dcb = Baseline8N1(DCB{});
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fBinary = true;
  return dcb;
}

}  // namespace

void SimSerialPort::AddPort(int n) {
  Port& port = m_ports[n];
  if (port.present) return;
  port.present = true;
  port.dcb = FreshDeviceSettings();
  port.timeouts = {};
}

void SimSerialPort::RemovePort(int n) {
  Port& port = m_ports[n];
  port.present = false;
  ++port.generation;
  port.owner = INVALID_HANDLE_VALUE;
  port.received.clear();
  port.arriving.clear();
}

void SimSerialPort::HoldPort(int n, bool held) { m_ports[n].held = held; }

ZlmMeter& SimSerialPort::AttachMeter(int port, int32_t address) {
  return m_ports[port].bus.AttachMeter(address);
}

void SimSerialPort::SetEcho(int port, bool on) { m_ports[port].bus.SetEcho(on); }

void SimSerialPort::SetFaults(int port, const SimFaults& faults) {
  Port& p = m_ports[port];
  p.faults = faults;
  p.bus.SetFaults(faults.bus);
  p.writesSinceFaults = 0;
}

void SimSerialPort::Deliver(int port, const std::vector<BYTE>& bytes) {
  Port& p = m_ports[port];
  Arrive(p);
  std::deque<BYTE>& received = p.received;
  received.insert(received.end(), bytes.begin(), bytes.end());
}

const SimSerialPort::Port* SimSerialPort::Find(int n) const {
  const auto it = m_ports.find(n);
  return it == m_ports.end() ? nullptr : &it->second;
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
  if (!p) return 0;
  std::size_t queued = p->received.size();
  for (const Transmission& t : p->arriving) {
    if (t.dueUs <= m_nowMs * 1000) queued += t.bytes.size();
  }
  return queued;
}

SimSerialPort::Port* SimSerialPort::Live(HANDLE h) {
  const auto handle = m_handles.find(h);
  if (handle == m_handles.end()) return nullptr;
  Port& port = m_ports[handle->second.port];
  if (port.present && port.generation == handle->second.generation) return &port;
  m_cause = {.kind = CauseKind::kLineLost, .detail = "unplugged"};
  return nullptr;
}

HANDLE SimSerialPort::CreateFile(const std::string& path) {
  m_openAttempts.push_back(path);
  const auto it = m_ports.find(ParseComDevicePath(path).value_or(0));
  if (it == m_ports.end()) {
    m_cause = {.kind = CauseKind::kUnmapped};
    return INVALID_HANDLE_VALUE;
  }
  Port& port = it->second;
  if (!port.present) {
    m_cause = {.kind = CauseKind::kNoDevice};
    return INVALID_HANDLE_VALUE;
  }
  if (port.held || port.owner != INVALID_HANDLE_VALUE) {
    m_cause = {.kind = CauseKind::kBusy};
    return INVALID_HANDLE_VALUE;
  }
  // A HANDLE is an integer on Linux and a pointer on Windows; either holds
  // the number.
  const HANDLE h = reinterpret_cast<HANDLE>(m_nextHandle++);
  port.owner = h;
  m_handles[h] = {it->first, port.generation};
  return h;
}

bool SimSerialPort::CloseHandle(HANDLE h) {
  const auto handle = m_handles.find(h);
  if (handle == m_handles.end()) return false;
  Port& port = m_ports[handle->second.port];
  if (port.owner == h) port.owner = INVALID_HANDLE_VALUE;
  m_handles.erase(handle);
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
  if (!port) return false;
  if (Refuses(*port, dcb)) {
    const bool parity = port->faults.refuseSettings != SettingsRefusal::kAll;
    m_cause = {.kind = parity ? CauseKind::kParityNotKept : CauseKind::kSettingsNotKept};
    return false;
  }
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
  port.written.push_back({value, bit, m_nowMs});
  const bool garbled =
      bit == NinthBit::kNone || port.dcb.BaudRate != 9600 || port.dcb.ByteSize != 8;
  for (Transmission& t : port.bus.Receive(value, bit, m_nowMs * 1000, garbled)) {
    QueueByDueTime(port.arriving, std::move(t));
  }
  Arrive(port);
}

void SimSerialPort::Arrive(Port& port) {
  const std::uint64_t nowUs = m_nowMs * 1000;
  auto t = port.arriving.begin();
  for (; t != port.arriving.end() && t->dueUs <= nowUs; ++t) {
    port.received.insert(port.received.end(), t->bytes.begin(), t->bytes.end());
  }
  port.arriving.erase(port.arriving.begin(), t);
}

bool SimSerialPort::ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) {
  read = 0;
  Port* port = Live(h);
  if (!port) return false;
  Arrive(*port);
  read = static_cast<DWORD>(std::min<std::size_t>(length, port->received.size()));
  std::copy_n(port->received.begin(), read, buffer);
  port->received.erase(port->received.begin(), port->received.begin() + read);
  return true;
}

bool SimSerialPort::PurgeComm(HANDLE h) {
  Port* port = Live(h);
  if (!port) return false;
  Arrive(*port);
  port->received.clear();
  return true;
}
