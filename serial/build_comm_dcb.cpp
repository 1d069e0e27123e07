#include <cctype>
#include <charconv>
#include <set>
#include <string>
#include <string_view>

#include "serial/serial_port.h"

// Device-control text: key=value pairs separated by blanks, keys and values
// case-insensitive, each key at most once.
//   baud=<1..4294967295>  parity=N|O|E|M|S  data=5|6|7|8  stop=1|1.5|2
//   rts=on|off|hs|tg  dtr=on|off|hs  xon=on|off  odsr=on|off  octs=on|off
//   idsr=on|off
// Every flow control is switched off first, so only what the text asks for
// is on afterwards; fields the text does not name keep their values.

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The DCB's flag fields are bit-fields on Windows, so no reference can be
// bound to them: the parsers hand the value to an assignment.
template <typename Field>
bool ParseOnOff(const std::string& value, Field&& assign) {
  if (value != "on" && value != "off") return false;
  assign(value == "on");
  return true;
}

bool ParseBaud(const std::string& value, DWORD& baud) {
  DWORD parsed = 0;
  const char* end = value.data() + value.size();
  auto [ptr, ec] = std::from_chars(value.data(), end, parsed);
  if (ec != std::errc() || ptr != end || parsed == 0) return false;
  baud = parsed;
  return true;
}

bool ParseParity(const std::string& value, BYTE& parity) {
  static constexpr std::string_view kLetters = "noems";  // index = parity code
  if (value.size() != 1 || kLetters.find(value[0]) == std::string_view::npos) return false;
  parity = static_cast<BYTE>(kLetters.find(value[0]));
  return true;
}

bool ParseDataBits(const std::string& value, BYTE& byteSize) {
  if (value.size() != 1 || value[0] < '5' || value[0] > '8') return false;
  byteSize = static_cast<BYTE>(value[0] - '0');
  return true;
}

// A value that must be one of a few words, each standing for a code.
struct Word {
  std::string_view text;
  BYTE code;
};

template <std::size_t N, typename Field>
bool ParseWord(const std::string& value, const Word (&words)[N], Field&& assign) {
  for (const Word& word : words) {
    if (value == word.text) {
      assign(word.code);
      return true;
    }
  }
  return false;
}

constexpr Word kStopBits[] = {{"1", ONESTOPBIT}, {"1.5", ONE5STOPBITS}, {"2", TWOSTOPBITS}};
constexpr Word kRtsControl[] = {{"on", RTS_CONTROL_ENABLE},
                                {"off", RTS_CONTROL_DISABLE},
                                {"hs", RTS_CONTROL_HANDSHAKE},
                                {"tg", RTS_CONTROL_TOGGLE}};
constexpr Word kDtrControl[] = {
    {"on", DTR_CONTROL_ENABLE}, {"off", DTR_CONTROL_DISABLE}, {"hs", DTR_CONTROL_HANDSHAKE}};

bool ApplyPair(const std::string& key, const std::string& value, DCB& dcb) {
  if (key == "baud") return ParseBaud(value, dcb.BaudRate);
  if (key == "parity") return ParseParity(value, dcb.Parity);
  if (key == "data") return ParseDataBits(value, dcb.ByteSize);
  if (key == "stop") return ParseWord(value, kStopBits, [&](BYTE c) { dcb.StopBits = c; });
  if (key == "rts") return ParseWord(value, kRtsControl, [&](BYTE c) { dcb.fRtsControl = c; });
  if (key == "dtr") return ParseWord(value, kDtrControl, [&](BYTE c) { dcb.fDtrControl = c; });
  if (key == "xon") return ParseOnOff(value, [&](bool on) { dcb.fInX = dcb.fOutX = on; });
  if (key == "odsr") return ParseOnOff(value, [&](bool on) { dcb.fOutxDsrFlow = on; });
  if (key == "octs") return ParseOnOff(value, [&](bool on) { dcb.fOutxCtsFlow = on; });
  if (key == "idsr") return ParseOnOff(value, [&](bool on) { dcb.fDsrSensitivity = on; });
  return false;
}

void TurnFlowControlOff(DCB& dcb) {
  dcb.fOutxCtsFlow = false;
  dcb.fOutxDsrFlow = false;
  dcb.fDsrSensitivity = false;
  dcb.fOutX = false;
  dcb.fInX = false;
  // Handshake modes of the control lines are flow control too; the line
  // stays asserted so a device powered from it keeps working.
  if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  }
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool BuildCommDCB(const std::string& def, DCB& dcb) {
  DCB parsed = dcb;
  TurnFlowControlOff(parsed);
  std::set<std::string> seen;
  std::size_t pos = 0;
  while (true) {
    while (pos < def.size() && IsBlank(def[pos])) ++pos;
    if (pos == def.size()) break;
    std::size_t end = pos;
    while (end < def.size() && !IsBlank(def[end])) ++end;
    const std::string_view pair(def.data() + pos, end - pos);
    pos = end;

    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string key = Lower(pair.substr(0, eq));
    if (!seen.insert(key).second) return false;
    if (!ApplyPair(key, Lower(pair.substr(eq + 1)), parsed)) return false;
  }
  if (seen.empty()) return false;
  dcb = parsed;
  return true;
}
