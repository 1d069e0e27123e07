#include "sim/meter_bus.h"

#include <algorithm>

#include "meter/link_format.h"

void QueueByDueTime(std::vector<Transmission>& pending, Transmission t) {
  const auto at = std::upper_bound(
      pending.begin(), pending.end(), t.dueUs,
      [](std::uint64_t due, const Transmission& queued) { return due < queued.dueUs; });
  pending.insert(at, std::move(t));
}

MeterBus::MeterBus(BusFaults faults) : m_faults(std::move(faults)) {}

ZlmMeter& MeterBus::AttachMeter(int32_t address) { return m_meters.emplace_back(address); }

void MeterBus::Silence(int32_t address, std::uint64_t fromUs, std::uint64_t untilUs) {
  m_silent.push_back({address, fromUs, untilUs});
}

void MeterBus::Refresh(std::uint64_t nowUs) {
  if (m_refresh) m_refresh(nowUs);
}

bool MeterBus::Addresses(BYTE addressByte) const {
  if (addressByte == static_cast<BYTE>(kSingleMeterAddress)) return !m_meters.empty();
  for (const ZlmMeter& meter : m_meters) {
    if (static_cast<BYTE>(meter.Address()) == addressByte) return true;
  }
  return false;
}

std::vector<BYTE> MeterBus::Offer(BYTE byte, bool ninthBit, std::string& from) {
  std::vector<BYTE> answers;
  for (ZlmMeter& meter : m_meters) {
    const std::vector<BYTE> answer = meter.Receive(byte, ninthBit);
    if (answer.empty()) continue;
    const bool silent = std::any_of(m_silent.begin(), m_silent.end(), [&](const Silent& s) {
      return s.address == meter.Address() && m_nowUs >= s.fromUs && m_nowUs < s.untilUs;
    });
    if (silent) continue;
    answers.insert(answers.end(), answer.begin(), answer.end());
    from += " " + std::to_string(meter.Address());
  }
  return answers;
}

std::vector<Transmission> MeterBus::Receive(BYTE byte, NinthBit bit, std::uint64_t nowUs,
                                            bool garbled) {
  std::vector<Transmission> out;
  m_nowUs = nowUs;
  const bool address = bit == NinthBit::kOne;
  if (address) {
    if (!garbled) Refresh(nowUs);
    if (!m_faults.stray.empty()) out.push_back({nowUs, m_faults.stray, NinthBit::kZero, "stray"});
  }
  if (m_echo && !(address && m_faults.addressEchoMissing)) {
    out.push_back({nowUs, {byte}, bit, "echo"});
  }
  if (garbled) return out;

  std::string from;
  std::vector<BYTE> answer = Offer(byte, address, from);
  std::string note;
  if (m_recover && answer.empty() && !address && m_recent.size() == 2 &&
      m_recent[0].bit != NinthBit::kOne && m_recent[1].bit != NinthBit::kOne &&
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

  if (m_faults.answerCut > 0 && answer.size() > m_faults.answerCut) {
    answer.resize(m_faults.answerCut);
  }
  if (!answer.empty() && !m_faults.silent) {
    const std::uint64_t delayUs = m_faults.late ? std::uint64_t{m_faults.lateMs} * 1000 : 0;
    out.push_back({nowUs + delayUs, answer, NinthBit::kZero, "answer from meter" + from + note});
  }
  return out;
}
