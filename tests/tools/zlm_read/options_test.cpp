#include "tools/zlm_read/options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Parsed {
  ParsedOptions result;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "zlm-read");
  std::ostringstream out;
  std::ostringstream err;
  ParsedOptions result = ParseOptions(static_cast<int>(args.size()), args.data(), out, err);
  return {std::move(result), out.str(), err.str()};
}

TEST(Options, CommandLinesThatEndAtOnce) {
  struct Case {
    std::vector<const char*> args;
    int exitCode;
    const char* said;  // in what was printed
  };
  const Case cases[] = {
      {{"--help"}, kExitOk, "Exit codes: 0 every reading succeeded"},
      {{"--address", "1"}, kExitUsage, "--port is required"},
      {{"--port", "COM1"}, kExitUsage, "--address or --scan"},
      {{"--port", "COM1", "--address", "x"}, kExitUsage, "'x' is not a decimal whole number"},
      {{"--port", "COM1", "--address", "1,3", "--address", "3"},
       kExitUsage,
       "--address: address 3 is given twice\n"},
      {{"--port", "COM1", "--address", "32"}, kExitBadAddress, "Incorrect Adres ZLM\n"},
      {{"--port", "COM1", "--address", "1,-1"}, kExitBadAddress, "Incorrect Adres ZLM\n"},
      {{"--port", "COM1", "--address", "1", "--interval", "0"}, kExitUsage, "'0' is not a number"},
      {{"--port", "COM1", "--address", "1", "--count", "0"}, kExitUsage, "--count"},
      {{"--port", "COM1", "--address", "1", "--format", "xml"}, kExitUsage, "--format"},
      {{"--port", "COM1", "--scan", "--address", "1"}, kExitUsage, "excludes"},
      {{"--port", "COM1", "--scan", "--count", "2"}, kExitUsage, "excludes"},
      {{"--port", "COM1", "--scan", "--format", "influx"},
       kExitUsage,
       "--format: influx is for readings; --scan prints table, csv or json\n"},
  };
  for (const Case& c : cases) {
    const Parsed parsed = Parse(c.args);
    SCOPED_TRACE(c.args.back());
    EXPECT_FALSE(parsed.result.options.has_value());
    EXPECT_EQ(parsed.result.exitCode, c.exitCode);
    EXPECT_NE((parsed.out + parsed.err).find(c.said), std::string::npos)
        << parsed.out << parsed.err;
  }
}

TEST(Options, CommandLinesThatRead) {
  using std::chrono::milliseconds;
  struct Case {
    std::vector<const char*> args;
    std::vector<int> addresses;
    OutputFormat format;
    bool formatGiven;
    Schedule schedule;
  };
  const Case cases[] = {
      {{"--port", "COM1", "--address", "255"},
       {255},
       OutputFormat::kTable,
       false,
       {milliseconds(2000), false, 1}},
      {{"--port", "COM1", "--address", "7,3", "--address", "0", "--count", "3", "--format", "csv"},
       {7, 3, 0},
       OutputFormat::kCsv,
       true,
       {milliseconds(2000), false, 3}},
      {{"--port", "COM1", "--address", "1", "--interval", "0.5", "--format", "influx"},
       {1},
       OutputFormat::kInflux,
       true,
       {milliseconds(500), true, 1}},
      {{"--port", "COM1", "--scan", "--format", "json"},
       {},
       OutputFormat::kJson,
       true,
       {milliseconds(2000), false, 1}},
  };
  for (const Case& c : cases) {
    const Parsed parsed = Parse(c.args);
    ASSERT_TRUE(parsed.result.options.has_value()) << parsed.err;
    const ReadOptions& options = *parsed.result.options;
    EXPECT_EQ(options.port, "COM1");
    EXPECT_EQ(options.addresses, c.addresses);
    EXPECT_EQ(options.scan, c.addresses.empty());
    EXPECT_EQ(options.format, c.format);
    EXPECT_EQ(options.formatGiven, c.formatGiven);
    EXPECT_EQ(options.schedule.period, c.schedule.period);
    EXPECT_EQ(options.schedule.forever, c.schedule.forever);
    EXPECT_EQ(options.schedule.cycles, c.schedule.cycles);
    EXPECT_EQ(parsed.out + parsed.err, "");
  }
}

}  // namespace
