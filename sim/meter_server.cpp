#include "sim/meter_server.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <string>

namespace {

constexpr std::uint64_t kLongestWaitUs = 100'000;
// Within this time of the last byte a request may be coming in; the server
// then wakes at least every kShortWaitUs, so a wake-up the system held back
// shows as one.
constexpr std::uint64_t kExchangeUs = 60'000;
constexpr std::uint64_t kShortWaitUs = 1'000;
// A transmission sent this long after its time is logged as late: the
// reader reads 20 ms after its checksum byte.
constexpr std::uint64_t kLateUs = 5'000;
// Low among real-time priorities: above every ordinary process, below the
// kernel's interrupt threads.
constexpr int kRealTimePriority = 10;

// Real-time scheduling for the calling thread where the system permits it,
// so that a busy machine does not delay the answers. Says what it got.
std::string RaiseToRealTime() {
  for (const int policy : {SCHED_FIFO, SCHED_RR}) {
    sched_param param{};
    param.sched_priority = std::min(kRealTimePriority, sched_get_priority_max(policy));
    if (::pthread_setschedparam(::pthread_self(), policy, &param) == 0) {
      return std::string("answering at real-time priority (") +
             (policy == SCHED_FIFO ? "SCHED_FIFO " : "SCHED_RR ") +
             std::to_string(param.sched_priority) + ")";
    }
  }
  return "real-time scheduling not permitted; answering at normal priority";
}

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
    const std::uint64_t sentUs = NowUs();
    m_log.Sent(sentUs, *due);
    if (sentUs >= due->dueUs + kLateUs) m_log.Late(sentUs, *due, sentUs - due->dueUs);
    ++due;
  }
  m_pending.erase(m_pending.begin(), due);
}

void MeterServer::Run(const std::function<bool()>& stop, const sigset_t* waitMask) {
  m_log.Note(NowUs(), RaiseToRealTime());
  std::optional<std::uint64_t> lastByteUs;
  while (!stop()) {
    std::uint64_t now = NowUs();
    SendDue(now);
    std::uint64_t waitUs =
        lastByteUs && now - *lastByteUs < kExchangeUs ? kShortWaitUs : kLongestWaitUs;
    if (!m_pending.empty()) waitUs = std::min(waitUs, m_pending.front().dueUs - now);
    const timespec timeout{0, static_cast<long>(waitUs * 1000)};
    pollfd pfd{m_line.MasterFd(), POLLIN, 0};
    const int ready = ::ppoll(&pfd, 1, &timeout, waitMask);
    // Woken after the wait should have ended: the system held the thread
    // back, and what came meanwhile is taken at least that much late.
    const std::uint64_t woke = NowUs();
    const std::uint64_t heldUs = woke > now + waitUs ? woke - (now + waitUs) : 0;
    if (ready <= 0 || (pfd.revents & POLLIN) == 0) continue;

    // The ninth bit is sampled right before each byte is taken, while the
    // reader still holds the parity it sent the byte with.
    for (;;) {
      const NinthBit bit = m_line.SampleNinthBit();
      BYTE byte = 0;
      if (!m_line.ReadByte(byte)) break;
      now = NowUs();
      lastByteUs = now;
      m_log.Received(now, byte, bit);
      for (Transmission& t : m_bus.Receive(byte, bit, now - heldUs))
        QueueByDueTime(m_pending, std::move(t));
      SendDue(NowUs());
    }
  }
}
