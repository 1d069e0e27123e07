#pragma once

#include <string>
#include <vector>

#include "meter/bus_scan.h"
#include "tools/zlm_read/reading_output.h"

// How zlm-read --scan prints what it found.

// Table (with a heading), CSV (with a header line) or one JSON object per
// address; each row ends in a newline.
std::string FormatScan(OutputFormat format, const std::vector<ScanRow>& rows);

// "meters found: 3, 7" or "meters found: none".
std::string FoundLine(const std::vector<ScanRow>& rows);

// When no meter answered: what the whole line showed, as a "cause: " or
// "hint: " line naming the port as the user wrote it; empty otherwise.
std::string ExplainEmptyScan(const std::vector<ScanRow>& rows, const std::string& portName);
