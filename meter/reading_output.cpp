#include "meter/reading_output.h"

#include <cstdio>
#include <ctime>

#include "meter/reading_cycle.h"

namespace {

const ParameterInfo* InfoOf(int32_t code) {
  const std::optional<std::size_t> row = RowOf(code);
  return row ? &kParameters[*row] : nullptr;
}

// Quotes for CSV and JSON; port names are paths, so only the characters
// either format reserves are escaped.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string FormatReading(const Reading& reading) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", 8 - reading.position, reading.value);
  return text;
}

std::string FormatTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch());
  const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &seconds);
#else
  ::localtime_r(&seconds, &local);
#endif
  // The offset is the local wall time read as if it were UTC, minus the
  // instant (strftime's %z is not an offset everywhere).
  const sys_seconds wall =
      sys_days{year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday} +
      hours{local.tm_hour} + minutes{local.tm_min} + std::chrono::seconds{local.tm_sec};
  const long long offsetMin = (wall.time_since_epoch().count() - seconds) / 60;
  const long long absMin = offsetMin < 0 ? -offsetMin : offsetMin;
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03lld%c%02lld:%02lld", date,
                static_cast<long long>(ms.count() % 1000), offsetMin < 0 ? '-' : '+', absMin / 60,
                absMin % 60);
  return text;
}

std::string CsvHeader() {
  std::string header = "time,port,address";
  for (const ParameterInfo& parameter : kParameters) header += std::string(",") + parameter.key;
  return header + "\n";
}

std::string FormatCycle(OutputFormat format, const std::string& timestamp, const std::string& port,
                        int address, const std::vector<Reading>& readings) {
  std::string out;
  switch (format) {
    case OutputFormat::kTable: {
      out = timestamp + "  " + port + "  address " + std::to_string(address) + "\n";
      for (const Reading& reading : readings) {
        const ParameterInfo* info = InfoOf(reading.code);
        char line[96];
        std::snprintf(line, sizeof line, "  %-18s %18s %s\n", info ? info->key : "?",
                      FormatReading(reading).c_str(), info ? info->unit : "");
        out += line;
      }
      return out;
    }
    case OutputFormat::kCsv:
      out = timestamp + "," + CsvField(port) + "," + std::to_string(address);
      for (const Reading& reading : readings) out += "," + FormatReading(reading);
      return out + "\n";
    case OutputFormat::kJson:
      out = "{\"time\":" + JsonString(timestamp) + ",\"port\":" + JsonString(port) +
            ",\"address\":" + std::to_string(address);
      for (const Reading& reading : readings) {
        const ParameterInfo* info = InfoOf(reading.code);
        out += ",\"" + std::string(info ? info->key : "?") + "\":" + FormatReading(reading);
      }
      return out + "}\n";
  }
  return out;
}
