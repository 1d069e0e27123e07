#include "meter/reading_output.h"

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

TEST(ReadingOutputTest, CycleAsTableCsvAndJson) {
  const std::vector<Reading> readings = {
      Make(1, 12345600, 2), Make(2, 98765432, 8), Make(3, 87602500, 4),  Make(4, 12500000, 2),
      Make(6, 20833333, 3), Make(5, 17680000, 2), Make(119, 50000000, 2)};
  const std::string time = "2026-12-07T09:30:01.250+03:00";
  EXPECT_EQ(
      FormatCycle(OutputFormat::kCsv, time, "COM7", 255, readings),
      time + ",COM7,255,12.345600,98765432,8760.2500,12.500000,208.33333,17.680000,50.000000\n");
  EXPECT_EQ(CsvHeader(),
            "time,port,address,volume_m3,volume_l,hours,flow_m3h,flow_lmin,flow_percent,"
            "nominal_diameter\n");
  EXPECT_EQ(FormatCycle(OutputFormat::kJson, time, "/dev/x\"y", 3, {readings[0]}),
            "{\"time\":\"" + time +
                "\",\"port\":\"/dev/x\\\"y\",\"address\":3,\"volume_m3\":12.345600}\n");
  EXPECT_EQ(FormatCycle(OutputFormat::kCsv, time, "/dev/a,b", 3, {}), time + ",\"/dev/a,b\",3\n");

  const std::string table = FormatCycle(OutputFormat::kTable, time, "COM7", 255, readings);
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

}  // namespace
