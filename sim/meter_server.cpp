#include "sim/meter_server.h"

#include <poll.h>

#include <algorithm>

namespace {

constexpr std::uint64_t kLongestWaitUs = 100'000;

}  // namespace

MeterServer::MeterServer(PtyLine& line, MeterBus& bus, TrafficLog& log)
    : m_line(line), m_bus(bus), m_log(log), m_start(std::chrono::steady_clock::now()) {
  m_bus.RecoverMissedAddressBits(true);
}

std::uint64_t MeterServer::NowUs() const {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - m_start)
                                        .count());
}

void MeterServer::SendDue(std::uint64_t nowUs) {
  auto due = m_pending.begin();
  while (due != m_pending.end() && due->dueUs <= nowUs) {
    m_line.Write(due->bytes);
    m_log.Sent(NowUs(), *due);
    ++due;
  }
  m_pending.erase(m_pending.begin(), due);
}

void MeterServer::Run(const std::function<bool()>& stop, const sigset_t* waitMask) {
  while (!stop()) {
    std::uint64_t now = NowUs();
    SendDue(now);
    std::uint64_t waitUs = kLongestWaitUs;
    if (!m_pending.empty()) waitUs = std::min(waitUs, m_pending.front().dueUs - now);
    const timespec timeout{0, static_cast<long>(waitUs * 1000)};
    pollfd pfd{m_line.MasterFd(), POLLIN, 0};
    if (::ppoll(&pfd, 1, &timeout, waitMask) <= 0 || (pfd.revents & POLLIN) == 0) continue;

    // The ninth bit is sampled right before each byte is taken, while the
    // reader still holds the parity it sent the byte with.
    for (;;) {
      const NinthBit bit = m_line.SampleNinthBit();
      BYTE byte = 0;
      if (!m_line.ReadByte(byte)) break;
      now = NowUs();
      m_log.Received(now, byte, bit);
      for (Transmission& t : m_bus.Receive(byte, bit, now)) QueueByDueTime(m_pending, std::move(t));
      SendDue(NowUs());
    }
  }
}
