// Arbitrary bytes from a network serial server, cut into arbitrary pieces,
// against the client's side of the telnet COM-PORT-OPTION protocol while it
// waits for settings and a purge: the decoder must never read outside what
// it was given, never make data out of nothing, keep subnegotiations
// bounded, and answer negotiation with whole three-byte commands only.
// Input: one byte of piece length (1..64), one byte choosing what the
// client asked for, then the server's bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "serial/rfc2217_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::uint8_t asked = data[1];
  data += 2;
  size -= 2;

  Rfc2217Session session;
  std::vector<std::uint8_t> out;
  session.Start(out);
  session.RequestSettings({.baudRate = 9600u << (asked % 8),
                           .dataSize = static_cast<std::uint8_t>(5 + asked % 4),
                           .parity = static_cast<std::uint8_t>(1 + asked % 5),
                           .stopSize = static_cast<std::uint8_t>(1 + asked % 3),
                           .dtr = (asked & 0x40) != 0,
                           .rts = (asked & 0x80) != 0},
                          out);
  if (asked & 0x20) session.RequestPurge(out);
  if (asked & 0x10) session.QueryBaudRate(out);

  std::size_t dataBytes = 0;
  for (std::size_t at = 0; at < size; at += piece) {
    const std::size_t length = std::min(piece, size - at);
    std::vector<std::uint8_t> received;
    std::vector<std::uint8_t> answers;
    session.Receive(data + at, length, received, answers);
    session.TakePurgeConfirmed();
    dataBytes += received.size();
    // Data never outgrows what came; each answer is IAC verb option.
    if (dataBytes > at + length) __builtin_trap();
    if (answers.size() % 3 != 0) __builtin_trap();
    for (std::size_t i = 0; i < answers.size(); i += 3) {
      if (answers[i] != 255 || answers[i + 1] < 251) __builtin_trap();
    }
  }
  // The outcome is always one of the states, and a refusal names its option.
  const NegotiationState state = session.Negotiation();
  if (state == NegotiationState::kRefused && session.RefusedOption().empty()) __builtin_trap();
  if (state != NegotiationState::kRefused && !session.RefusedOption().empty()) __builtin_trap();
  if (session.SettingsConfirmation() == Confirmation::kDiffers && session.Mismatch().empty()) {
    __builtin_trap();
  }
  return 0;
}
