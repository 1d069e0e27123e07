#include "tools/zlm_read/options.h"

#include <CLI/CLI.hpp>

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
         " ends after the meter in progress, with the exit code so far.\n\n"
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

ParsedOptions Exit(std::ostream& err, const std::string& message, int code) {
  err << message << '\n';
  return {std::nullopt, code};
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
  try {
    app.parse(argc, argv);
    if (!options.scan && addressOption->count() == 0) {
      throw CLI::RequiredError("--address or --scan");
    }
  } catch (const CLI::ParseError& e) {
    return {std::nullopt, app.exit(e, out, err) == 0 ? kExitOk : kExitUsage};
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
