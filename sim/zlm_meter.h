#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "meter/link_format.h"

// A ZLM meter on a 9-bit multidrop line, as the reader sees it.
//
// Request: the address byte with the ninth bit 1, then the code byte and the
// checksum byte with it 0. The meter takes a request sent to its own address
// or to 255 (the only meter on a line) and answers when the checksum is the
// low byte of address byte + code byte. An address byte always starts a new
// request, so a request cut short is forgotten; data bytes outside a request
// are ignored.
//
// Answer, eight bytes:
//   R0     the meter's own address (also when asked through 255)
//   R1     the code byte asked for
//   R2     decimal position P, packed BCD
//   R3-R6  the eight digits of the value N, packed BCD, most significant first
//   R7     low byte of the sum of R0..R6, for peers that check the answer
//
// The meter answers only codes it holds a value for. It starts with the seven
// codes of the reading cycle at N 0, P 8; to any other code it says nothing,
// like a meter that does not know the command. Values may be changed at any
// time; the next answer carries them.
class ZlmMeter {
 public:
  // R2..R6 of an answer as they go on the line.
  using RawValue = ResponseBytes;

  explicit ZlmMeter(int32_t address);

  int32_t Address() const { return m_address; }

  // N 0..99 999 999, P 0..99; anything else is refused (false, nothing kept).
  bool SetValue(int32_t code, int32_t n, int32_t p);
  // Bytes sent as they are, for answers no sound meter gives: nibbles above
  // 9, a position above 8.
  void SetRawValue(int32_t code, const RawValue& raw);

  // One character from the line. Returns the answer when it completes a
  // valid request for this meter, otherwise nothing.
  std::vector<BYTE> Receive(BYTE byte, bool ninthBit);

 private:
  enum class State { kIdle, kWantCode, kWantChecksum };

  int32_t m_address;
  std::map<BYTE, RawValue> m_values;  // keyed by the code byte on the line
  State m_state = State::kIdle;
  BYTE m_requestAddress = 0;
  BYTE m_requestCode = 0;
};
