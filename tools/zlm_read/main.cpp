// zlm-read: reads the seven parameters of ZLM meters on a serial port, once
// or repeatedly, and prints them as a table, CSV, JSON lines or InfluxDB line
// protocol, or publishes them to an MQTT broker.

#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

#include "meter/line_trace.h"
#include "serial/platform_serial_port.h"
#include "serial/port_discovery.h"
#include "tools/zlm_read/console.h"
#include "tools/zlm_read/options.h"
#include "tools/zlm_read/print_sink.h"
#include "tools/zlm_read/read_loop.h"
#include "tools/zlm_read/scan.h"

namespace {

// Where the readings go: the broker, and the terminal unless they go to a
// broker alone. Nothing, with error set, when a broker cannot be used.
std::vector<std::unique_ptr<ReadingSink>> MakeSinks(const ReadOptions& options,
                                                    [[maybe_unused]] std::string& error) {
  std::vector<std::unique_ptr<ReadingSink>> sinks;
#ifdef ZLM_WITH_MQTT
  if (!options.mqtt.url.empty()) {
    std::unique_ptr<ReadingSink> sink =
        MakeMqttSink(options.mqtt, options.port, options.addresses, stderr, error);
    if (!sink) return {};
    sinks.push_back(std::move(sink));
  }
#endif
  if (sinks.empty() || options.formatGiven) {
    sinks.push_back(
        std::make_unique<PrintSink>(options.format, options.addresses.size() > 1, stdout, stderr));
  }
  return sinks;
}

}  // namespace

int main(int argc, char** argv) {
  UseUtf8Output();
  const ParsedOptions parsed = ParseOptions(argc, argv, std::cout, std::cerr);
  if (!parsed.options) return parsed.exitCode;
  const ReadOptions& options = *parsed.options;

  StopRequests stop;
  PlatformSerialPort device;
  TracedLine traced(device, TracePathOf(options.tracePath), "zlm-read");
  if (!traced.Error().empty())
    std::fprintf(stderr, "zlm-read: no trace: %s\n", traced.Error().c_str());
  SerialPort& line = traced.Line();
  const HANDLE h = line.CreateFile(DevicePathOf(options.port));
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "%s\n", kMsgNoFreePort);
    PrintExplanation(ExplainCause(line.LastCause(), options.port));
    return kExitNoPort;
  }
  ApplyBaseline(line, h);

  if (options.scan) {
    const int scanExit = RunScan(line, h, options.port, options.format, [&stop] {
      return stop.WaitUntil(std::chrono::steady_clock::now());
    });
    line.CloseHandle(h);
    return scanExit;
  }

  std::string error;
  std::vector<std::unique_ptr<ReadingSink>> sinks = MakeSinks(options, error);
  if (sinks.empty()) {
    line.CloseHandle(h);
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitUsage;
  }
  const int exitCode = RunReadLoop(
      line, h, options.port, options.addresses, options.schedule, sinks,
      {[&stop](auto until) { return stop.WaitUntil(until); }, [&stop] { return stop.Pending(); }});
  line.CloseHandle(h);
  sinks.clear();  // the broker hears "offline" after the last reading
  return exitCode;
}
