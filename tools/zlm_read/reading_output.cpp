#include "tools/zlm_read/reading_output.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "meter/reading_cycle.h"

namespace {

const ParameterInfo* InfoOf(int32_t code) {
  const std::optional<std::size_t> row = RowOf(code);
  return row ? &kParameters[*row] : nullptr;
}

const char* KeyOf(const Reading& reading) {
  const ParameterInfo* info = InfoOf(reading.code);
  return info ? info->key : "?";
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

// Line protocol tag values: commas, equals signs, blanks and backslashes are
// escaped with a backslash; a line end cannot be escaped, so it becomes an
// escaped blank.
std::string InfluxTag(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n' || c == '\r') {
      out += "\\ ";
      continue;
    }
    if (c == ',' || c == '=' || c == ' ' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string InfluxSeries(const std::string& port, int address) {
  return "zlm,port=" + InfluxTag(port) + ",address=" + std::to_string(address) + " ";
}

std::string InfluxTime(std::chrono::system_clock::time_point time) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch());
  return " " + std::to_string(ns.count()) + "\n";
}

std::string InfluxLine(const MeterCycle& cycle) {
  std::string out = InfluxSeries(cycle.port, cycle.address);
  for (const Reading& reading : cycle.readings) {
    out += std::string(KeyOf(reading)) + "=" + FormatReading(reading) + ",";
  }
  return out + "status=\"ok\"" + InfluxTime(cycle.time);
}

// Milliseconds kept: "12.345".
std::string AgeText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string Table(const MeterCycle& cycle) {
  std::string out = FormatTimestamp(cycle.time) + "  " + cycle.port + "  address " +
                    std::to_string(cycle.address) + "\n";
  for (const Reading& reading : cycle.readings) {
    const ParameterInfo* info = InfoOf(reading.code);
    char line[96];
    std::snprintf(line, sizeof line, "  %-18s %18s %s\n", KeyOf(reading),
                  FormatReading(reading).c_str(), info ? info->unit : "");
    out += line;
  }
  return out;
}

}  // namespace

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
  return header + ",status,age_s\n";
}

const char* StatusOf(const MeterFailure& failure) {
  return failure.lineDown ? "line_lost" : "failed";
}

std::optional<double> AgeSeconds(const MeterFailure& failure) {
  if (!failure.lastGood) return std::nullopt;
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(failure.time - *failure.lastGood);
  return static_cast<double>(ms.count()) / 1000.0;
}

std::string FailureJson(const MeterFailure& failure) {
  nlohmann::ordered_json object = {{"time", FormatTimestamp(failure.time)},
                                   {"port", failure.port},
                                   {"address", failure.address},
                                   {"status", StatusOf(failure)},
                                   {"age_s", nullptr},
                                   {"message", failure.message}};
  if (const std::optional<double> age = AgeSeconds(failure)) object["age_s"] = *age;
  if (!failure.cause.empty()) object["cause"] = failure.cause;
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string FormatFailure(OutputFormat format, const MeterFailure& failure) {
  const std::optional<double> age = AgeSeconds(failure);
  switch (format) {
    case OutputFormat::kTable:
      return {};
    case OutputFormat::kCsv: {
      std::string out = FormatTimestamp(failure.time) + "," + CsvField(failure.port) + "," +
                        std::to_string(failure.address);
      for (std::size_t i = 0; i < kParameters.size(); ++i) out += ",";
      return out + "," + StatusOf(failure) + "," + (age ? AgeText(*age) : "") + "\n";
    }
    case OutputFormat::kJson:
      return FailureJson(failure) + "\n";
    case OutputFormat::kInflux: {
      std::string out =
          InfluxSeries(failure.port, failure.address) + "status=\"" + StatusOf(failure) + "\"";
      if (age) out += ",age_s=" + AgeText(*age);
      return out + InfluxTime(failure.time);
    }
  }
  return {};
}

std::string CycleJson(const MeterCycle& cycle) {
  nlohmann::ordered_json object = {{"time", FormatTimestamp(cycle.time)},
                                   {"port", cycle.port},
                                   {"address", cycle.address},
                                   {"status", "ok"}};
  // The number read back from the meter's own digits, so the shortest text
  // that names the double is those digits (12.5, not 12.500000000000002);
  // from_chars, unlike strtod, does not depend on the locale.
  for (const Reading& reading : cycle.readings) {
    const std::string digits = FormatReading(reading);
    double value = reading.value;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    object[KeyOf(reading)] = value;
  }
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string FormatCycle(OutputFormat format, const MeterCycle& cycle) {
  switch (format) {
    case OutputFormat::kTable:
      return Table(cycle);
    case OutputFormat::kCsv: {
      std::string out = FormatTimestamp(cycle.time) + "," + CsvField(cycle.port) + "," +
                        std::to_string(cycle.address);
      for (const Reading& reading : cycle.readings) out += "," + FormatReading(reading);
      return out + ",ok,0\n";
    }
    case OutputFormat::kJson:
      return CycleJson(cycle) + "\n";
    case OutputFormat::kInflux:
      return InfluxLine(cycle);
  }
  return {};
}
