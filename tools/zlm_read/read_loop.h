#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "tools/zlm_read/reading_sink.h"
#include "tools/zlm_read/schedule.h"

// How the loop hears of stop requests (StopRequests on a console).
struct LoopStop {
  // Waits until the time or a stop request; true when one came.
  std::function<bool(std::chrono::steady_clock::time_point)> waitUntil;
  // Whether a stop request waits, without taking it.
  std::function<bool()> pending;
};

// Reads every address in turn, cycle after cycle on the schedule, handing
// each meter's reading or failure to every sink. A stop request is taken
// before a cycle and between meters; the meter in progress is finished.
// port names the line as the user wrote it. Returns kExitOk, or
// kExitReadFailed when any reading failed.
int RunReadLoop(SerialPort& line, HANDLE h, const std::string& port,
                const std::vector<int>& addresses, const Schedule& schedule,
                const std::vector<std::unique_ptr<ReadingSink>>& sinks, const LoopStop& stop);
