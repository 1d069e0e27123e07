// zlm-read: reads the seven parameters of a ZLM meter from a serial port,
// once or repeatedly, and prints them as a table, CSV or JSON lines.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <string>

#include "meter/link_format.h"
#include "meter/read_exchange.h"
#include "meter/reading_cycle.h"
#include "meter/reading_output.h"
#include "serial/platform_serial_port.h"
#include "serial/port_discovery.h"
#include "tools/zlm_read/console.h"

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

}  // namespace

int main(int argc, char** argv) {
  UseUtf8Output();
  std::string port;
  int address = 0;
  double interval = 0;
  int count = 0;
  std::string format = "table";

  CLI::App app{
      "Reads the seven parameters of a ZLM flow meter (volume m3 and l, hours, flow m3/h,\n"
      "l/min and %, nominal diameter) with the same exchange as the window, and prints them.\n"
      "Reads once by default; --interval repeats every SECONDS (until Ctrl+C, or --count\n"
      "cycles); --count alone repeats with the window's period of 2 s.\n\n"
      "Exit codes: 0 every cycle read; 1 an exchange failed (its message on stderr: e.g.\n"
      "\"No answer from ZLM\", \"SetCommState M1 error\", \"Error reading (mnogitel>8)\");\n"
      "2 bad command line; 3 \"Incorrect Adres ZLM\" (address not 0..31 or 255);\n"
      "4 \"No free COM ports\" (the port does not exist, is no serial device, or is in use).\n" +
          std::string(kStopHelp) + " ends after the cycle in progress, with the exit code so far.",
      "zlm-read"};
  app.add_option("--port", port, kPortHelp)->required();
  app.add_option("--address", address, "Meter address: 0..31, or 255 for the only meter")
      ->required();
  app.add_option("--interval", interval, "Seconds from the start of one cycle to the next")
      ->check(CLI::PositiveNumber);
  app.add_option("--count", count, "Number of cycles")->check(CLI::Range(1, 1 << 30));
  app.add_option("--format", format,
                 "Output: table, csv (with a header line) or json (one line per cycle)")
      ->check(CLI::IsMember({"table", "csv", "json"}))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }

  const OutputFormat output = format == "csv"    ? OutputFormat::kCsv
                              : format == "json" ? OutputFormat::kJson
                                                 : OutputFormat::kTable;
  const bool forever = interval > 0 && count == 0;
  if (count == 0) count = 1;
  const auto period =
      std::chrono::duration<double>(interval > 0 ? interval : POLL_PERIOD_MS / 1000.0);

  // Nothing goes on the line for an address the meter cannot have.
  if (!IsValidMeterAddress(address)) return Fail(kMsgIncorrectAddress, kExitBadAddress);

  StopRequests stop;
  PlatformSerialPort line;
  const HANDLE h = line.CreateFile(DevicePathOf(port));
  if (h == INVALID_HANDLE_VALUE) return Fail(kMsgNoFreePort, kExitNoPort);
  ApplyBaseline(line, h);

  int exitCode = kExitOk;
  const auto start = std::chrono::steady_clock::now();
  for (long cycle = 0; forever || cycle < count; ++cycle) {
    const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 period * static_cast<double>(cycle));
    if (cycle > 0 && stop.WaitUntil(due)) break;
    const std::string timestamp = FormatTimestamp(std::chrono::system_clock::now());
    const CycleResult result = ReadAllParameters(line, h, address);
    if (result.error) {
      exitCode = Fail(result.error, kExitReadFailed);
      break;
    }
    if (output == OutputFormat::kCsv && cycle == 0) std::fputs(CsvHeader().c_str(), stdout);
    std::fputs(FormatCycle(output, timestamp, port, address, result.readings).c_str(), stdout);
    std::fflush(stdout);
  }
  line.CloseHandle(h);
  return exitCode;
}
