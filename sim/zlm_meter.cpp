#include "sim/zlm_meter.h"

#include <numeric>

#include "meter/link_format.h"
#include "meter/reading_cycle.h"

ZlmMeter::ZlmMeter(int32_t address) : address_(address) {
  for (const ParameterInfo& parameter : kParameters) SetValue(parameter.code, 0, 8);
}

bool ZlmMeter::SetValue(int32_t code, int32_t n, int32_t p) {
  if (n < 0 || n > 99'999'999 || p < 0 || p > 99) return false;
  SetRawValue(code, Encode(n, p));
  return true;
}

ZlmMeter::RawValue ZlmMeter::Encode(int32_t n, int32_t p) {
  return {EncodeBcd(p), EncodeBcd(n / 1'000'000), EncodeBcd(n / 10'000 % 100),
          EncodeBcd(n / 100 % 100), EncodeBcd(n % 100)};
}

void ZlmMeter::SetRawValue(int32_t code, const RawValue& raw) {
  values_[static_cast<BYTE>(code)] = raw;
}

std::vector<BYTE> ZlmMeter::Receive(BYTE byte, bool ninthBit) {
  const BYTE ownAddress = static_cast<BYTE>(address_);
  if (ninthBit) {
    const bool forMe = byte == ownAddress || byte == static_cast<BYTE>(kSingleMeterAddress);
    state_ = forMe ? State::kWantCode : State::kIdle;
    requestAddress_ = byte;
    return {};
  }
  switch (state_) {
    case State::kIdle:
      return {};
    case State::kWantCode:
      requestCode_ = byte;
      state_ = State::kWantChecksum;
      return {};
    case State::kWantChecksum:
      state_ = State::kIdle;
      break;
  }
  if (byte != static_cast<BYTE>(requestAddress_ + requestCode_)) return {};
  const auto value = values_.find(requestCode_);
  if (value == values_.end()) return {};

  std::vector<BYTE> answer{ownAddress, requestCode_};
  answer.insert(answer.end(), value->second.begin(), value->second.end());
  answer.push_back(static_cast<BYTE>(std::accumulate(answer.begin(), answer.end(), 0u)));
  return answer;
}
