// Arbitrary 12-byte blocks against arbitrary requests: echo alignment,
// decoding, scaling and the answer checks must never read outside the block
// and must keep their results in range.
// Input: 12 block bytes, address, code and checksum bytes, the read count.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "meter/link_format.h"
#include "meter/read_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kBlockLength + 4) return 0;
  ReceiveResult received;
  std::copy_n(data, kBlockLength, received.block.begin());
  received.request = {data[12], data[13], data[14]};
  received.count = data[15] % (kBlockLength + 1);

  const int shift = FindEchoShift(received.block, received.request);
  if (shift < -2 || shift > 1) __builtin_trap();
  const DecodedResponse decoded = DecodeResponse(received.block, shift);
  if (decoded.value < 0 || decoded.value > 166'666'665) __builtin_trap();
  if (decoded.position < 0 || decoded.position > 165) __builtin_trap();
  const double scaled = ScaleValue(decoded.value, decoded.position);
  if (!std::isfinite(scaled) || scaled < 0 || scaled > decoded.value) __builtin_trap();

  const ExchangeResult result = DecodeAnswer(received);
  if (result.error == nullptr) {
    if (result.position > kMaxPosition || result.value != decoded.value) __builtin_trap();
  } else if (result.value != 0) {
    __builtin_trap();
  }
  return 0;
}
