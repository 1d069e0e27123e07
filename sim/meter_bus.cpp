#include "sim/meter_bus.h"

#include "meter/reading_cycle.h"

namespace {

constexpr BYTE kSingleMeterAddress = 255;
constexpr BYTE kPositionTooLarge = 0x09;

}  // namespace

MeterBus::MeterBus(const std::vector<BusMeter>& meters, BusFaults faults)
    : m_faults(std::move(faults)) {
  for (const BusMeter& config : meters) m_stations.push_back({config, ZlmMeter(config.address)});
  Refresh(0);
}

void MeterBus::Refresh(std::uint64_t nowUs) {
  for (Station& station : m_stations) {
    const BusMeter& config = station.config;
    const double seconds = config.frozen ? 0.0 : static_cast<double>(nowUs) / 1e6;
    MeterReadings readings = ReadingsAt(config.profile, seconds);
    for (const auto& [code, value] : config.fixed) SetReading(readings, code, value);
    ApplyReadings(station.meter, readings);
    if (!m_faults.invalidBcd && !m_faults.positionTooLarge) continue;
    for (const ParameterInfo& parameter : kParameters) {
      ZlmMeter::RawValue raw = RawValueOf(EncodeReading(ReadingOf(readings, parameter.code)));
      if (m_faults.positionTooLarge) raw[0] = kPositionTooLarge;
      if (m_faults.invalidBcd)
        std::copy(std::begin(kInvalidBcdDigits), std::end(kInvalidBcdDigits), raw.begin() + 1);
      station.meter.SetRawValue(parameter.code, raw);
    }
  }
}

bool MeterBus::Addresses(BYTE addressByte) const {
  if (addressByte == kSingleMeterAddress) return !m_stations.empty();
  for (const Station& station : m_stations) {
    if (static_cast<BYTE>(station.meter.Address()) == addressByte) return true;
  }
  return false;
}

std::vector<BYTE> MeterBus::Offer(BYTE byte, bool ninthBit, std::string& from) {
  std::vector<BYTE> answers;
  for (Station& station : m_stations) {
    const std::vector<BYTE> answer = station.meter.Receive(byte, ninthBit);
    if (answer.empty()) continue;
    answers.insert(answers.end(), answer.begin(), answer.end());
    from += " " + std::to_string(station.meter.Address());
  }
  return answers;
}

std::vector<Transmission> MeterBus::Receive(BYTE byte, NinthBit bit, std::uint64_t nowUs) {
  std::vector<Transmission> out;
  const bool address = bit == NinthBit::kOne;
  if (address) {
    Refresh(nowUs);
    if (!m_faults.stray.empty()) out.push_back({nowUs, m_faults.stray, NinthBit::kZero, "stray"});
  }
  if (!(address && m_faults.addressEchoMissing)) out.push_back({nowUs, {byte}, bit, "echo"});

  std::string from;
  std::vector<BYTE> answer = Offer(byte, address, from);
  std::string note;
  if (answer.empty() && !address && m_recent.size() == 2 && m_recent[0].bit != NinthBit::kOne &&
      m_recent[1].bit != NinthBit::kOne &&
      byte == static_cast<BYTE>(m_recent[0].value + m_recent[1].value) &&
      Addresses(m_recent[0].value)) {
    Refresh(nowUs);
    Offer(m_recent[0].value, true, from);
    Offer(m_recent[1].value, false, from);
    answer = Offer(byte, false, from);
    note = ", address byte recovered from the checksum";
  }
  m_recent.push_back({byte, bit});
  if (m_recent.size() > 2) m_recent.pop_front();

  if (!answer.empty() && !m_faults.silent) {
    const std::uint64_t delayUs = m_faults.late ? std::uint64_t{m_faults.lateMs} * 1000 : 0;
    out.push_back({nowUs + delayUs, answer, NinthBit::kZero, "answer from meter" + from + note});
  }
  return out;
}
