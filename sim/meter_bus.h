#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "sim/zlm_meter.h"

// The ninth bit a byte went out with: fixed by mark or space parity,
// computed for odd and even, none without a parity bit.
enum class NinthBit : std::uint8_t { kZero, kOne, kNone };

// Faults of the line and of the answers of every meter on it.
struct BusFaults {
  bool silent = false;              // requests are heard, answers never sent
  bool late = false;                // answers come lateMs after the checksum
  std::uint32_t lateMs = 30;        // after the reader's read, before its next purge
  std::vector<BYTE> stray{};        // sent just ahead of each address byte's echo
  bool addressEchoMissing = false;  // address bytes are not echoed
  std::size_t answerCut = 0;        // answers end after this many bytes; 0: whole
};

// Bytes the bus sends back, and when (microseconds on the line's clock).
struct Transmission {
  std::uint64_t dueUs;
  std::vector<BYTE> bytes;
  NinthBit bit;
  std::string what;  // for the traffic log: echo, stray, answer ...
};

// Queues t among pending transmissions kept by due time, after those due at
// the same time.
void QueueByDueTime(std::vector<Transmission>& pending, Transmission t);

// The meters behind a line and the line's own behaviour: every byte the
// reader sends comes back at once (a two-wire bus hears itself), each meter
// gets every byte with its ninth bit, and the answers go out after it. Both
// the in-process line and the pty simulator drive one of these.
class MeterBus {
 public:
  explicit MeterBus(BusFaults faults = {});
  // Refreshers hold on to the meters.
  MeterBus(const MeterBus&) = delete;
  MeterBus& operator=(const MeterBus&) = delete;

  // A meter on the bus; it lives as long as the bus.
  ZlmMeter& AttachMeter(int32_t address);

  void SetFaults(BusFaults faults) { m_faults = std::move(faults); }
  // The meter at address hears requests but does not answer from fromUs
  // until untilUs on the bus's clock (for ever: the largest value).
  void Silence(int32_t address, std::uint64_t fromUs, std::uint64_t untilUs);
  // Whether the line returns every byte sent (on by default).
  void SetEcho(bool on) { m_echo = on; }
  // Called with the time before the meters hear the start of a request, so
  // readings that change over time can be brought up to date.
  void OnRequest(std::function<void(std::uint64_t nowUs)> refresh) {
    m_refresh = std::move(refresh);
  }
  // A line that samples the ninth bit may miss it on an address byte (taken
  // after the reader had already switched parity). With recovery on, a data
  // byte equal to the low byte of the two bytes before it, neither of which
  // was heard as an address byte, the first of them addressing a meter here,
  // has the three replayed to the meters as address, code and checksum.
  void RecoverMissedAddressBits(bool on) { m_recover = on; }

  // A byte from the reader at nowUs with the ninth bit it was sent with.
  // garbled: sent at a speed or size the meters do not understand, so only
  // the line (echo, stray bytes) reacts to it.
  std::vector<Transmission> Receive(BYTE byte, NinthBit bit, std::uint64_t nowUs,
                                    bool garbled = false);

 private:
  struct Heard {
    BYTE value;
    NinthBit bit;
  };

  void Refresh(std::uint64_t nowUs);
  bool Addresses(BYTE addressByte) const;
  // The byte to every meter; the answers it completes, one after the other.
  std::vector<BYTE> Offer(BYTE byte, bool ninthBit, std::string& from);

  std::deque<ZlmMeter> m_meters;
  BusFaults m_faults;
  bool m_echo = true;
  bool m_recover = false;
  std::function<void(std::uint64_t)> m_refresh;
  std::deque<Heard> m_recent;  // the last two bytes heard
  struct Silent {
    int32_t address;
    std::uint64_t fromUs;
    std::uint64_t untilUs;
  };
  std::vector<Silent> m_silent;
  std::uint64_t m_nowUs = 0;  // of the byte being received
};
