#include "tools/zlm_read/reading_output.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

Reading Make(int32_t code, int32_t n, int32_t p) {
  double divisor = 1;
  for (int i = p; i < 8; ++i) divisor *= 10;
  return {code, p, static_cast<double>(n), n / divisor};
}

TEST(ReadingOutputTest, ReadingsKeepTheMetersDigits) {
  const std::pair<Reading, const char*> cases[] = {
      {Make(1, 12345670, 5), "12345.670"},
      {Make(1, 123456, 4), "12.3456"},
      {Make(1, 50, 8), "50"},
      {Make(1, 1, 0), "0.00000001"},
      {Make(1, 99999999, 2), "99.999999"},
      {Make(1, 0, 8), "0"},
  };
  for (const auto& [reading, text] : cases) EXPECT_EQ(FormatReading(reading), text);
}

MeterCycle Cycle(std::string port, int address, std::vector<Reading> readings) {
  // 2026-12-07T06:30:01.250Z, 123 ns past the millisecond.
  const auto time = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::nanoseconds(1796625001250000123LL)));
  return {time, std::move(port), address, std::move(readings)};
}

TEST(ReadingOutputTest, CycleInEveryFormat) {
  const std::vector<Reading> readings = {
      Make(1, 12345600, 2), Make(2, 98765432, 8), Make(3, 87602500, 4),  Make(4, 12500000, 2),
      Make(6, 20833333, 3), Make(5, 17680000, 2), Make(119, 50000000, 2)};
  const MeterCycle full = Cycle("COM7", 255, readings);
  const std::string time = FormatTimestamp(full.time);
  const std::pair<OutputFormat, MeterCycle> cases[] = {
      {OutputFormat::kCsv, full},
      {OutputFormat::kJson, Cycle("/dev/x\"y", 3, {readings[0], readings[6]})},
      {OutputFormat::kCsv, Cycle("/dev/a,b", 3, {})},
      {OutputFormat::kInflux, full},
      {OutputFormat::kInflux, Cycle("/dev/serial/by-id/a b,c=d", 0, {readings[1]})},
  };
  const std::string expected[] = {
      time +
          ",COM7,255,12.345600,98765432,8760.2500,12.500000,208.33333,17.680000,50.000000,ok,0\n",
      // Numbers as numbers: the meter's value, in the shortest form that names it.
      "{\"time\":\"" + time +
          "\",\"port\":\"/dev/x\\\"y\",\"address\":3,\"status\":\"ok\",\"volume_m3\":12.3456,"
          "\"nominal_diameter\":50.0}\n",
      time + ",\"/dev/a,b\",3,ok,0\n",
      "zlm,port=COM7,address=255 volume_m3=12.345600,volume_l=98765432,hours=8760.2500,"
      "flow_m3h=12.500000,flow_lmin=208.33333,flow_percent=17.680000,nominal_diameter=50.000000,"
      "status=\"ok\" "
      "1796625001250000123\n",
      "zlm,port=/dev/serial/by-id/a\\ b\\,c\\=d,address=0 volume_l=98765432,status=\"ok\" "
      "1796625001250000123\n",
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(FormatCycle(cases[i].first, cases[i].second), expected[i]) << i;
  }
  EXPECT_EQ(CsvHeader(),
            "time,port,address,volume_m3,volume_l,hours,flow_m3h,flow_lmin,flow_percent,"
            "nominal_diameter,status,age_s\n");

  const std::string table = FormatCycle(OutputFormat::kTable, full);
  EXPECT_EQ(table.rfind(time + "  COM7  address 255\n", 0), 0u);
  EXPECT_NE(table.find("  flow_lmin                   208.33333 l/min\n"), std::string::npos);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 8);
}

TEST(ReadingOutputTest, TimestampIsIso8601WithOffset) {
  const std::string stamp = FormatTimestamp(std::chrono::system_clock::now());
  EXPECT_TRUE(
      std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << stamp;
}

// A failed cycle says how old the meter's last good value is, in every
// format that has rows; the table leaves it to stderr.
TEST(ReadingOutputTest, FailedCycleWithStatusAndAge) {
  const MeterCycle at = Cycle("COM7", 4, {});
  const std::string time = FormatTimestamp(at.time);
  const MeterFailure failed{at.time, "COM7", 4, "No answer from ZLM", "hint: wiring", false,
                            at.time - std::chrono::milliseconds(12345)};
  const MeterFailure never{at.time, "COM7", 4, "No free COM ports", "", true, std::nullopt};
  const struct {
    OutputFormat format;
    const MeterFailure& failure;
    std::string expected;
  } cases[] = {
      {OutputFormat::kCsv, failed, time + ",COM7,4,,,,,,,,failed,12.345\n"},
      {OutputFormat::kCsv, never, time + ",COM7,4,,,,,,,,line_lost,\n"},
      {OutputFormat::kJson, failed,
       "{\"time\":\"" + time +
           "\",\"port\":\"COM7\",\"address\":4,\"status\":\"failed\",\"age_s\":12.345,"
           "\"message\":\"No answer from ZLM\",\"cause\":\"hint: wiring\"}\n"},
      {OutputFormat::kJson, never,
       "{\"time\":\"" + time +
           "\",\"port\":\"COM7\",\"address\":4,\"status\":\"line_lost\",\"age_s\":null,"
           "\"message\":\"No free COM ports\"}\n"},
      {OutputFormat::kInflux, failed,
       "zlm,port=COM7,address=4 status=\"failed\",age_s=12.345 1796625001250000123\n"},
      {OutputFormat::kInflux, never, "zlm,port=COM7,address=4 status=\"line_lost\" "
                                     "1796625001250000123\n"},
      {OutputFormat::kTable, failed, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatFailure(c.format, c.failure), c.expected);
  }
  // As many CSV fields as the header names.
  const std::string row = FormatFailure(OutputFormat::kCsv, failed);
  const std::string header = CsvHeader();
  EXPECT_EQ(std::count(row.begin(), row.end(), ','), std::count(header.begin(), header.end(), ','));
}

}  // namespace
