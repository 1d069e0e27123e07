#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The telnet byte stream (RFC 854/855) as a network serial server speaks it:
// data bytes with 0xFF doubled, option negotiation (IAC WILL/WONT/DO/DONT
// option) and subnegotiation (IAC SB option ... IAC SE).

namespace telnet {

inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kNop = 241;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;

}  // namespace telnet

// A negotiation (verb WILL, WONT, DO or DONT) or a whole subnegotiation
// (verb SB, its bytes with doubled 0xFF undone).
struct TelnetCommand {
  std::uint8_t verb = 0;
  std::uint8_t option = 0;
  std::vector<std::uint8_t> payload{};
  // The subnegotiation was longer than kMaxSubnegotiation; payload holds its start.
  bool truncated = false;
  // Data bytes the same Feed gave before this command, to tell what came
  // before it in the stream from what came after.
  std::size_t dataBefore = 0;

  friend bool operator==(const TelnetCommand&, const TelnetCommand&) = default;
};

// Splits what a server sends into data and commands. Bytes may arrive cut
// anywhere: the state carries over between calls. A subnegotiation is kept up
// to kMaxSubnegotiation bytes whatever the server sends, so a server that
// never ends one cannot make the decoder grow without bound. Other commands
// (NOP, GA, ...) are dropped; an IAC followed by anything else inside a
// subnegotiation ends it as if IAC SE had come.
class TelnetDecoder {
 public:
  static constexpr std::size_t kMaxSubnegotiation = 64;

  void Feed(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& data,
            std::vector<TelnetCommand>& commands);

 private:
  enum class State { kData, kIac, kNegotiation, kSubOption, kSubData, kSubIac };

  void EndSubnegotiation(std::size_t dataBefore, std::vector<TelnetCommand>& commands);

  State m_state = State::kData;
  std::uint8_t m_verb = 0;
  TelnetCommand m_sub;
};

// Data as it goes out: every 0xFF doubled.
void AppendEscaped(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t length);

// IAC verb option.
void AppendNegotiation(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option);

// IAC SB option payload IAC SE, 0xFF in the payload doubled.
void AppendSubnegotiation(std::vector<std::uint8_t>& out, std::uint8_t option,
                          const std::vector<std::uint8_t>& payload);
