#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "meter/reading_cycle.h"

// How zlm-read prints one cycle.
enum class OutputFormat { kTable, kCsv, kJson, kInflux };

// One cycle of one meter: when it was read, where, and what.
struct MeterCycle {
  std::chrono::system_clock::time_point time;
  std::string port;  // as the user named it
  int address = 0;
  std::vector<Reading> readings;  // in the order of the reading cycle
};

// Local time, ISO 8601 with milliseconds and offset: 2026-12-07T09:30:01.250+03:00.
std::string FormatTimestamp(std::chrono::system_clock::time_point time);

// The CSV header line, naming the columns of FormatCycle's CSV rows.
std::string CsvHeader();

// One cycle as one JSON object (time, port, address, then one member per
// reading), without a newline: the line of --format json and the payload
// published for it.
std::string CycleJson(const MeterCycle& cycle);

// One cycle: a block of lines (table), one row (CSV), one object (JSON line)
// or one line of InfluxDB line protocol, ending in a newline.
std::string FormatCycle(OutputFormat format, const MeterCycle& cycle);
