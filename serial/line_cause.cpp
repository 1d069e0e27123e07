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
      return "cause: " + device + " did not keep 9600 baud, 8 data bits, 1 stop bit";
    case CauseKind::kLineLost:
      return "cause: " + device + " went away" +
             (cause.detail.empty() ? std::string() : " (" + cause.detail + ")") +
             ": the adapter was unplugged or its other end (a network line, a simulator) ended";
  }
  return {};
}
