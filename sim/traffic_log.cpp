#include "sim/traffic_log.h"

#include <cinttypes>

const char* NinthBitName(NinthBit bit) {
  if (bit == NinthBit::kOne) return "mark";
  return bit == NinthBit::kZero ? "space" : "none";
}

namespace {

std::string Stamp(std::uint64_t atUs) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%06" PRIu64, atUs / 1'000'000, atUs % 1'000'000);
  return text;
}

std::string Hex(BYTE byte) {
  char text[4];
  std::snprintf(text, sizeof text, " %02x", byte);
  return text;
}

}  // namespace

TrafficLog::TrafficLog(std::FILE* file) : m_file(file) {
  if (m_file != nullptr) m_writer = std::thread([this] { WriteQueued(); });
}

TrafficLog::~TrafficLog() {
  if (!m_writer.joinable()) return;
  {
    const std::lock_guard lock(m_mutex);
    m_closing = true;
  }
  m_wake.notify_one();
  m_writer.join();
}

void TrafficLog::Queue(std::string line) {
  if (m_file == nullptr) return;
  {
    const std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(line));
  }
  m_wake.notify_one();
}

void TrafficLog::WriteQueued() {
  std::vector<std::string> lines;
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
      if (m_queue.empty()) return;
      lines.swap(m_queue);
    }
    for (const std::string& line : lines) std::fputs(line.c_str(), m_file);
    std::fflush(m_file);
    lines.clear();
  }
}

void TrafficLog::Received(std::uint64_t atUs, BYTE byte, NinthBit bit) {
  if (m_file == nullptr) return;
  Queue(Stamp(atUs) + " rx" + Hex(byte) + " " + NinthBitName(bit) + "\n");
}

void TrafficLog::Sent(std::uint64_t atUs, const Transmission& transmission) {
  if (m_file == nullptr) return;
  std::string line = Stamp(atUs) + " tx";
  for (const BYTE byte : transmission.bytes) line += Hex(byte);
  Queue(line + " " + NinthBitName(transmission.bit) + " " + transmission.what + "\n");
}

void TrafficLog::Late(std::uint64_t atUs, const Transmission& transmission, std::uint64_t lateUs) {
  if (m_file == nullptr) return;
  char ms[32];
  std::snprintf(ms, sizeof ms, "%" PRIu64 ".%03" PRIu64, lateUs / 1000, lateUs % 1000);
  Queue(Stamp(atUs) + " late " + transmission.what + ": " + ms + "\n");
}

void TrafficLog::Note(std::uint64_t atUs, const std::string& text) {
  Queue(Stamp(atUs) + " note " + text + "\n");
}
