#include "sim/zlm_meter.h"

#include <numeric>

#include "meter/link_format.h"
#include "meter/reading_cycle.h"

ZlmMeter::ZlmMeter(int32_t address) : m_address(address) {
  for (const ParameterInfo& parameter : kParameters) SetValue(parameter.code, 0, 8);
}

bool ZlmMeter::SetValue(int32_t code, int32_t n, int32_t p) {
  if (n < 0 || n > 99'999'999 || p < 0 || p > 99) return false;
  SetRawValue(code, EncodeResponse(n, p));
  return true;
}

void ZlmMeter::SetRawValue(int32_t code, const RawValue& raw) {
  m_values[static_cast<BYTE>(code)] = raw;
}

std::vector<BYTE> ZlmMeter::Receive(BYTE byte, bool ninthBit) {
  const BYTE ownAddress = static_cast<BYTE>(m_address);
  if (ninthBit) {
    const bool forMe = byte == ownAddress || byte == static_cast<BYTE>(kSingleMeterAddress);
    m_state = forMe ? State::kWantCode : State::kIdle;
    m_requestAddress = byte;
    return {};
  }
  switch (m_state) {
    case State::kIdle:
      return {};
    case State::kWantCode:
      m_requestCode = byte;
      m_state = State::kWantChecksum;
      return {};
    case State::kWantChecksum:
      m_state = State::kIdle;
      break;
  }
  if (byte != MakeRequest(m_requestAddress, m_requestCode).checksum) return {};
  const auto value = m_values.find(m_requestCode);
  if (value == m_values.end()) return {};

  std::vector<BYTE> answer{ownAddress, m_requestCode};
  answer.insert(answer.end(), value->second.begin(), value->second.end());
  answer.push_back(static_cast<BYTE>(std::accumulate(answer.begin(), answer.end(), 0u)));
  return answer;
}
