#pragma once

#include <string>

// Why an operation on a serial line failed, for people who have to fix it:
// kept beside the operation's plain result, never instead of it.
enum class CauseKind {
  kNone,
  kUnmapped,         // a COM number no device has
  kNoDevice,         // the path leads nowhere
  kNotSerial,        // the path is no serial device (a file, /dev/null ...)
  kPermission,       // the user may not open the device
  kBusy,             // another program holds the device
  kParityNotKept,    // the adapter dropped mark or space parity
  kSettingsNotKept,  // the line refused or dropped other settings
  // A network serial server (detail: what was seen):
  kBadAddress,          // the text is no network port address
  kRefused,             // nothing accepts connections there
  kUnreachable,         // no such host, or no route to it
  kTimedOut,            // the connection was not answered in time
  kServerClosed,        // the server ended the connection while it was being set up
  kNoNegotiation,       // no telnet negotiation came back: not an RFC 2217 port
  kNegotiationRefused,  // the server declined an option the line needs
  kParityNotConfirmed,  // a parity change was not confirmed in time, or otherwise
  kConnectionLost,      // the connection broke while the line was in use
  kLineLost             // the device went away under an open port (unplugged, hung up, I/O error)
};

struct LineCause {
  CauseKind kind = CauseKind::kNone;
  std::string device{};     // the device the port name led to, where known
  std::string group{};      // kPermission: the device's group
  bool inGroup = false;     // kPermission: the user is listed in that group
  bool groupMayUse = true;  // kPermission: the group has read and write access
  std::string user{};       // kPermission: the user's login name
  long pid = 0;             // kBusy: the holder's process id, 0 when unknown
  std::string program{};    // kBusy: the holder's program name, where known
  std::string detail{};     // what the line saw, in its own words (which check refused)
};

// One line for a person: "cause: ..." with what was seen and what to do,
// naming the port as the user wrote it. Empty for kNone.
std::string ExplainCause(const LineCause& cause, const std::string& port);
