#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/meter_bus.h"

// One line per byte received and per transmission sent, and a line for each
// transmission the simulator itself sent after its time:
//   <seconds since start> rx <byte, hex> <mark|space|none>
//   <seconds since start> tx <bytes, hex ...> <mark|space|none> <what>
//   <seconds since start> late <what>: <milliseconds after its time>
//   <seconds since start> note <text>
// for example
//   0.215034 rx ff mark
//   0.215102 tx ff mark echo
//   0.259874 tx 07 01 04 01 23 45 00 75 space answer from meter 7
//   0.259874 late answer from meter 7: 12.480
// The lines are written and flushed by a thread of their own, so the thread
// that answers never waits for the file; they can still be followed live.
class TrafficLog {
 public:
  // file stays owned by the caller; nullptr logs nothing. Everything logged
  // is in the file when the log is destroyed.
  explicit TrafficLog(std::FILE* file);
  ~TrafficLog();
  TrafficLog(const TrafficLog&) = delete;
  TrafficLog& operator=(const TrafficLog&) = delete;

  void Received(std::uint64_t atUs, BYTE byte, NinthBit bit);
  void Sent(std::uint64_t atUs, const Transmission& transmission);
  void Late(std::uint64_t atUs, const Transmission& transmission, std::uint64_t lateUs);
  void Note(std::uint64_t atUs, const std::string& text);

 private:
  void Queue(std::string line);
  void WriteQueued();

  std::FILE* m_file;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<std::string> m_queue;
  bool m_closing = false;
  std::thread m_writer;
};

const char* NinthBitName(NinthBit bit);
