#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "tools/zlm_read/reading_output.h"
#include "tools/zlm_read/schedule.h"
#ifdef ZLM_WITH_MQTT
#include "tools/zlm_read/mqtt_sink.h"
#endif
#ifdef ZLM_WITH_MODBUS
#include "tools/zlm_read/modbus_server.h"
#endif
#ifdef ZLM_WITH_METRICS
#include "tools/zlm_read/metrics_server.h"
#endif

// zlm-read's exit codes, documented in --help.
enum ExitCode : int { kExitOk, kExitReadFailed, kExitUsage, kExitBadAddress, kExitNoPort };

// zlm-read's command line, read and checked.
struct ReadOptions {
  std::string port;
  std::vector<int> addresses;  // each a meter address, in the order given
  Schedule schedule;
  OutputFormat format = OutputFormat::kTable;
  bool formatGiven = false;  // --format on the command line
  bool scan = false;
  std::string tracePath;   // as given; empty when not
  int slowAfter = 3;       // failures in a row before a meter is asked less often; 0: never
  DWORD answerWaitMs = 0;  // beyond the exchange's fixed waits, for a line that delivers late
#ifdef ZLM_WITH_MQTT
  MqttOptions mqtt;
#endif
#ifdef ZLM_WITH_MODBUS
  ModbusOptions modbus;
#endif
#ifdef ZLM_WITH_METRICS
  std::optional<MetricsAddress> metrics;  // --metrics
#endif
};

// Either the options to run with, or the exit code to end with at once
// (help, version, a bad command line or configuration file, an address no
// meter can have): what CLI11 prints goes to out and err, and our own
// messages to err. Options may also come from the file named by --config
// (CLI11 reads it: "name = value", one a line); the command line overrides
// it.
struct ParsedOptions {
  std::optional<ReadOptions> options;
  int exitCode = kExitOk;
};
ParsedOptions ParseOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
