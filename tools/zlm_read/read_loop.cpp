#include "tools/zlm_read/read_loop.h"

#include "meter/exchange_diagnosis.h"
#include "meter/reading_cycle.h"
#include "tools/zlm_read/options.h"

int RunReadLoop(SerialPort& line, HANDLE h, const std::string& port,
                const std::vector<int>& addresses, const Schedule& schedule,
                const std::vector<std::unique_ptr<ReadingSink>>& sinks, const LoopStop& stop) {
  int exitCode = kExitOk;
  const auto start = std::chrono::steady_clock::now();
  for (long cycle = 0; schedule.forever || cycle < schedule.cycles; ++cycle) {
    if (stop.waitUntil(CycleStart(start, schedule.period, cycle))) break;
    for (const int address : addresses) {
      if (address != addresses.front() && stop.pending()) break;
      const auto time = std::chrono::system_clock::now();
      CycleResult result = ReadAllParameters(line, h, address);
      if (result.error) {
        exitCode = kExitReadFailed;
        const MeterFailure failure{
            time, port, address, result.error,
            ExplainFailedRead(line, h, result.failedReceived, result.failedExchange, port)};
        for (const auto& sink : sinks) sink->Failed(failure);
        continue;
      }
      const MeterCycle reading{time, port, address, std::move(result.readings)};
      for (const auto& sink : sinks) sink->Read(reading);
    }
  }
  return exitCode;
}
