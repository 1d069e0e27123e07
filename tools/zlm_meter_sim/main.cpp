// zlm-meter-sim: ZLM meters on a pseudo-terminal, published as a COM port.
// The first line on stdout is "COMn /dev/pts/N" (for scripts), followed by
// " rfc2217://127.0.0.1:PORT" with --rfc2217; the traffic log goes to --log
// or stderr.

#include <signal.h>
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "meter/reading_cycle.h"
#include "sim/com_link.h"
#include "sim/meter_server.h"
#include "sim/meter_values.h"
#include "sim/ser2net_front.h"
#include "tools/command_line/command_line.h"

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

// "volume_m3" -> "--volume-m3"
std::string OptionName(const char* key) {
  std::string name = std::string("--") + key;
  for (char& c : name) {
    if (c == '_') c = '-';
  }
  return name;
}

struct Options {
  std::vector<int> addresses{1};
  int com = 0;
  bool fixed = false;
  std::map<int32_t, double> values;
  std::vector<std::string> faults;
  std::uint32_t lateMs = 30;
  std::string logPath;
  bool rfc2217 = false;
  std::vector<std::string> silentMeters;
};

// A meter that does not answer: "ADDRESS" (for ever) or
// "ADDRESS@FROM-UNTIL" (seconds after the start).
struct SilentMeter {
  int address = 0;
  double from = 0;
  double until = 0;  // 0: for ever
};

std::optional<SilentMeter> SilentMeterOf(const std::string& text) {
  SilentMeter silent;
  char end = 0;
  const bool forever = std::sscanf(text.c_str(), "%d%c", &silent.address, &end) == 1;
  const bool window = !forever &&
                      std::sscanf(text.c_str(), "%d@%lf-%lf%c", &silent.address, &silent.from,
                                  &silent.until, &end) == 3 &&
                      silent.from >= 0 && silent.until > silent.from;
  if (!forever && !window) return std::nullopt;
  if (silent.address < 0 || silent.address > 31) return std::nullopt;
  return silent;
}

// Each --fault by name and what it does, in the order they are applied (and
// listed in --help): stray2 wins over stray.
struct FaultKind {
  const char* name;
  void (*apply)(BusFaults& bus, AnswerFaults& answers);
};
constexpr FaultKind kFaultKinds[] = {
    {"silent", [](BusFaults& bus, AnswerFaults&) { bus.silent = true; }},
    {"late", [](BusFaults& bus, AnswerFaults&) { bus.late = true; }},
    // R0..R3: the answer ends before the value's last digits.
    {"short", [](BusFaults& bus, AnswerFaults&) { bus.answerCut = 4; }},
    {"stray", [](BusFaults& bus, AnswerFaults&) { bus.stray = {0x7F}; }},
    {"stray2",
     [](BusFaults& bus, AnswerFaults&) {
       bus.stray = {0x7F, 0x7E};
     }},
    {"no-address-echo", [](BusFaults& bus, AnswerFaults&) { bus.addressEchoMissing = true; }},
    {"invalid-bcd", [](BusFaults&, AnswerFaults& answers) { answers.invalidBcd = true; }},
    {"position", [](BusFaults&, AnswerFaults& answers) { answers.positionTooLarge = true; }},
};

std::vector<std::string> FaultNames() {
  std::vector<std::string> names;
  for (const FaultKind& kind : kFaultKinds) names.emplace_back(kind.name);
  return names;
}

struct Faults {
  BusFaults bus;
  AnswerFaults answers;
};

Faults FaultsOf(const Options& options) {
  Faults faults;
  faults.bus.lateMs = options.lateMs;
  const std::set<std::string> names(options.faults.begin(), options.faults.end());
  for (const FaultKind& kind : kFaultKinds) {
    if (names.contains(kind.name)) kind.apply(faults.bus, faults.answers);
  }
  return faults;
}

std::vector<BusMeter> MetersOf(const Options& options) {
  std::vector<BusMeter> meters;
  for (const int address : options.addresses) {
    BusMeter meter;
    meter.address = address;
    // Each meter its own flow, so several on one line read differently.
    meter.profile.meanFlowM3h = 12.0 + 1.5 * address;
    meter.profile.startVolumeM3 = 1234.5 + 100.0 * address;
    if (const auto dn = options.values.find(119); dn != options.values.end()) {
      meter.profile.nominalDiameterMm = dn->second;
    }
    meter.frozen = options.fixed;
    meter.fixed = options.values;
    meters.push_back(meter);
  }
  return meters;
}

// Publishes the pty as COMn: the chosen number, or the first free one (again
// if another program took it meanwhile). 0 when nothing was published.
int Publish(const PortRoots& roots, int wanted, const std::string& target) {
  if (wanted != 0) {
    switch (PublishComLink(roots.portDir, wanted, target)) {
      case PublishResult::kPublished:
        return wanted;
      case PublishResult::kTaken:
        std::fprintf(stderr, "zlm-meter-sim: %s exists and is not ours; not replaced\n",
                     ComLinkPath(roots.portDir, wanted).c_str());
        return 0;
      case PublishResult::kFailed:
        break;
    }
  } else {
    ComPortMap map(roots);
    for (int attempt = 0; attempt < 5; ++attempt) {
      const int n = FirstFreeComNumber(map);
      if (n == 0) {
        std::fprintf(stderr, "zlm-meter-sim: all of COM1..COM255 are taken\n");
        return 0;
      }
      const PublishResult result = PublishComLink(roots.portDir, n, target);
      if (result == PublishResult::kPublished) return n;
      if (result == PublishResult::kFailed) break;
    }
  }
  std::fprintf(stderr, "zlm-meter-sim: cannot create a link in %s\n", roots.portDir.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{
      "Simulates ZLM flow meters on a pseudo-terminal and publishes it as a COM port in the\n"
      "per-user port directory (${XDG_CONFIG_HOME:-$HOME/.config}/zlm-reader/ports), so the\n"
      "reader finds it like a serial port. Readings change over time (the flow swings, the\n"
      "volumes and hours integrate it) unless fixed. Prints \"COMn /dev/pts/N\" first on\n"
      "stdout, logs every byte, and removes its link on Ctrl+C or SIGTERM.",
      "zlm-meter-sim"};
  UseToolConventions(app,
                     "zlm-meter-sim\n"
                     "zlm-meter-sim --address 1 --address 7 --fixed --log traffic.log\n"
                     "zlm-meter-sim --fault silent");
  app.add_option("--address", options.addresses,
                 "Address of a meter on the line, 0..31 (repeat for several; every meter also "
                 "answers 255)")
      ->check(CLI::Range(0, 31))
      ->expected(1)
      ->take_all()
      ->capture_default_str()
      ->type_name("N");
  app.add_option("--com", options.com, "COM number to publish (default: the first free one)")
      ->check(CLI::Range(1, 255))
      ->type_name("N");
  app.add_flag("--fixed", options.fixed, "Readings do not change over time");
  for (const ParameterInfo& parameter : kParameters) {
    const int32_t code = parameter.code;
    app.add_option_function<double>(
           OptionName(parameter.key), [&options, code](double v) { options.values[code] = v; },
           std::string("Fixed reading of code ") + std::to_string(code) + " (" + parameter.unit +
               ")" + (code == 119 ? "; also sets the bore for the per-cent reading" : ""))
        ->check(CLI::NonNegativeNumber)
        ->type_name("VALUE");
  }
  std::string faultList;
  for (const std::string& name : FaultNames()) faultList += (faultList.empty() ? "" : ", ") + name;
  app.add_option("--fault", options.faults, "Fault on every exchange (repeatable): " + faultList)
      ->check(CLI::IsMember(FaultNames()))
      ->expected(1)
      ->take_all()
      ->type_name("FAULT");
  app.add_option("--silent-meter", options.silentMeters,
                 "The meter at ADDRESS hears requests but does not answer, for ever or from "
                 "FROM until UNTIL seconds after the start (repeatable)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return SilentMeterOf(text) ? std::string()
                                       : "'" + text + "' is neither ADDRESS nor ADDRESS@FROM-UNTIL";
          },
          ""))
      ->type_name("ADDRESS[@FROM-UNTIL]")
      ->expected(1)
      ->take_all();
  app.add_option("--late-ms", options.lateMs, "Delay of a late answer after the checksum byte")
      ->capture_default_str()
      ->type_name("MS");
  app.add_option("--log", options.logPath, "Traffic log file (default: stderr)")->type_name("FILE");
  app.add_flag("--rfc2217", options.rfc2217,
               "Also serve the line over the network as a serial server would: Debian's ser2net "
               "(/usr/sbin/ser2net) in RFC 2217 mode on a free port of 127.0.0.1, whose address "
               "is added to the first line");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end with 0; every bad command line with 2, as zlm-read does.
    return app.exit(e) == 0 ? 0 : 2;
  }

  std::FILE* logFile = stderr;
  if (!options.logPath.empty()) {
    logFile = std::fopen(options.logPath.c_str(), "w");
    if (logFile == nullptr) {
      std::fprintf(stderr, "zlm-meter-sim: cannot write %s\n", options.logPath.c_str());
      return 1;
    }
  }

  // The stop signals are taken only while the server waits (ppoll), so none
  // is lost between a check and the wait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&stopSignals, s);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(s, &action, nullptr);
  }
  sigset_t waitMask;
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);

  const std::unique_ptr<PtyLine> line = PtyLine::Open();
  if (!line) {
    std::fprintf(stderr, "zlm-meter-sim: no pseudo-terminal available\n");
    return 1;
  }
  const PortRoots roots = DefaultPortRoots();
  if (roots.portDir.empty()) {
    std::fprintf(stderr, "zlm-meter-sim: neither XDG_CONFIG_HOME nor HOME is set\n");
    return 1;
  }
  const std::string linkTarget = ProcessFdPath(line->SlaveFd());
  const int com = Publish(roots, options.com, linkTarget);
  if (com == 0) return 1;

  // ser2net's configuration, pid file and output live in a directory of
  // their own, removed at the end.
  std::string serverDir;
  std::unique_ptr<Ser2netFront> server;
  if (options.rfc2217) {
    serverDir = (std::filesystem::temp_directory_path() / "zlm-meter-sim-XXXXXX").string();
    if (::mkdtemp(serverDir.data()) != nullptr) {
      server = std::make_unique<Ser2netFront>(serverDir, line->SlavePath());
    }
    if (!server || !server->Start()) {
      std::fprintf(stderr, "zlm-meter-sim: ser2net did not start%s%s\n", server ? ": " : "",
                   server ? server->Output().c_str() : "");
      server.reset();
      std::error_code ignored;
      std::filesystem::remove_all(serverDir, ignored);
      RemoveComLink(roots.portDir, com, linkTarget);
      return 1;
    }
  }

  std::printf("COM%d %s%s\n", com, line->SlavePath().c_str(),
              server ? (" " + server->Url()).c_str() : "");
  std::fflush(stdout);
  std::string addresses;
  for (const int a : options.addresses) addresses += " " + std::to_string(a);
  std::fprintf(stderr, "zlm-meter-sim: meters%s on COM%d (%s); Ctrl+C stops\n", addresses.c_str(),
               com, line->SlavePath().c_str());

  {
    const Faults faults = FaultsOf(options);
    MeterBus bus(faults.bus);
    for (const std::string& text : options.silentMeters) {
      const SilentMeter silent = *SilentMeterOf(text);
      bus.Silence(silent.address, static_cast<std::uint64_t>(silent.from * 1e6),
                  silent.until == 0 ? UINT64_MAX : static_cast<std::uint64_t>(silent.until * 1e6));
    }
    AttachMetersInService(bus, MetersOf(options), faults.answers);
    // Its writer thread starts with the stop signals blocked, so they reach
    // the server's wait; the whole log is written when it goes.
    TrafficLog log(logFile);
    MeterServer server(*line, bus, log);
    server.Run([] { return g_stopSignal != 0; }, &waitMask);
  }

  if (server) {
    server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(serverDir, ignored);
  }
  RemoveComLink(roots.portDir, com, linkTarget);
  if (logFile != stderr) std::fclose(logFile);
  std::fprintf(stderr, "zlm-meter-sim: stopped, COM%d removed\n", com);
  return 0;
}
