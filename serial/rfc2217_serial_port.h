#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/network_address.h"
#include "serial/rfc2217_session.h"
#include "serial/serial_port.h"
#include "serial/tcp_connection.h"

// The bounds of the waits on the server, in milliseconds. Loopback answers
// in well under a millisecond; a site's network in tens.
struct Rfc2217Timing {
  int connectMs = 3000;    // TCP connection
  int negotiateMs = 3000;  // the telnet options agreed
  int confirmMs = 1000;    // a settings change confirmed
};

// The longest waits while ports are scanned: a server that is off must not
// hold up the list for long.
inline constexpr Rfc2217Timing kScanTiming{.connectMs = 1000, .negotiateMs = 1000};

// SerialPort over a network serial server speaking telnet with the
// COM-PORT-OPTION (RFC 2217). CreateFile takes "rfc2217://HOST:PORT",
// connects within the timing's bound and negotiates BINARY both ways,
// SUPPRESS-GO-AHEAD and COM-PORT-OPTION; the port is open once the server
// agreed. Opening changes no setting of the line.
//
// SetCommState sends only what changed since the settings last confirmed
// (baud rate, data size, parity with mark and space, stop size; DTR and RTS)
// and returns; the server's confirmation of each value is awaited before
// the next byte goes out (or the next change), so that byte goes out under
// the new settings as on a local line, while the confirmation's round trip
// passes within the wait that follows a change. DTR and RTS changes are sent
// but not awaited: servers on lines without modem lines never answer them.
// A change not confirmed in time, or confirmed with another value, fails the
// call that awaited it with its cause (LastCause), and the next change asks
// for everything again.
//
// Data goes out at once with 0xFF doubled; ReadFile follows the timeout set
// as a local line does and never waits with kPortTimeouts. PurgeComm drops
// what has arrived and asks the server to drop what it holds; what the server
// read before the purge precedes its confirmation in the stream and is
// dropped when that comes, so a late answer is not taken for the next one.
// Only the first purge of a connection waits for the confirmation (bounded),
// to learn whether the server gives one.
//
// A connection that broke fails the call that noticed it and every call
// after it (LastCause: connection lost, also after a write, read or purge); the next SetCommState
// connects and negotiates again and applies the whole settings, so a reader that goes on reading
// recovers once the server is back. Its handles are negative numbers below INVALID_HANDLE_VALUE,
// which no device line hands out, never reused within the object. Not thread-safe.
class Rfc2217SerialPort : public SerialPort {
 public:
  explicit Rfc2217SerialPort(Rfc2217Timing timing = {});
  ~Rfc2217SerialPort() override;
  Rfc2217SerialPort(const Rfc2217SerialPort&) = delete;
  Rfc2217SerialPort& operator=(const Rfc2217SerialPort&) = delete;

  // Whether h is one of this line's open handles.
  bool Owns(HANDLE h) const { return m_open.contains(h); }

  HANDLE CreateFile(const std::string& path) override;
  bool CloseHandle(HANDLE h) override;
  bool GetCommState(HANDLE h, DCB& dcb) override;
  bool SetCommState(HANDLE h, const DCB& dcb) override;
  bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) override;
  bool WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) override;
  bool ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) override;
  bool PurgeComm(HANDLE h) override;
  void Sleep(DWORD ms) override;
  void BeginPortScan() override { m_scanning = true; }
  void EndPortScan() override { m_scanning = false; }
  LineCause LastCause() const override { return m_cause; }

 private:
  struct Connection {
    NetworkAddress address;
    std::string url;
    std::unique_ptr<TcpConnection> tcp;  // nullptr once lost
    Rfc2217Session session;
    std::deque<BYTE> received;  // data bytes not yet read
    COMMTIMEOUTS timeouts;
    std::optional<DCB> settings;      // last asked for
    bool settingsAwaited = false;     // their confirmation is still to come
    bool purgeConfirmed = true;       // the server has not yet failed to confirm a purge
    bool purgeSeenConfirmed = false;  // a purge of this connection was confirmed
  };

  Connection* Find(HANDLE h);
  // Connects and negotiates; false with m_cause set.
  bool Open(Connection& c);
  // Takes what the server sent (waiting up to waitMs for the first bytes),
  // answers its negotiation; false with m_cause set when the connection ended.
  bool Pump(Connection& c, int waitMs);
  // Waits (bounded) for the confirmation of the settings last sent; false
  // with m_cause set when it did not come or differs.
  bool AwaitSettings(Connection& c);
  bool Send(Connection& c, const std::vector<std::uint8_t>& bytes, int timeoutMs);
  void Lost(Connection& c, const std::string& text);
  void Fail(Connection* c, CauseKind kind, const std::string& text);

  Rfc2217Timing m_timing;
  bool m_scanning = false;
  std::map<HANDLE, Connection> m_open;
  std::intptr_t m_nextHandle = -2;
  LineCause m_cause;
};
