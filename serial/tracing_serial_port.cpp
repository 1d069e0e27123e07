#include "serial/tracing_serial_port.h"

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "serial/com_name.h"

namespace {

const char* ParityName(BYTE parity) {
  switch (parity) {
    case NOPARITY:
      return "none";
    case ODDPARITY:
      return "odd";
    case EVENPARITY:
      return "even";
    case MARKPARITY:
      return "mark";
    case SPACEPARITY:
      return "space";
  }
  return "?";
}

std::string Result(bool ok) { return ok ? "ok" : "failed"; }

// A handle as a number: an integer here, a pointer on Windows.
template <typename Handle>
std::string HandleText(Handle h) {
  if constexpr (std::is_pointer_v<Handle>) {
    return std::to_string(reinterpret_cast<std::uintptr_t>(h));
  } else {
    return std::to_string(h);
  }
}

// The cause the line gives for a failure, where it gives one, naming the
// port as the user did.
std::string CauseOf(const SerialPort& line, const std::string& port) {
  const std::string why = ExplainCause(line.LastCause(), port);
  return why.empty() ? "" : " (" + why + ")";
}

// Reads that return at once with what has arrived.
bool ReturnAtOnce(const COMMTIMEOUTS& t) {
  return t.ReadIntervalTimeout == 0xFFFFFFFF && t.ReadTotalTimeoutMultiplier == 0 &&
         t.ReadTotalTimeoutConstant == 0;
}

}  // namespace

std::string HexBytes(const BYTE* data, DWORD length) {
  std::string text;
  for (DWORD i = 0; i < length; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", data[i]);
    if (i > 0) text += ' ';
    text += hex;
  }
  return text;
}

std::string SettingsText(const DCB& dcb) {
  static constexpr char kParityLetters[] = "NOEMS";
  static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
  char text[64];
  std::snprintf(text, sizeof text, "%u %u%c%s", static_cast<unsigned>(dcb.BaudRate),
                static_cast<unsigned>(dcb.ByteSize),
                dcb.Parity <= SPACEPARITY ? kParityLetters[dcb.Parity] : '?',
                dcb.StopBits <= TWOSTOPBITS ? kStopBits[dcb.StopBits] : "?");
  std::string out = text;
  if (dcb.fDtrControl != DTR_CONTROL_DISABLE) out += " dtr";
  if (dcb.fRtsControl != RTS_CONTROL_DISABLE) out += " rts";
  return out;
}

TracingSerialPort::TracingSerialPort(SerialPort& line, TraceFile& trace, RequestSummary summary)
    : m_line(line), m_trace(trace), m_summary(std::move(summary)) {}

HANDLE TracingSerialPort::CreateFile(const std::string& path) {
  const HANDLE h = m_line.CreateFile(path);
  m_portName = PortNameOf(path);
  if (h == INVALID_HANDLE_VALUE) {
    Trace("open " + path + ": failed" + CauseOf(m_line, m_portName));
  } else {
    Trace("open " + path + ": handle " + HandleText(h));
    m_parity = NOPARITY;
    m_readsReturnAtOnce = false;
    m_request.clear();
  }
  return h;
}

bool TracingSerialPort::CloseHandle(HANDLE h) {
  const bool ok = m_line.CloseHandle(h);
  Trace("close handle " + HandleText(h) + ": " + Result(ok));
  return ok;
}

bool TracingSerialPort::GetCommState(HANDLE h, DCB& dcb) {
  const bool ok = m_line.GetCommState(h, dcb);
  Trace("get settings: " + (ok ? SettingsText(dcb) : Result(ok)));
  return ok;
}

bool TracingSerialPort::SetCommState(HANDLE h, const DCB& dcb) {
  const bool ok = m_line.SetCommState(h, dcb);
  if (ok) m_parity = dcb.Parity;
  Trace("set settings " + SettingsText(dcb) + ": " + Result(ok) +
        (ok ? "" : CauseOf(m_line, m_portName)));
  return ok;
}

bool TracingSerialPort::SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& t) {
  const bool ok = m_line.SetCommTimeouts(h, t);
  if (ok) m_readsReturnAtOnce = ReturnAtOnce(t);
  char text[128];
  std::snprintf(text, sizeof text, "set timeouts read %u/%u/%u write %u/%u: ",
                static_cast<unsigned>(t.ReadIntervalTimeout),
                static_cast<unsigned>(t.ReadTotalTimeoutMultiplier),
                static_cast<unsigned>(t.ReadTotalTimeoutConstant),
                static_cast<unsigned>(t.WriteTotalTimeoutMultiplier),
                static_cast<unsigned>(t.WriteTotalTimeoutConstant));
  Trace(text + Result(ok));
  return ok;
}

bool TracingSerialPort::WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) {
  const bool ok = m_line.WriteFile(h, data, length, written);
  Trace("write " + HexBytes(data, length) + " " + ParityName(m_parity) + ": " +
        std::to_string(written) + " written");
  for (DWORD i = 0; i < written; ++i) {
    if (m_parity == MARKPARITY) m_request.clear();
    m_request.emplace_back(data[i], m_parity);
  }
  return ok;
}

bool TracingSerialPort::ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) {
  const bool ok = m_line.ReadFile(h, buffer, length, read);
  Trace("read " + std::to_string(length) + ": " +
        (read == 0 ? std::string("nothing") : std::to_string(read) + " " + HexBytes(buffer, read)));
  const bool afterRequest = m_request.size() == 3 && m_request[0].second == MARKPARITY &&
                            m_request[1].second == SPACEPARITY &&
                            m_request[2].second == SPACEPARITY;
  if (afterRequest && m_summary) {
    const std::string summary =
        m_summary({{m_request[0].first, m_request[1].first, m_request[2].first}, buffer, read});
    if (!summary.empty()) Trace(summary);
  }
  m_request.clear();
  return ok;
}

bool TracingSerialPort::PurgeComm(HANDLE h) {
  std::string discarded;
  DWORD total = 0;
  if (m_readsReturnAtOnce) {
    BYTE chunk[64];
    DWORD n = 0;
    // Bounded, so a line that keeps sending cannot hold the purge forever.
    while (total < 4096 && m_line.ReadFile(h, chunk, sizeof chunk, n) && n > 0) {
      discarded += (total > 0 ? " " : "") + HexBytes(chunk, n);
      total += n;
    }
  }
  const bool ok = m_line.PurgeComm(h);
  std::string text = "purge: " + Result(ok);
  if (m_readsReturnAtOnce) {
    text +=
        total == 0 ? ", nothing queued" : ", discarded " + std::to_string(total) + " " + discarded;
  }
  Trace(text);
  return ok;
}

void TracingSerialPort::Sleep(DWORD ms) {
  Trace("wait " + std::to_string(ms) + " ms");
  m_line.Sleep(ms);
}
