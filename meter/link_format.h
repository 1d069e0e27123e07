#pragma once

#include <array>
#include <cstdint>

#include "serial/serial_port.h"

// The bytes that pass between the reader and a ZLM meter, and the pure
// computations on them. The line uses 9-bit addressing: the address byte
// goes out with the ninth (parity) bit 1, code and checksum with it 0.

// The three request bytes, in the order they are sent.
struct MeterRequest {
  BYTE address;
  BYTE code;
  BYTE checksum;
};

// Only the low bytes go on the wire; the checksum is the low 8 bits of
// code + address.
MeterRequest MakeRequest(int32_t address, int32_t code);

// One read of the line after a request: the echo of the request, then the
// meter's answer R0..R6. Positions the line did not fill hold 0.
inline constexpr int kBlockLength = 12;
using ReceiveBlock = std::array<BYTE, kBlockLength>;

// Packed BCD, high nibble tens. Nibbles are not validated: 0x0A gives 10,
// 0xFF gives 165.
int32_t DecodeBcd(BYTE b);
// Two decimal digits 0..99 as packed BCD: 12 gives 0x12.
BYTE EncodeBcd(int32_t twoDigits);

// Where the echo of the request sits in the block: 0 for a clean echo at
// positions 0..2, -1 and -2 for one or two stray bytes ahead of it, +1 when
// the echo of the address byte is missing. The tests run in that order
// (-1, -2, +1) and a later match overrides an earlier one.
int FindEchoShift(const ReceiveBlock& block, const MeterRequest& request);

// The answer starts at block position 3 - shift: R2 holds the decimal
// position P, R3..R6 the eight digits of the value N (most significant
// first). shift must be one FindEchoShift gives (-2..+1).
struct DecodedResponse {
  int32_t value;
  int32_t position;
};
DecodedResponse DecodeResponse(const ReceiveBlock& block, int shift);

// R2..R6 as a meter sends them: P, then N's eight digits in four BCD bytes.
using ResponseBytes = std::array<BYTE, 5>;
// What DecodeResponse reads back: value 0..99 999 999, position 0..99.
ResponseBytes EncodeResponse(int32_t value, int32_t position);

// P counts the digits of N before the decimal point; more than this is a
// failed read.
inline constexpr int32_t kMaxPosition = 8;

// raw / 10^(8 - position). The divisor is an integer built by multiplying 1
// by 10 (8 - position) times, so a position of 8 or more leaves raw as it
// is. position must not be negative (a decoded one never is).
double ScaleValue(double raw, int32_t position);

// 0..31 address one meter of a shared line; 255 the only meter on a line,
// which every meter takes as its own.
inline constexpr int32_t kMaxBusAddress = 31;
inline constexpr int32_t kSingleMeterAddress = 255;
bool IsValidMeterAddress(int32_t address);
