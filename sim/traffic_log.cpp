#include "sim/traffic_log.h"

const char* NinthBitName(NinthBit bit) {
  switch (bit) {
    case NinthBit::kOne:
      return "mark";
    case NinthBit::kZero:
      return "space";
    case NinthBit::kNone:
      break;
  }
  return "none";
}

namespace {

void Stamp(std::FILE* file, std::uint64_t atUs) {
  std::fprintf(file, "%llu.%06llu", static_cast<unsigned long long>(atUs / 1'000'000),
               static_cast<unsigned long long>(atUs % 1'000'000));
}

}  // namespace

void TrafficLog::Received(std::uint64_t atUs, BYTE byte, NinthBit bit) {
  if (m_file == nullptr) return;
  Stamp(m_file, atUs);
  std::fprintf(m_file, " rx %02x %s\n", byte, NinthBitName(bit));
  std::fflush(m_file);
}

void TrafficLog::Sent(std::uint64_t atUs, const Transmission& transmission) {
  if (m_file == nullptr) return;
  Stamp(m_file, atUs);
  std::fputs(" tx", m_file);
  for (const BYTE byte : transmission.bytes) std::fprintf(m_file, " %02x", byte);
  std::fprintf(m_file, " %s %s\n", NinthBitName(transmission.bit), transmission.what.c_str());
  std::fflush(m_file);
}
