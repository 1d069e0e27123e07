#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/zlm_read/line_keeper.h"
#include "tools/zlm_read/reading_sink.h"
#include "tools/zlm_read/schedule.h"

// How the loop hears of stop requests (StopRequests on a console).
struct LoopStop {
  // Waits until the time or a stop request; true when one came.
  std::function<bool(std::chrono::steady_clock::time_point)> waitUntil;
  // Whether a stop request waits, without taking it.
  std::function<bool()> pending;
};

// Reads the addresses cycle after cycle on the schedule, handing each
// meter's reading or failure to every sink. A meter that fails slowAfter
// times in a row is asked less often (MeterPacing); the meters that answer
// are read first. When the port's device goes away, the keeper opens it
// again; meanwhile every meter's cycle fails with the line down. A cycle
// whose start has passed is skipped. A stop request is taken before a cycle
// and between meters; the meter in progress is finished. port names the
// line as the user wrote it; answerWaitMs as for SendRequest. Returns
// kExitOk, or kExitReadFailed when any reading failed.
int RunReadLoop(LineKeeper& keeper, const std::string& port, const std::vector<int>& addresses,
                const Schedule& schedule, int slowAfter, DWORD answerWaitMs,
                const std::vector<std::unique_ptr<ReadingSink>>& sinks, const LoopStop& stop);
