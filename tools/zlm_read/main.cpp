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
#include "tools/zlm_read/line_keeper.h"
#include "tools/zlm_read/options.h"
#include "tools/zlm_read/print_sink.h"
#include "tools/zlm_read/read_loop.h"
#include "tools/zlm_read/scan.h"
#ifdef ZLM_WITH_METRICS
#include "tools/command_line/command_line.h"
#include "tools/zlm_read/metrics_server.h"
#include "tools/zlm_read/reader_metrics.h"
#endif
#ifdef ZLM_WITH_SYSTEMD
#include "tools/zlm_read/service_notifier.h"
#endif

namespace {

// Where the readings go: the broker, the Modbus TCP server, and the terminal
// unless they go to those alone. Nothing, with error set, when a broker or
// the server cannot be used.
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
#ifdef ZLM_WITH_MODBUS
  if (!options.modbus.listen.empty()) {
    std::unique_ptr<ReadingSink> sink =
        MakeModbusSink(options.modbus, options.addresses, stderr, error);
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
  // Each change of the port's state is one line on stderr, and goes to
  // every sink.
  std::vector<std::unique_ptr<ReadingSink>> sinks;
  LineKeeper keeper(line, options.port, [&sinks](bool open, const std::string& text) {
    std::fprintf(stderr, "zlm-read: %s\n", text.c_str());
    std::fflush(stderr);
    for (const auto& sink : sinks) sink->LineChanged(open, text);
  });
  if (!keeper.Open()) {
    std::fprintf(stderr, "%s\n", kMsgNoFreePort);
    PrintExplanation(keeper.Cause());
    return kExitNoPort;
  }

  if (options.scan) {
    return RunScan(line, keeper.Handle(), options.port, options.format, options.answerWaitMs,
                   [&stop] { return stop.WaitUntil(std::chrono::steady_clock::now()); });
  }

  std::string error;
  sinks = MakeSinks(options, error);
  if (sinks.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitUsage;
  }
#ifdef ZLM_WITH_METRICS
  // Declared after the sinks, so it stops serving before they go.
  std::unique_ptr<MetricsServer> server;
  if (options.metrics) {
    auto metrics = std::make_unique<ReaderMetrics>(options.port, options.addresses, kToolVersion);
    metrics->WatchLine([&keeper] { return keeper.CountsSoFar(); });
    for (const auto& sink : sinks) {
      if (sink->Delivery()) metrics->WatchDelivery(sink.get());
    }
    server = MetricsServer::Start(
        *options.metrics, [m = metrics.get()] { return m->Text(); }, error);
    if (!server) {
      std::fprintf(stderr, "zlm-read: --metrics: %s\n", error.c_str());
      return kExitUsage;
    }
    std::fprintf(stderr, "zlm-read: metrics at http://%s/metrics\n", server->Where().c_str());
    std::fflush(stderr);
    sinks.push_back(std::move(metrics));
  }
#endif
  // The wait for the next cycle, broken up to tell systemd's watchdog that
  // the loop is alive.
  LoopStop loopStop{[&stop](auto until) { return stop.WaitUntil(until); },
                    [&stop] { return stop.Pending(); }};
#ifdef ZLM_WITH_SYSTEMD
  auto notifier = std::make_unique<ServiceNotifier>(options.port);
  if (const auto every = notifier->AliveEvery(); every.count() > 0) {
    loopStop.waitUntil = [&stop, every, n = notifier.get()](auto until) {
      for (;;) {
        const auto next = std::min(until, std::chrono::steady_clock::now() + every);
        if (stop.WaitUntil(next)) return true;
        n->Alive();
        if (next == until) return false;
      }
    };
  }
  sinks.push_back(std::move(notifier));
#endif
  int exitCode = RunReadLoop(keeper, options.port, options.addresses, options.schedule,
                             options.slowAfter, options.answerWaitMs, sinks, loopStop);
  // The broker hears "offline" after the last reading. A reading that did
  // not reach it fails a run of a given length.
  for (const auto& sink : sinks) {
    if (!sink->Close() && !options.schedule.forever) exitCode = kExitReadFailed;
  }
  return exitCode;
}
