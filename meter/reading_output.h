#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "meter/reading_cycle.h"

// How zlm-read prints one cycle.
enum class OutputFormat { kTable, kCsv, kJson };

// The reading with exactly the decimals the meter sent (8 - position), so
// the digits are those on the line: N 12345670 at position 5 is "12345.670".
std::string FormatReading(const Reading& reading);

// Local time, ISO 8601 with milliseconds and offset: 2026-12-07T09:30:01.250+03:00.
std::string FormatTimestamp(std::chrono::system_clock::time_point time);

// The CSV header line, naming the columns of FormatCycle's CSV rows.
std::string CsvHeader();

// One cycle: a block of lines (table), one row (CSV) or one object (JSON
// line), ending in a newline. readings in the order of the reading cycle.
std::string FormatCycle(OutputFormat format, const std::string& timestamp, const std::string& port,
                        int address, const std::vector<Reading>& readings);
