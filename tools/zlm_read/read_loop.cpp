#include "tools/zlm_read/read_loop.h"

#include <cstdio>
#include <map>
#include <optional>

#include "meter/exchange_diagnosis.h"
#include "meter/reading_cycle.h"
#include "serial/port_discovery.h"
#include "tools/zlm_read/meter_pacing.h"
#include "tools/zlm_read/options.h"

namespace {

// A change of a meter's pace, one line on stderr.
void Note(const std::string& text) {
  if (text.empty()) return;
  std::fprintf(stderr, "zlm-read: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

int RunReadLoop(LineKeeper& keeper, const std::string& port, const std::vector<int>& addresses,
                const Schedule& schedule, int slowAfter, DWORD answerWaitMs,
                const std::vector<std::unique_ptr<ReadingSink>>& sinks, const LoopStop& stop) {
  using Clock = std::chrono::steady_clock;
  SerialPort& line = keeper.Line();
  int exitCode = kExitOk;
  MeterPacing pacing(addresses, slowAfter);
  // When each meter last read fine, so a failure can say how old its value is.
  std::map<int, std::chrono::system_clock::time_point> lastGood;
  const auto lastGoodOf = [&lastGood](int address) {
    const auto found = lastGood.find(address);
    return found == lastGood.end()
               ? std::nullopt
               : std::optional<std::chrono::system_clock::time_point>(found->second);
  };
  // Every meter not read because the port is away fails with what the last
  // attempt to open it said.
  const auto lineDown = [&](auto first, auto last) {
    exitCode = kExitReadFailed;
    for (; first != last; ++first) {
      const MeterFailure failure{std::chrono::system_clock::now(),
                                 port,
                                 *first,
                                 kMsgNoFreePort,
                                 keeper.Cause(),
                                 true,
                                 lastGoodOf(*first),
                                 keeper.CauseCode()};
      for (const auto& sink : sinks) sink->Failed(failure);
    }
  };
  const auto start = Clock::now();
  long slot = 0;
  for (long pass = 0; schedule.forever || pass < schedule.cycles; ++pass) {
    if (stop.waitUntil(CycleStart(start, schedule.period, slot))) break;
    if (!keeper.Ready(Clock::now())) {
      lineDown(addresses.begin(), addresses.end());
    } else {
      const std::vector<int> order = pacing.Pass(pass);
      for (auto at = order.begin(); at != order.end(); ++at) {
        const int address = *at;
        if (at != order.begin() && stop.pending()) break;
        const auto time = std::chrono::system_clock::now();
        const HANDLE h = keeper.Handle();
        const auto began = Clock::now();
        CycleResult result = ReadAllParameters(line, h, address, answerWaitMs);
        CycleTiming timing{std::chrono::duration<double>(Clock::now() - began).count(),
                           std::move(result.exchangeSeconds)};
        if (!result.error) {
          Note(pacing.Answered(address, pass));
          lastGood[address] = time;
          const MeterCycle reading{time, port, address, std::move(result.readings),
                                   std::move(timing)};
          for (const auto& sink : sinks) sink->Read(reading);
          continue;
        }
        exitCode = kExitReadFailed;
        FailedReadExplanation explained =
            ExplainFailedRead(line, h, result.failedReceived, result.failedExchange, port);
        const MeterFailure failure{time,
                                   port,
                                   address,
                                   result.error,
                                   std::move(explained.text),
                                   false,
                                   lastGoodOf(address),
                                   explained.code,
                                   std::move(timing)};
        for (const auto& sink : sinks) sink->Failed(failure);
        // The port's loss is no fault of the meters; the rest wait for it.
        if (keeper.CheckLost(Clock::now())) {
          lineDown(at + 1, order.end());
          break;
        }
        Note(pacing.Failed(address, pass));
      }
    }
    slot = NextCycle(start, schedule.period, Clock::now(), slot + 1);
  }
  return exitCode;
}
