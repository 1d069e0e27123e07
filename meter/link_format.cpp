#include "meter/link_format.h"

#include <cassert>

MeterRequest MakeRequest(int32_t address, int32_t code) {
  // Unsigned so that extreme inputs cannot overflow; the low byte is the same.
  const auto sum = static_cast<uint32_t>(address) + static_cast<uint32_t>(code);
  return {static_cast<BYTE>(address), static_cast<BYTE>(code), static_cast<BYTE>(sum)};
}

int32_t DecodeBcd(BYTE b) { return (b >> 4) * 10 + (b & 0x0F); }

BYTE EncodeBcd(int32_t twoDigits) {
  return static_cast<BYTE>((twoDigits / 10) << 4 | twoDigits % 10);
}

int FindEchoShift(const ReceiveBlock& block, const MeterRequest& request) {
  const BYTE a = request.address;
  const BYTE c = request.code;
  const BYTE k = request.checksum;
  int shift = 0;
  if (block[1] == a && block[2] == c && block[3] == k) shift = -1;
  if (block[2] == a && block[3] == c && block[4] == k) shift = -2;
  if (block[0] == c && block[1] == k) shift = +1;
  return shift;
}

DecodedResponse DecodeResponse(const ReceiveBlock& block, int shift) {
  assert(shift >= -2 && shift <= 1);
  const auto at = [&](int index) {
    return DecodeBcd(block[static_cast<std::size_t>(index - shift)]);
  };
  const int32_t value = at(6) * 1'000'000 + at(7) * 10'000 + at(8) * 100 + at(9);
  return {value, at(5)};
}

ResponseBytes EncodeResponse(int32_t value, int32_t position) {
  return {EncodeBcd(position), EncodeBcd(value / 1'000'000), EncodeBcd(value / 10'000 % 100),
          EncodeBcd(value / 100 % 100), EncodeBcd(value % 100)};
}

double ScaleValue(double raw, int32_t position) {
  assert(position >= 0);
  int64_t divisor = 1;
  for (int32_t i = position; i < kMaxPosition; ++i) divisor *= 10;
  return raw / static_cast<double>(divisor);
}

bool IsValidMeterAddress(int32_t address) {
  return (address >= 0 && address <= kMaxBusAddress) || address == kSingleMeterAddress;
}
