#include "serial/line_cause.h"

namespace {

// Where a person looks for the machine's serial ports, and what a driver
// must support for 9-bit addressing.
#ifdef _WIN32
constexpr char kListedPortHint[] = "; pick a port Device Manager lists under Ports (COM & LPT)";
constexpr char kPluggedInHint[] = " (Device Manager, Ports (COM & LPT))";
constexpr char kParityDriver[] = "";
#else
constexpr char kPluggedInHint[] = " (ls /dev/serial/by-id)";
constexpr char kParityDriver[] = " (CMSPAR)";
#endif

std::string DeviceOf(const LineCause& cause, const std::string& port) {
  if (cause.device.empty() || cause.device == port) return port;
  return port + " (" + cause.device + ")";
}

// " (what was seen)" where the line said what it saw.
std::string Seen(const LineCause& cause) {
  return cause.detail.empty() ? std::string() : " (" + cause.detail + ")";
}

}  // namespace

std::string ExplainCause(const LineCause& cause, const std::string& port) {
  const std::string device = DeviceOf(cause, port);
  switch (cause.kind) {
    case CauseKind::kNone:
      return {};
    case CauseKind::kUnmapped:
#ifdef _WIN32
      return "cause: no serial device has the number " + port + kListedPortHint;
#else
      return "cause: no serial device has the number " + port +
             "; pick a listed port, or link a device as that number: ln -s /dev/ttyUSB0 "
             "~/.config/zlm-reader/ports/" +
             port;
#endif
    case CauseKind::kNoDevice:
      return "cause: " + device + " does not exist; check that the adapter is plugged in" +
             kPluggedInHint;
    case CauseKind::kNotSerial:
      return "cause: " + device + " is not a serial device";
    case CauseKind::kPermission: {
      const std::string group = cause.group.empty() ? "its group" : "group " + cause.group;
      std::string text = "cause: permission denied on " + device + " (" + group + "); ";
      if (!cause.groupMayUse) {
        return text + "the device gives its group no read and write access (mode 0660 expected)";
      }
      if (cause.group.empty() || cause.user.empty()) return text + "ask an administrator";
      if (cause.inGroup) {
        return text + cause.user + " is in " + cause.group +
               " but this session is not: log out and in again";
      }
      return text + cause.user + " is not in " + cause.group + ": sudo adduser " + cause.user +
             " " + cause.group + ", then log in again";
    }
    case CauseKind::kBusy: {
      std::string holder = "another program";
      if (cause.pid > 0) {
        holder = "process " + std::to_string(cause.pid);
        if (!cause.program.empty()) holder += " (" + cause.program + ")";
      }
      return "cause: " + device + " is in use by " + holder +
             "; end it or close its port, then try again";
    }
    case CauseKind::kParityNotKept:
      return "cause: the adapter of " + device +
             " did not keep mark/space parity, which 9-bit addressing needs; use an adapter "
             "whose driver supports it" +
             kParityDriver;
    case CauseKind::kSettingsNotKept:
      return "cause: " + device + " did not keep 9600 baud, 8 data bits, 1 stop bit" + Seen(cause);
    case CauseKind::kBadAddress:
      return "cause: " + port +
             " is no network port address; write rfc2217://HOST:PORT (an IPv6 address in "
             "brackets: rfc2217://[::1]:4001)";
    case CauseKind::kRefused:
      return "cause: nothing accepts connections at " + device + Seen(cause) +
             ": the serial server is not running or listens on another port";
    case CauseKind::kUnreachable:
      return "cause: " + device + " cannot be reached" + Seen(cause) +
             ": check the host name and the network";
    case CauseKind::kTimedOut:
      return "cause: " + device +
             " did not answer the connection in time: the host is off, or a firewall drops it";
    case CauseKind::kServerClosed:
      return "cause: the server at " + device + " ended the connection at once" + Seen(cause) +
             ": another client holds its line, or it cannot open its serial device";
    case CauseKind::kNoNegotiation:
      return "cause: " + device + " is no RFC 2217 port" + Seen(cause) +
             ": set the server's port to telnet with RFC 2217 (ser2net: accepter "
             "telnet(rfc2217),tcp,PORT)";
    case CauseKind::kNegotiationRefused:
      return "cause: the server at " + device + " refused the telnet option " + cause.detail +
             ": set its port to telnet with RFC 2217 (ser2net: accepter telnet(rfc2217),tcp,PORT)";
    case CauseKind::kParityNotConfirmed:
      return "cause: the server at " + device +
             " did not confirm the mark/space parity that 9-bit addressing needs" + Seen(cause) +
             "; check that its serial line supports mark and space parity, and the network's delay";
    case CauseKind::kConnectionLost:
      return "cause: the connection to " + device + " was lost" + Seen(cause) +
             "; it is made again at the next reading";
    case CauseKind::kLineLost:
      return "cause: " + device + " went away" +
             (cause.detail.empty() ? std::string() : " (" + cause.detail + ")") +
             ": the adapter was unplugged or its other end (a network line, a simulator) ended";
  }
  return {};
}
