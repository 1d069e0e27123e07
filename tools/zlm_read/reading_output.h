#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "meter/reading_cycle.h"

// How zlm-read prints one cycle.
enum class OutputFormat { kTable, kCsv, kJson, kInflux };

// How long a meter's cycle took, and each exchange in it, in seconds.
struct CycleTiming {
  double seconds = 0;
  std::vector<double> exchangeSeconds;
};

// One cycle of one meter: when it was read, where, and what.
struct MeterCycle {
  std::chrono::system_clock::time_point time;
  std::string port;  // as the user named it
  int address = 0;
  std::vector<Reading> readings;  // in the order of the reading cycle
  CycleTiming timing = {};
};

// A failed cycle of one meter.
struct MeterFailure {
  std::chrono::system_clock::time_point time;
  std::string port;
  int address = 0;
  std::string message;  // the failing step's message, as the window shows it
  // The line that explains it, "cause: ..." or "hint: ...", as zlm-read
  // prints it after the message; empty when there is nothing to add.
  std::string cause;
  // The meter was not asked: the port is away (its loss was reported once).
  bool lineDown = false;
  // When the meter last read fine in this run; nothing when it never did.
  std::optional<std::chrono::system_clock::time_point> lastGood = std::nullopt;
  // The cause as a number (ReadCause, or the line's cause); 0 when none.
  int causeCode = 0;
  CycleTiming timing = {};  // nothing when the meter was not asked
};

// How fresh a meter's value is, as every machine-readable output says it:
// "ok" for a reading, "failed" when the meter was asked and failed,
// "line_lost" when it could not be asked.
const char* StatusOf(const MeterFailure& failure);
// Seconds from the last good reading to the failed cycle (milliseconds
// kept); nothing when there was none.
std::optional<double> AgeSeconds(const MeterFailure& failure);

// Local time, ISO 8601 with milliseconds and offset: 2026-12-07T09:30:01.250+03:00.
std::string FormatTimestamp(std::chrono::system_clock::time_point time);

// The CSV header line, naming the columns of FormatCycle's CSV rows: time,
// port, address, the seven readings, status, age_s.
std::string CsvHeader();

// One cycle as one JSON object (time, port, address, then one member per
// reading), without a newline: the line of --format json and the payload
// published for it.
std::string CycleJson(const MeterCycle& cycle);

// One cycle: a block of lines (table), one row (CSV), one object (JSON line)
// or one line of InfluxDB line protocol, ending in a newline. CSV rows end
// in the status "ok" and age 0, JSON objects carry "status":"ok", line
// protocol a status field.
std::string FormatCycle(OutputFormat format, const MeterCycle& cycle);

// A failed cycle as one JSON object (time, port, address, status, age_s or
// null, message, cause when there is one), without a newline: the line of
// --format json and the payload published for it.
std::string FailureJson(const MeterFailure& failure);

// A failed cycle where the format has rows for it: CSV (no readings, then
// the status and the age, empty when the meter never read), a JSON object
// (time, port, address, status, age_s or null, message, cause) or a line of
// line protocol (status and age_s fields); empty for the table, whose
// reader sees the failure on stderr.
std::string FormatFailure(OutputFormat format, const MeterFailure& failure);
