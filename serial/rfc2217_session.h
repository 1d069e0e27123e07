#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/telnet_codec.h"

// Client side of the telnet COM-PORT-OPTION protocol (RFC 2217), without any
// I/O: what to send is appended to a buffer the caller sends, what the server
// sent is fed in. The caller owns the socket and the clock.

// Line settings as the protocol carries them.
struct Rfc2217Settings {
  std::uint32_t baudRate = 0;
  std::uint8_t dataSize = 0;  // 5..8
  std::uint8_t parity = 0;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
  std::uint8_t stopSize = 0;  // 1 one, 2 two, 3 one and a half
  bool dtr = false;
  bool rts = false;

  friend bool operator==(const Rfc2217Settings&, const Rfc2217Settings&) = default;
};

namespace rfc2217 {

// Client-to-server command codes; the server answers with the code + 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

inline constexpr std::uint8_t kControlNoFlowControl = 1;
inline constexpr std::uint8_t kControlDtrOn = 8;
inline constexpr std::uint8_t kControlDtrOff = 9;
inline constexpr std::uint8_t kControlRtsOn = 11;
inline constexpr std::uint8_t kControlRtsOff = 12;
inline constexpr std::uint8_t kPurgeReceive = 1;

inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kParityMark = 4;
inline constexpr std::uint8_t kParitySpace = 5;

}  // namespace rfc2217

// Where the telnet negotiation stands.
enum class NegotiationState { kPending, kDone, kRefused };

// The settings a change still waits for the server to confirm, and what the
// server confirmed instead where it did.
enum class Confirmation { kWaiting, kConfirmed, kDiffers };

class Rfc2217Session {
 public:
  // The opening of the negotiation: BINARY both ways, SUPPRESS-GO-AHEAD both
  // ways, COM-PORT-OPTION from us.
  void Start(std::vector<std::uint8_t>& out);

  // Bytes from the server: data goes to data (0xFF undone), negotiation is
  // answered into out, confirmations are noted.
  void Receive(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& data,
               std::vector<std::uint8_t>& out);

  // kDone once the server agreed to COM-PORT-OPTION and BINARY both ways;
  // kRefused as soon as it declined one of them (RefusedOption says which).
  NegotiationState Negotiation() const;
  std::string RefusedOption() const;

  // Asks for the baud rate in force without changing it. A server that
  // took the line answers; one whose line another client holds ends the
  // connection instead (possibly after agreeing to the options).
  void QueryBaudRate(std::vector<std::uint8_t>& out);
  // The baud rate the server reported, once it answered the query.
  std::optional<std::uint32_t> ReportedBaudRate() const { return m_reportedBaud; }

  // Asks for what differs between want and the settings last confirmed (all
  // of it when none are), and waits for the confirmation of those changes.
  // DTR and RTS go out without waiting: some servers never answer them.
  void RequestSettings(const Rfc2217Settings& want, std::vector<std::uint8_t>& out);
  // How the settings asked for last stand: confirmed once every awaited
  // value came back as asked; kDiffers as soon as one came back otherwise.
  Confirmation SettingsConfirmation() const;
  // Whether the confirmation of a setting (rfc2217::kSetBaudRate ..
  // kSetStopSize) is still awaited.
  bool Awaiting(std::uint8_t command) const {
    return command < m_awaited.size() && m_awaited[command] != 0;
  }
  // The first setting confirmed otherwise than asked (0: none), and the
  // words for it: its name, asked and confirmed values.
  std::uint8_t MismatchCommand() const { return m_mismatchCommand; }
  const std::string& Mismatch() const { return m_mismatch; }
  // Forgets the confirmed settings (after a failed change, the server's
  // state is unknown); the next request asks for everything.
  void ForgetSettings() { m_confirmed.reset(); }

  // Asks the server to discard the serial data it has received. Until it
  // confirms, data that arrives was read before the purge and is dropped:
  // Receive leaves out what precedes the confirmation, and
  // TakePurgeConfirmed tells once that data received earlier is stale too.
  void RequestPurge(std::vector<std::uint8_t>& out);
  bool PurgeAwaited() const { return m_purgeAwaited; }
  bool TakePurgeConfirmed() { return std::exchange(m_purgeConfirmed, false); }
  // Data as it goes out, 0xFF doubled.
  static void EncodeData(const std::uint8_t* data, std::size_t length,
                         std::vector<std::uint8_t>& out);

 private:
  // Per-option negotiation for one side (RFC 1143, without the queue bit).
  enum class Side : std::uint8_t { kNo, kYes, kWantYes, kRefused };

  // False for a confirmed purge, whose preceding data the caller drops.
  bool OnCommand(const TelnetCommand& command, std::vector<std::uint8_t>& out);
  void OnComPortReply(const TelnetCommand& command);
  void Await(std::uint8_t command, std::uint32_t value);

  TelnetDecoder m_decoder;
  std::array<Side, 256> m_us{};   // options we perform
  std::array<Side, 256> m_him{};  // options the server performs
  std::optional<Rfc2217Settings> m_confirmed;
  Rfc2217Settings m_asked;
  // Per command code: 1 while its confirmation is awaited, with the value.
  std::array<std::uint8_t, 5> m_awaited{};
  std::array<std::uint32_t, 5> m_awaitedValue{};
  bool m_purgeAwaited = false;
  bool m_purgeConfirmed = false;
  bool m_baudQueried = false;
  std::optional<std::uint32_t> m_reportedBaud;
  std::uint8_t m_mismatchCommand = 0;
  std::string m_mismatch;
};
