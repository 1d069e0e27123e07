// zlm-read: reads the seven parameters of ZLM meters on a serial port, once
// or repeatedly, and prints them as a table, CSV, JSON lines or InfluxDB line
// protocol, or publishes them to an MQTT broker.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "meter/exchange_diagnosis.h"
#include "meter/line_trace.h"
#include "meter/link_format.h"
#include "meter/read_exchange.h"
#include "meter/reading_cycle.h"
#include "meter/reading_output.h"
#include "serial/platform_serial_port.h"
#include "serial/port_discovery.h"
#include "tools/zlm_read/address_list.h"
#include "tools/zlm_read/console.h"
#include "tools/zlm_read/line_keeper.h"
#include "tools/zlm_read/meter_pacing.h"
#include "tools/zlm_read/print_sink.h"
#include "tools/zlm_read/scan.h"
#include "ui/framework/number_text.h"
#ifdef ZLM_WITH_MQTT
#include "tools/zlm_read/mqtt_sink.h"
#endif

namespace {

constexpr char kMsgNoFreePort[] = "No free COM ports";

// Exit codes, documented in --help.
constexpr int kExitOk = 0;
constexpr int kExitReadFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadAddress = 3;
constexpr int kExitNoPort = 4;

int Fail(const char* message, int code) {
  std::fprintf(stderr, "%s\n", message);
  return code;
}

// Intervals the schedule can wait for: a millisecond to a year.
constexpr double kShortestIntervalS = 0.001;
constexpr double kLongestIntervalS = 365 * 24 * 3600.0;

// Seconds written as the dialogs write numbers (dot, optional exponent),
// within the bounds above; nullopt for anything else, nan and inf included.
std::optional<std::chrono::nanoseconds> IntervalOf(std::string_view text) {
  const std::optional<double> seconds = ParseDouble(text);
  if (!seconds || *seconds < kShortestIntervalS || *seconds > kLongestIntervalS) {
    return std::nullopt;
  }
  return std::chrono::nanoseconds(std::llround(*seconds * 1e9));
}

// The start of cycle n on a fixed schedule, so cycles do not drift; the
// clock's end when that lies beyond what the clock can hold.
std::chrono::steady_clock::time_point CycleStart(std::chrono::steady_clock::time_point start,
                                                 std::chrono::nanoseconds period, long cycle) {
  using Clock = std::chrono::steady_clock;
  const auto fitting = (Clock::time_point::max() - start) / period;
  if (cycle > fitting) return Clock::time_point::max();
  return start + period * cycle;
}

// The first cycle that starts at now or later, and not before earliest:
// after a stall (the process stopped, the machine suspended, a long
// failure) the cycles whose start has passed are skipped, not caught up.
long NextCycle(std::chrono::steady_clock::time_point start, std::chrono::nanoseconds period,
               std::chrono::steady_clock::time_point now, long earliest) {
  if (now <= start) return earliest;
  const auto passed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start);
  const long due = static_cast<long>((passed + period - std::chrono::nanoseconds(1)) / period);
  return std::max(earliest, due);
}

}  // namespace

int main(int argc, char** argv) {
  UseUtf8Output();
  std::string port;
  std::vector<std::string> addressTexts;
  std::string intervalText;
  int count = 0;
  std::string format = "table";
  bool scan = false;
  std::string tracePath;
  int slowAfter = 3;

  CLI::App app{
      "Reads the seven parameters of ZLM flow meters (volume m3 and l, hours, flow m3/h,\n"
      "l/min and %, nominal diameter) with the same exchange as the window, and prints them.\n"
      "Reads once by default; --interval repeats every SECONDS (until Ctrl+C, or --count\n"
      "cycles); --count alone repeats with the window's period of 2 s. With several\n"
      "addresses each cycle reads the meters in turn; a meter that fails is reported and\n"
      "the others are read on (see --slow-after). A cycle whose start has passed (the\n"
      "reader was stopped, or a cycle took longer) is skipped, not caught up. When the\n"
      "port's device goes away (unplugged, hung up), the port is opened again by its\n"
      "name after 1 s, then twice as long each time, up to every 60 s.\n\n"
      "Exit codes: 0 every reading succeeded; 1 a reading failed (its message on stderr: e.g.\n"
      "\"No answer from ZLM\", \"SetCommState M1 error\", \"Error reading (mnogitel>8)\");\n"
      "2 bad command line; 3 \"Incorrect Adres ZLM\" (address not 0..31 or 255);\n"
      "4 \"No free COM ports\" (the port does not exist, is no serial device, or is in use).\n"
      "After a failure message one more line, \"cause: ...\" or \"hint: ...\", says why.\n"
      "--scan asks addresses 0..31 once each and exits 0 when a meter answered, 1 when none.\n" +
          std::string(kStopHelp) + " ends after the meter in progress, with the exit code so far.",
      "zlm-read"};
  app.add_option("--port", port, kPortHelp)->required();
  CLI::Option* addressOption =
      app.add_option("--address", addressTexts,
                     "Meter address: 0..31, or 255 for the only meter; decimal, as typed in the "
                     "window's address field. Several meters: 1,3,7 or the option repeated");
  addressOption->check(CLI::Validator(AddressValueError, ""))->type_name("N[,N...]");
  app.add_option("--interval", intervalText,
                 "Seconds from the start of one cycle to the next (0.001 to 31536000)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return IntervalOf(text) ? std::string()
                                    : "'" + text +
                                          "' is not a number of seconds from 0.001 to "
                                          "31536000 (a year)";
          },
          ""))
      ->type_name("SECONDS");
  app.add_option("--count", count, "Number of cycles")->check(CLI::Range(1, 1 << 30));
  app.add_option("--slow-after", slowAfter,
                 "A meter that fails K times in a row is asked every 2nd cycle, then every 4th "
                 "... up to every 16th, until it answers again; 0: every cycle regardless")
      ->check(CLI::Range(0, 1000))
      ->capture_default_str()
      ->type_name("K");
  CLI::Option* formatOption =
      app.add_option("--format", format,
                     "Output: table, csv (with a header line), json (one line per reading) or "
                     "influx (InfluxDB line protocol)")
          ->check(CLI::IsMember({"table", "csv", "json", "influx"}))
          ->capture_default_str();
  CLI::Option* scanOption =
      app.add_flag("--scan", scan,
                   "Find the meters on the line: ask each address 0..31 once for the nominal "
                   "diameter and print what answered");
  scanOption->excludes(addressOption)->excludes("--interval")->excludes("--count");
  app.add_option("--trace", tracePath,
                 "Append every line operation and each decoded exchange to FILE (default: the "
                 "file named by ZLM_TRACE, if set)")
      ->type_name("FILE");
#ifdef ZLM_WITH_MQTT
  MqttOptions mqtt;
  AddMqttOptions(app, mqtt);
  app.get_option("--mqtt")->excludes(scanOption);
#endif
  try {
    app.parse(argc, argv);
    if (!scan && addressOption->count() == 0) {
      throw CLI::RequiredError("--address or --scan");
    }
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  const AddressList addresses = ParseAddressList(addressTexts);
  if (!addresses.error.empty()) {
    return Fail(("--address: " + addresses.error).c_str(), kExitUsage);
  }
  const std::optional<std::chrono::nanoseconds> interval =
      intervalText.empty() ? std::nullopt : IntervalOf(intervalText);

  const OutputFormat output = format == "csv"      ? OutputFormat::kCsv
                              : format == "json"   ? OutputFormat::kJson
                              : format == "influx" ? OutputFormat::kInflux
                                                   : OutputFormat::kTable;
  if (scan && output == OutputFormat::kInflux) {
    return Fail("--format: influx is for readings; --scan prints table, csv or json", kExitUsage);
  }
  const bool forever = interval && count == 0;
  if (count == 0) count = 1;
  const std::chrono::nanoseconds period =
      interval ? *interval : std::chrono::milliseconds(POLL_PERIOD_MS);

  // Nothing goes on the line for an address the meter cannot have.
  for (const int address : addresses.addresses) {
    if (!IsValidMeterAddress(address)) return Fail(kMsgIncorrectAddress, kExitBadAddress);
  }

  StopRequests stop;
  PlatformSerialPort device;
  TracedLine traced(device, TracePathOf(tracePath), "zlm-read");
  if (!traced.Error().empty())
    std::fprintf(stderr, "zlm-read: no trace: %s\n", traced.Error().c_str());
  SerialPort& line = traced.Line();
  // The terminal shows the readings unless they go to a broker alone.
  std::vector<std::unique_ptr<ReadingSink>> sinks;
  LineKeeper keeper(line, port, [&sinks](bool open, const std::string& text) {
    std::fprintf(stderr, "zlm-read: %s\n", text.c_str());
    std::fflush(stderr);
    for (const auto& sink : sinks) sink->LineChanged(open, text);
  });
  if (!keeper.Open()) {
    Fail(kMsgNoFreePort, kExitNoPort);
    PrintExplanation(keeper.Cause());
    return kExitNoPort;
  }

  if (scan) {
    return RunScan(line, keeper.Handle(), port, output,
                   [&stop] { return stop.WaitUntil(std::chrono::steady_clock::now()); });
  }

  const bool severalMeters = addresses.addresses.size() > 1;
#ifdef ZLM_WITH_MQTT
  if (!mqtt.url.empty()) {
    std::string error;
    std::unique_ptr<ReadingSink> sink =
        MakeMqttSink(mqtt, port, addresses.addresses, stderr, error);
    if (!sink) return Fail(error.c_str(), kExitUsage);
    sinks.push_back(std::move(sink));
  }
#endif
  if (sinks.empty() || formatOption->count() > 0) {
    sinks.push_back(std::make_unique<PrintSink>(output, severalMeters, stdout, stderr));
  }

  int exitCode = kExitOk;
  MeterPacing pacing(addresses.addresses, slowAfter);
  const auto note = [](const std::string& text) {
    if (text.empty()) return;
    std::fprintf(stderr, "zlm-read: %s\n", text.c_str());
    std::fflush(stderr);
  };
  // Every meter not read because the line is away fails with what the
  // last attempt to open it said.
  const auto lineDown = [&](const std::vector<int>& meters) {
    exitCode = kExitReadFailed;
    for (const int address : meters) {
      const MeterFailure failure{
          std::chrono::system_clock::now(), port, address, kMsgNoFreePort, keeper.Cause(), true};
      for (const auto& sink : sinks) sink->Failed(failure);
    }
  };
  const auto start = std::chrono::steady_clock::now();
  long slot = 0;
  for (long pass = 0; forever || pass < count; ++pass) {
    if (stop.WaitUntil(CycleStart(start, period, slot))) break;
    if (!keeper.Ready(std::chrono::steady_clock::now())) {
      lineDown(addresses.addresses);
    } else {
      const std::vector<int> order = pacing.Pass(pass);
      for (std::size_t i = 0; i < order.size(); ++i) {
        const int address = order[i];
        // A stop request is taken between meters too; the meter in progress is finished.
        if (i > 0 && stop.Pending()) break;
        const auto time = std::chrono::system_clock::now();
        const HANDLE h = keeper.Handle();
        CycleResult result = ReadAllParameters(line, h, address);
        if (!result.error) {
          note(pacing.Answered(address, pass));
          const MeterCycle reading{time, port, address, std::move(result.readings)};
          for (const auto& sink : sinks) sink->Read(reading);
          continue;
        }
        exitCode = kExitReadFailed;
        const MeterFailure failure{
            time, port, address, result.error,
            ExplainFailedRead(line, h, result.failedReceived, result.failedExchange, port)};
        for (const auto& sink : sinks) sink->Failed(failure);
        // The line's loss is no fault of the meters; the rest wait for it.
        if (keeper.CheckLost(std::chrono::steady_clock::now())) {
          lineDown({order.begin() + static_cast<std::ptrdiff_t>(i) + 1, order.end()});
          break;
        }
        note(pacing.Failed(address, pass));
      }
    }
    slot = NextCycle(start, period, std::chrono::steady_clock::now(), slot + 1);
  }
  // The broker hears "offline" after the last reading. A reading that did
  // not reach it fails a run of a given length.
  for (const auto& sink : sinks) {
    if (!sink->Close() && !forever) exitCode = kExitReadFailed;
  }
  return exitCode;
}
