#include "serial/rfc2217_serial_port.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <climits>
#include <thread>

#include "serial/comm_timeouts.h"
#include "serial/port_discovery.h"

namespace {

using Clock = std::chrono::steady_clock;

// Received data a reader has not taken is kept up to this much, as a local
// line's driver keeps its buffer; what comes beyond it is dropped.
constexpr std::size_t kMaxQueued = 1 << 16;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

Clock::time_point DeadlineAfter(std::uint64_t ms) {
  return Clock::now() + std::chrono::milliseconds(std::min<std::uint64_t>(ms, INT_MAX));
}

// The record's settings in the protocol's codes; false for codes the
// protocol has none for.
bool SettingsOf(const DCB& dcb, Rfc2217Settings& settings) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY) {
    return false;
  }
  settings.baudRate = dcb.BaudRate;
  settings.dataSize = dcb.ByteSize;
  // NOPARITY .. SPACEPARITY are 0..4, the protocol's NONE .. SPACE 1..5.
  settings.parity = static_cast<std::uint8_t>(dcb.Parity + 1);
  switch (dcb.StopBits) {
    case ONESTOPBIT:
      settings.stopSize = 1;
      break;
    case TWOSTOPBITS:
      settings.stopSize = 2;
      break;
    case ONE5STOPBITS:
      settings.stopSize = 3;
      break;
    default:
      return false;
  }
  settings.dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
  settings.rts = dcb.fRtsControl != RTS_CONTROL_DISABLE;
  return true;
}

// What a server that is no RFC 2217 port said, as far as it is text.
std::string PrintableStart(const std::deque<BYTE>& bytes) {
  std::string text;
  for (const BYTE b : bytes) {
    if (text.size() >= 60) break;
    if (b == '\r' || b == '\n') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else if (b >= 0x20 && b < 0x7F) {
      text += static_cast<char>(b);
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

CauseKind CauseOf(TcpFailure failure) {
  switch (failure) {
    case TcpFailure::kRefused:
      return CauseKind::kRefused;
    case TcpFailure::kTimedOut:
      return CauseKind::kTimedOut;
    case TcpFailure::kLost:
      return CauseKind::kConnectionLost;
    default:
      return CauseKind::kUnreachable;
  }
}

}  // namespace

Rfc2217SerialPort::Rfc2217SerialPort(Rfc2217Timing timing) : m_timing(timing) {}

Rfc2217SerialPort::~Rfc2217SerialPort() = default;

Rfc2217SerialPort::Connection* Rfc2217SerialPort::Find(HANDLE h) {
  const auto it = m_open.find(h);
  return it == m_open.end() ? nullptr : &it->second;
}

void Rfc2217SerialPort::Fail(Connection* c, CauseKind kind, const std::string& text) {
  m_cause = {.kind = kind, .device = c != nullptr ? c->url : std::string(), .detail = text};
}

void Rfc2217SerialPort::Lost(Connection& c, const std::string& text) {
  c.tcp.reset();
  c.settings.reset();
  Fail(&c, CauseKind::kConnectionLost, text);
}

bool Rfc2217SerialPort::Send(Connection& c, const std::vector<std::uint8_t>& bytes, int timeoutMs) {
  TcpError error;
  if (c.tcp->Send(bytes, timeoutMs, error)) return true;
  Lost(c, error.text);
  return false;
}

bool Rfc2217SerialPort::Pump(Connection& c, int waitMs) {
  std::vector<std::uint8_t> in;
  TcpError error;
  const bool alive = c.tcp->Receive(in, waitMs, error);
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> answers;
  c.session.Receive(in.data(), in.size(), data, answers);
  if (c.session.TakePurgeConfirmed()) c.received.clear();
  const std::size_t room = kMaxQueued - std::min(kMaxQueued, c.received.size());
  c.received.insert(c.received.end(), data.begin(),
                    data.begin() + static_cast<std::ptrdiff_t>(std::min(room, data.size())));
  if (!alive) {
    Lost(c, error.text);
    return false;
  }
  return answers.empty() || Send(c, answers, m_timing.confirmMs);
}

bool Rfc2217SerialPort::Open(Connection& c) {
  Rfc2217Timing timing = m_timing;
  if (m_scanning) {
    timing.connectMs = std::min(timing.connectMs, kScanTiming.connectMs);
    timing.negotiateMs = std::min(timing.negotiateMs, kScanTiming.negotiateMs);
  }
  TcpError error;
  c.tcp = TcpConnection::Connect(c.address.host, c.address.port, timing.connectMs, error);
  if (!c.tcp) {
    Fail(&c, CauseOf(error.kind), error.text);
    return false;
  }
  c.session = {};
  c.purgeConfirmed = true;
  c.purgeSeenConfirmed = false;
  c.settingsAwaited = false;
  c.received.clear();
  c.settings.reset();
  const Clock::time_point deadline = DeadlineAfter(timing.negotiateMs);
  // Waits until done() or the deadline; the failure names what was awaited
  // and quotes what text the server sent instead.
  const auto awaitServer = [&](const auto& done, const char* awaited) {
    while (!done()) {
      const int left = MillisecondsUntil(deadline);
      const bool alive = left == 0 || Pump(c, left);
      if (left > 0 && alive) continue;
      const std::string said = PrintableStart(c.received);
      const std::string quoted = said.empty() ? std::string() : "; it said \"" + said + "\"";
      if (alive) {
        Fail(&c, CauseKind::kNoNegotiation,
             std::string(awaited) + " not answered within " + std::to_string(timing.negotiateMs) +
                 " ms" + quoted);
        c.tcp.reset();
      } else {
        Fail(&c, CauseKind::kServerClosed,
             m_cause.detail + " before " + std::string(awaited) + quoted);
      }
      return false;
    }
    return true;
  };

  // A server that turns the client away may close before it reads what
  // the client sent; that is its refusal too.
  const auto send = [&](const std::vector<std::uint8_t>& bytes) {
    if (Send(c, bytes, timing.negotiateMs)) return true;
    const std::string said = PrintableStart(c.received);
    Fail(&c, CauseKind::kServerClosed,
         m_cause.detail + (said.empty() ? std::string() : "; it said \"" + said + "\""));
    return false;
  };

  std::vector<std::uint8_t> out;
  c.session.Start(out);
  if (!send(out) ||
      !awaitServer([&] { return c.session.Negotiation() != NegotiationState::kPending; },
                   "the telnet negotiation")) {
    return false;
  }
  if (c.session.Negotiation() == NegotiationState::kRefused) {
    Fail(&c, CauseKind::kNegotiationRefused, c.session.RefusedOption());
    c.tcp.reset();
    return false;
  }
  // Agreeing to the options does not mean the server has the line: one whose
  // line another client holds ends the connection when asked about it.
  out.clear();
  c.session.QueryBaudRate(out);
  if (!send(out) || !awaitServer([&] { return c.session.ReportedBaudRate().has_value(); },
                                 "the question for the line's baud rate")) {
    return false;
  }
  // Text the server sent before it had the line is not the line's data.
  c.received.clear();
  return true;
}

HANDLE Rfc2217SerialPort::CreateFile(const std::string& path) {
  m_cause = {};
  const std::optional<NetworkAddress> address = ParseRfc2217Url(path);
  if (!address) {
    m_cause = {.kind = CauseKind::kBadAddress, .device = path, .detail = path};
    return INVALID_HANDLE_VALUE;
  }
  Connection c;
  c.address = *address;
  c.url = path;
  c.timeouts = kPortTimeouts;
  if (!Open(c)) return INVALID_HANDLE_VALUE;
  const HANDLE h = std::bit_cast<HANDLE>(m_nextHandle--);
  m_open.emplace(h, std::move(c));
  return h;
}

bool Rfc2217SerialPort::CloseHandle(HANDLE h) { return m_open.erase(h) == 1; }

bool Rfc2217SerialPort::GetCommState(HANDLE h, DCB& dcb) {
  const Connection* c = Find(h);
  if (c == nullptr) return false;
  DCB d{};
  if (c->settings) d = *c->settings;
  d.fBinary = true;
  dcb = d;
  return true;
}

bool Rfc2217SerialPort::SetCommState(HANDLE h, const DCB& dcb) {
  Connection* c = Find(h);
  if (c == nullptr) return false;
  // Each exchange starts with a settings change: what failed before it is
  // no cause of what fails after it.
  m_cause = {};
  Rfc2217Settings want;
  if (!SettingsOf(dcb, want)) {
    Fail(c, CauseKind::kSettingsNotKept, "settings the protocol cannot carry");
    return false;
  }
  // A connection that ended meanwhile fails here, where a reader learns of
  // it first; one lost earlier is made again here, where the whole settings
  // follow at once.
  if (c->tcp && !Pump(*c, 0)) return false;
  if (!c->tcp && !Open(*c)) return false;
  if (c->settingsAwaited && !AwaitSettings(*c)) return false;

  std::vector<std::uint8_t> out;
  c->session.RequestSettings(want, out);
  if (!out.empty() && !Send(*c, out, m_timing.confirmMs)) return false;
  c->settings = dcb;
  c->settingsAwaited = c->session.SettingsConfirmation() != Confirmation::kConfirmed;
  return true;
}

bool Rfc2217SerialPort::AwaitSettings(Connection& c) {
  c.settingsAwaited = false;
  const Clock::time_point deadline = DeadlineAfter(m_timing.confirmMs);
  while (c.session.SettingsConfirmation() == Confirmation::kWaiting) {
    const int left = MillisecondsUntil(deadline);
    if (left == 0) {
      const bool parity = c.session.Awaiting(rfc2217::kSetParity);
      Fail(&c, parity ? CauseKind::kParityNotConfirmed : CauseKind::kSettingsNotKept,
           std::string(parity ? "parity" : "a setting") + " not confirmed within " +
               std::to_string(m_timing.confirmMs) + " ms");
      c.session.ForgetSettings();
      c.settings.reset();
      return false;
    }
    if (!Pump(c, left)) return false;
  }
  if (c.session.SettingsConfirmation() == Confirmation::kDiffers) {
    const bool parity = c.session.MismatchCommand() == rfc2217::kSetParity;
    Fail(&c, parity ? CauseKind::kParityNotConfirmed : CauseKind::kSettingsNotKept,
         c.session.Mismatch());
    c.session.ForgetSettings();
    c.settings.reset();
    return false;
  }
  return true;
}

bool Rfc2217SerialPort::SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) {
  Connection* c = Find(h);
  if (c == nullptr) return false;
  c->timeouts = timeouts;
  return true;
}

bool Rfc2217SerialPort::WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) {
  written = 0;
  Connection* c = Find(h);
  if (c == nullptr || (data == nullptr && length > 0)) return false;
  if (!c->tcp) {
    Fail(c, CauseKind::kConnectionLost, "not connected");
    return false;
  }
  if (c->settingsAwaited && !AwaitSettings(*c)) return false;
  std::vector<std::uint8_t> out;
  Rfc2217Session::EncodeData(data, length, out);
  const std::uint64_t totalMs = WriteTotalMs(c->timeouts, length);
  const int timeoutMs =
      totalMs == 0 ? INT_MAX : static_cast<int>(std::min<std::uint64_t>(totalMs, INT_MAX));
  if (!Send(*c, out, timeoutMs)) return false;
  written = length;
  return true;
}

// The timeout set bounds a read as it bounds a local line's (ReadBoundsOf).
bool Rfc2217SerialPort::ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) {
  read = 0;
  Connection* c = Find(h);
  if (c == nullptr || (buffer == nullptr && length > 0)) return false;
  const ReadBounds bounds = ReadBoundsOf(c->timeouts, length);
  const Clock::time_point deadline = DeadlineAfter(bounds.totalMs);
  Clock::time_point lastByte{};

  int waitMs = 0;
  for (;;) {
    const bool alive = c->tcp && Pump(*c, waitMs);
    const DWORD take = static_cast<DWORD>(std::min<std::size_t>(length - read, c->received.size()));
    std::copy_n(c->received.begin(), take, buffer + read);
    c->received.erase(c->received.begin(), c->received.begin() + take);
    read += take;
    if (take > 0) lastByte = Clock::now();
    if (read == length) return true;
    if (!alive) {
      if (!c->tcp && m_cause.kind != CauseKind::kConnectionLost) {
        Fail(c, CauseKind::kConnectionLost, "not connected");
      }
      return read > 0;
    }
    if (bounds.immediate || (bounds.firstBytes && read > 0)) return true;
    waitMs = bounds.totalMs == 0 ? INT_MAX : MillisecondsUntil(deadline);
    if (bounds.intervalMs != 0 && read > 0) {
      waitMs = std::min(waitMs,
                        MillisecondsUntil(lastByte + std::chrono::milliseconds(bounds.intervalMs)));
    }
    if (waitMs == 0) return true;
  }
}

// Bytes the server read from its line before the purge may still be on the
// way; they precede its confirmation in the stream, which drops them when it
// comes. Whether the server confirms purges at all is learnt from the first
// of a connection; one that does not is waited for once.
bool Rfc2217SerialPort::PurgeComm(HANDLE h) {
  Connection* c = Find(h);
  if (c == nullptr) return false;
  c->received.clear();
  if (!c->tcp) {
    Fail(c, CauseKind::kConnectionLost, "not connected");
    return false;
  }
  std::vector<std::uint8_t> out;
  c->session.RequestPurge(out);
  if (!Send(*c, out, m_timing.confirmMs)) return false;
  const Clock::time_point deadline = DeadlineAfter(m_timing.confirmMs);
  while (c->purgeConfirmed && !c->purgeSeenConfirmed && c->session.PurgeAwaited()) {
    const int left = MillisecondsUntil(deadline);
    if (left == 0) {
      c->purgeConfirmed = false;
      break;
    }
    if (!Pump(*c, left)) return false;
  }
  if (!c->session.PurgeAwaited()) c->purgeSeenConfirmed = true;
  c->received.clear();
  return true;
}

void Rfc2217SerialPort::Sleep(DWORD ms) {
  std::this_thread::sleep_until(Clock::now() + std::chrono::milliseconds(ms));
}
