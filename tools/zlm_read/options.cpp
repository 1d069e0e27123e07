#include "tools/zlm_read/options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <fstream>
#include <string_view>

#include "meter/link_format.h"
#include "meter/read_exchange.h"
#include "tools/command_line/command_line.h"
#include "tools/zlm_read/address_list.h"
#include "tools/zlm_read/console.h"

namespace {

std::string Help() {
  return "Reads the seven parameters of ZLM flow meters (volume m3 and l, hours, flow m3/h,\n"
         "l/min and %, nominal diameter) with the same exchange as the window, and prints them.\n"
         "Reads once by default; --interval repeats every SECONDS (until Ctrl+C, or --count\n"
         "cycles); --count alone repeats with the window's period of 2 s. With several\n"
         "addresses each cycle reads the meters in turn; a meter that fails is reported and\n"
         "the others are read on (see --slow-after). A cycle whose start has passed (the\n"
         "reader was stopped, or a cycle took longer) is skipped, not caught up. When the\n"
         "port's device goes away (unplugged, hung up), the port is opened again by its\n"
         "name after 1 s, then twice as long each time, up to every 60 s.\n"
         "A failure prints its message and one more line, \"cause: ...\" or \"hint: ...\", on\n"
         "stderr. " +
         std::string(kStopHelp) +
         "\nends it after the meter in progress, with the exit code so far.\n" +
         "--config FILE takes the options from a file, one a line: port = \"COM3\",\n"
         "address = [1, 3], interval = 10, ha-discovery = true; the command line overrides it." +
#ifndef ZLM_WITH_MODBUS
         "\nThis build has no Modbus TCP server (--modbus-tcp): libmodbus is not available to it." +
#endif
#ifndef ZLM_WITH_METRICS
         "\nThis build has no --metrics (no HTTP server library for this platform)." +
#endif
#ifndef ZLM_WITH_SYSTEMD
         "\nThis build does not report to systemd (no libsystemd for this platform)." +
#endif
         "\n\n"
         // The manual page drops this paragraph (man/CMakeLists.txt): its
         // EXIT STATUS section gives the codes in full.
         "Exit codes: 0 every reading succeeded (--scan: a meter answered); 1 a reading failed\n"
         "(--scan: none answered); 2 bad command line; 3 \"Incorrect Adres ZLM\";\n"
         "4 \"No free COM ports\".";
}

OutputFormat FormatOf(const std::string& name) {
  return name == "csv"      ? OutputFormat::kCsv
         : name == "json"   ? OutputFormat::kJson
         : name == "influx" ? OutputFormat::kInflux
                            : OutputFormat::kTable;
}

// How CLI11 reports a name in the file that is no option.
const std::string kUnknownInFile = "INI was not able to parse ";

ParsedOptions Exit(std::ostream& err, const std::string& message, int code) {
  err << message << '\n';
  return {std::nullopt, code};
}

// Whether the message is about the option called name: it names --name
// (not followed by more of a name), or it is CLI11's word for an unknown one.
bool IsAbout(const std::string& message, const std::string& name) {
  if (message == kUnknownInFile + name) return true;
  const std::string option = "--" + name;
  for (std::size_t at = message.find(option); at != std::string::npos;
       at = message.find(option, at + 1)) {
    const std::size_t end = at + option.size();
    if (end == message.size() || !(std::isalnum(static_cast<unsigned char>(message[end])) ||
                                   message[end] == '-' || message[end] == '_')) {
      return true;
    }
  }
  return false;
}

// "FILE:LINE: " for the line of the configuration file whose option the
// message is about; empty when none is (the option came from the command
// line, or the message names no option).
std::string WhereInFile(const std::string& file, const std::string& message, int argc,
                        const char* const* argv) {
  std::ifstream in(file);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#' || line[first] == ';') continue;
    std::string key = line.substr(first, line.find('=', first) - first);
    key.erase(key.find_last_not_of(" \t\r") + 1);
    if (key.empty() || !IsAbout(message, key)) continue;
    for (int i = 1; i < argc; ++i) {
      if (std::string(argv[i]).starts_with("--" + key)) return {};
    }
    return file + ":" + std::to_string(number) + ": ";
  }
  return {};
}

}  // namespace

ParsedOptions ParseOptions(int argc, const char* const* argv, std::ostream& out,
                           std::ostream& err) {
  ReadOptions options;
  std::vector<std::string> addressTexts;
  std::string intervalText;
  int count = 0;
  std::string format = "table";

  CLI::App app{Help(), "zlm-read"};
  app.set_config("--config", "", "Read options from FILE (name = value, one a line; see above)")
      ->type_name("FILE");
  // A name that is no option is a mistake, not something to pass over.
  app.allow_config_extras(CLI::config_extras_mode::error);
  UseToolConventions(app,
                     "zlm-read --port COM3 --address 255\n"
                     "zlm-read --port COM3 --address 1,3,7 --interval 10 --format csv\n"
                     "zlm-read --port COM3 --scan");
  app.add_option("--port", options.port, kPortHelp)->required()->type_name("PORT");
  CLI::Option* addressOption =
      app.add_option("--address", addressTexts,
                     "Meter address: 0..31, or 255 for the only meter; decimal, as typed in the "
                     "window's address field. Several meters: 1,3,7 or the option repeated");
  addressOption->check(CLI::Validator(AddressValueError, ""))->type_name("N[,N...]");
  app.add_option("--interval", intervalText,
                 "Seconds from the start of one cycle to the next (0.001 to 31536000)")
      ->check(CLI::Validator(IntervalError, ""))
      ->type_name("SECONDS");
  app.add_option("--count", count, "Number of cycles")
      ->check(CLI::Range(1, 1 << 30))
      ->type_name("N");
  app.add_option("--slow-after", options.slowAfter,
                 "A meter that fails K times in a row is asked every 2nd cycle, then every 4th "
                 "... up to every 16th, until it answers again; 0: every cycle regardless")
      ->check(CLI::Range(0, 1000))
      ->capture_default_str()
      ->type_name("K");
  app.add_option("--answer-wait", options.answerWaitMs,
                 "Wait up to MS milliseconds more for an answer the line delivers late (a USB "
                 "adapter's latency timer, a radio or network link, a busy machine); 0 reads "
                 "once, 20 ms after the request, as the window does (default: ZLM_ANSWER_WAIT, "
                 "if set, else 0)")
      ->envname("ZLM_ANSWER_WAIT")
      ->check(CLI::Range(0, 60000))
      ->type_name("MS");
  CLI::Option* formatOption =
      app.add_option("--format", format,
                     "Output: table, csv (with a header line), json (one line per reading) or "
                     "influx (InfluxDB line protocol)")
          ->check(CLI::IsMember({"table", "csv", "json", "influx"}))
          ->capture_default_str()
          ->type_name("FORMAT");
  CLI::Option* scanOption =
      app.add_flag("--scan", options.scan,
                   "Find the meters on the line: ask each address 0..31 once for the nominal "
                   "diameter and print what answered");
  scanOption->excludes(addressOption)->excludes("--interval")->excludes("--count");
  app.add_option("--trace", options.tracePath,
                 "Append every line operation and each decoded exchange to FILE (default: the "
                 "file named by ZLM_TRACE, if set)")
      ->type_name("FILE");
#ifdef ZLM_WITH_MQTT
  AddMqttOptions(app, options.mqtt);
  app.get_option("--mqtt")->excludes(scanOption);
#endif
#ifdef ZLM_WITH_MODBUS
  AddModbusOptions(app, options.modbus);
  app.get_option("--modbus-tcp")->excludes(scanOption);
#endif
#ifdef ZLM_WITH_METRICS
  app.add_option_function<std::string>(
         "--metrics",
         [&options](const std::string& text) {
           std::string error;
           options.metrics = ParseMetricsAddress(text, error);
           if (!options.metrics) throw CLI::ValidationError("--metrics", error);
         },
         "Serve Prometheus metrics at http://[HOST:]PORT/metrics (HOST 127.0.0.1 unless given; "
         "0.0.0.0 or [::] for every interface)")
      ->type_name("[HOST:]PORT")
      ->excludes(scanOption);
#endif
  try {
    app.parse(argc, argv);
    if (!options.scan && addressOption->count() == 0) {
      throw CLI::RequiredError("--address or --scan");
    }
  } catch (const CLI::ParseError& e) {
    const std::string file =
        app.get_config_ptr()->count() > 0 ? app.get_config_ptr()->as<std::string>() : std::string();
    const std::string where = file.empty() ? "" : WhereInFile(file, e.what(), argc, argv);
    if (where.empty()) return {std::nullopt, app.exit(e, out, err) == 0 ? kExitOk : kExitUsage};
    // CLI11 does not say which line of the file it could not use.
    std::string what = e.what();
    if (what.starts_with(kUnknownInFile))
      what = what.substr(kUnknownInFile.size()) + ": no such option";
    // The service's options file of old was an environment file.
    if (what.starts_with("ZLM_READ_OPTIONS:"))
      what +=
          " (the older form, the whole command line: it belongs in an environment file, "
          "NAME.env beside NAME.conf)";
    return Exit(err, "zlm-read: " + where + what, kExitUsage);
  }
  const AddressList addresses = ParseAddressList(addressTexts);
  if (!addresses.error.empty()) return Exit(err, "--address: " + addresses.error, kExitUsage);
  options.addresses = addresses.addresses;
  options.format = FormatOf(format);
  options.formatGiven = formatOption->count() > 0;
  if (options.scan && options.format == OutputFormat::kInflux) {
    return Exit(err, "--format: influx is for readings; --scan prints table, csv or json",
                kExitUsage);
  }
  options.schedule =
      MakeSchedule(intervalText.empty() ? std::nullopt : IntervalOf(intervalText), count);
  // Nothing goes on the line for an address the meter cannot have.
  for (const int address : options.addresses) {
    if (!IsValidMeterAddress(address)) return Exit(err, kMsgIncorrectAddress, kExitBadAddress);
  }
  return {std::move(options), kExitOk};
}
