// The parts of an operable reader alone: where --metrics listens, what the
// metrics say after readings, failures and a lost line, and options read
// from a file.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "tests/support/scratch_dir.h"
#include "tools/zlm_read/metrics_server.h"
#include "tools/zlm_read/options.h"
#include "tools/zlm_read/reader_metrics.h"

namespace {

TEST(MetricsAddress, WhatIsAcceptedAndWhy) {
  struct Case {
    const char* text;
    const char* host;  // nullptr: refused
    int port;
    const char* error;
  };
  const Case cases[] = {
      {"9101", "127.0.0.1", 9101, ""},
      {"0", "127.0.0.1", 0, ""},
      {"0.0.0.0:9101", "0.0.0.0", 9101, ""},
      {"localhost:80", "localhost", 80, ""},
      {"[::1]:9101", "::1", 9101, ""},
      {"[::]:65535", "::", 65535, ""},
      {"::1:9101", nullptr, 0, "[ADDRESS]:PORT"},
      {"[::1]9101", nullptr, 0, "[ADDRESS]:PORT"},
      {"[::1]", nullptr, 0, "[ADDRESS]:PORT"},
      {":9101", nullptr, 0, "no host"},
      {"host:", nullptr, 0, "0..65535"},
      {"65536", nullptr, 0, "0..65535"},
      {"91o1", nullptr, 0, "0..65535"},
      {"-1", nullptr, 0, "0..65535"},
      {"", nullptr, 0, "0..65535"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const std::optional<MetricsAddress> address = ParseMetricsAddress(c.text, error);
    ASSERT_EQ(address.has_value(), c.host != nullptr) << error;
    if (address) {
      EXPECT_EQ(address->host, c.host);
      EXPECT_EQ(address->port, c.port);
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

// The value of the sample with exactly this name and labels; nothing when
// there is none.
std::optional<std::string> Sample(const std::string& text, const std::string& series) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(series + ' ')) return line.substr(series.size() + 1);
  }
  return std::nullopt;
}

TEST(ReaderMetrics, CountsWhatTheLoopReports) {
  ReaderMetrics metrics("COM\"7", {1, 4}, "1.2.3");
  LineKeeper::Counts line{3, 5, 2};
  metrics.WatchLine([&line] { return line; });
  const auto time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000250));
  metrics.Read({time, "COM\"7", 1, {}, {0.42, {0.06, 0.06, 0.3}}});
  metrics.Read({time, "COM\"7", 1, {}, {7, {0.06}}});
  metrics.Failed(
      {time, "COM\"7", 4, "No answer from ZLM", "", false, std::nullopt, 0, {0.5, {0.5}}});
  metrics.Failed(
      {time, "COM\"7", 4, "No answer from ZLM", "", false, std::nullopt, 0, {0.5, {0.5}}});
  metrics.Failed({time, "COM\"7", 4, "No free COM ports", "", true, std::nullopt, 0, {}});
  const std::string text = metrics.Text();

  const std::string m1 = R"(port="COM\"7",address="1")";
  const std::string m4 = R"(port="COM\"7",address="4")";
  const std::pair<std::string, std::string> expected[] = {
      {R"(zlm_build_info{version="1.2.3"})", "1"},
      {"zlm_meter_cycles_total{" + m1 + "}", "2"},
      {"zlm_meter_cycles_total{" + m4 + "}", "0"},
      {"zlm_meter_cycle_failures_total{" + m4 + R"(,cause="No answer from ZLM"})", "2"},
      {"zlm_meter_cycle_failures_total{" + m4 + R"(,cause="line lost"})", "1"},
      {"zlm_meter_up{" + m1 + "}", "1"},
      {"zlm_meter_up{" + m4 + "}", "0"},
      {"zlm_meter_last_good_timestamp_seconds{" + m1 + "}", "1700000000.25"},
      // Cumulative buckets; the line-lost cycle was not timed.
      {"zlm_meter_cycle_duration_seconds_bucket{" + m1 + R"(,le="0.5"})", "1"},
      {"zlm_meter_cycle_duration_seconds_bucket{" + m1 + R"(,le="+Inf"})", "2"},
      {"zlm_meter_cycle_duration_seconds_sum{" + m1 + "}", "7.42"},
      {"zlm_meter_cycle_duration_seconds_count{" + m4 + "}", "2"},
      {"zlm_exchange_duration_seconds_bucket{" + m1 + R"(,le="0.1"})", "3"},
      {"zlm_exchange_duration_seconds_count{" + m1 + "}", "4"},
      {R"(zlm_line_up{port="COM\"7"})", "1"},
      {R"(zlm_line_opens_total{port="COM\"7"})", "3"},
      {R"(zlm_line_open_failures_total{port="COM\"7"})", "5"},
      {R"(zlm_line_losses_total{port="COM\"7"})", "2"},
      {R"(zlm_line_reconnects_total{port="COM\"7"})", "2"},
  };
  for (const auto& [series, value] : expected) {
    EXPECT_EQ(Sample(text, series), value) << series << "\n" << text;
  }
  // No meter 4 reading yet: no timestamp that would pretend one; no broker.
  EXPECT_FALSE(Sample(text, "zlm_meter_last_good_timestamp_seconds{" + m4 + "}")) << text;
  EXPECT_EQ(text.find("zlm_mqtt_"), std::string::npos) << text;
  // Lost now: the line is down.
  line.losses = 3;
  EXPECT_EQ(Sample(metrics.Text(), R"(zlm_line_up{port="COM\"7"})"), "0");
}

// Options from a file: the same as the command line, overridden by it, and
// a mistake named with its line.
class ConfigFile : public ::testing::Test {
 protected:
  struct Parsed {
    ParsedOptions result;
    std::string err;
  };
  Parsed Parse(const std::string& content, std::vector<const char*> args) {
    const std::string path = (m_dir / "line.conf").string();
    std::ofstream(path) << content;
    args.insert(args.begin(), {"zlm-read", "--config", path.c_str()});
    std::ostringstream out;
    std::ostringstream err;
    ParsedOptions result = ParseOptions(static_cast<int>(args.size()), args.data(), out, err);
    return {std::move(result), err.str()};
  }
  std::string File() const { return (m_dir / "line.conf").string(); }

  ScratchDir m_dir{"zlm-config"};
};

TEST_F(ConfigFile, GivesTheOptionsTheCommandLineOverrides) {
  const std::string file =
      "# a comment\n"
      "port = \"COM7\"\n"
      "address = [1, 3, 7]\n"
      "interval = 2.5\n"
      "format = \"json\"\n"
      "slow-after = 5\n"
      "metrics = \"0.0.0.0:9101\"\n";
  const Parsed fromFile = Parse(file, {});
  ASSERT_TRUE(fromFile.result.options) << fromFile.err;
  const ReadOptions& o = *fromFile.result.options;
  EXPECT_EQ(o.port, "COM7");
  EXPECT_EQ(o.addresses, (std::vector<int>{1, 3, 7}));
  EXPECT_EQ(o.schedule.period, std::chrono::milliseconds(2500));
  EXPECT_EQ(o.format, OutputFormat::kJson);
  EXPECT_TRUE(o.formatGiven);
  EXPECT_EQ(o.slowAfter, 5);
  ASSERT_TRUE(o.metrics);
  EXPECT_EQ(o.metrics->host, "0.0.0.0");

  const Parsed overridden = Parse(file, {"--address", "4", "--port", "COM9"});
  ASSERT_TRUE(overridden.result.options) << overridden.err;
  EXPECT_EQ(overridden.result.options->port, "COM9");
  EXPECT_EQ(overridden.result.options->addresses, std::vector<int>{4});
  EXPECT_EQ(overridden.result.options->slowAfter, 5);
}

TEST_F(ConfigFile, AMistakeIsNamedWithItsLine) {
  struct Case {
    const char* content;
    std::vector<const char*> args;
    int exitCode;
    std::string said;  // after the file's name, or on its own
  };
  const Case cases[] = {
      {"port = \"COM7\"\naddress = 1\nintervall = 5\n",
       {},
       kExitUsage,
       ":3: intervall: no such option"},
      {"port = \"COM7\"\n\naddress = 1\ninterval = \"soon\"\n", {}, kExitUsage, ":4: --interval"},
      {"port = \"COM7\"\naddress = 1\nmetrics = \"::1:80\"\n", {}, kExitUsage, ":3: --metrics"},
      {"ZLM_READ_OPTIONS=--port COM7 --address 1\n",
       {},
       kExitUsage,
       ":1: ZLM_READ_OPTIONS: no such option (the older form, the whole command line: it "
       "belongs in an environment file, NAME.env beside NAME.conf)"},
      {"address = 1\n", {}, kExitUsage, "--port is required"},
      // A bad value on the command line is not the file's.
      {"port = \"COM7\"\ninterval = 5\n",
       {"--address", "1", "--interval", "x"},
       kExitUsage,
       "--interval"},
      {"port = \"COM7\"\naddress = 32\n", {}, kExitBadAddress, "Incorrect Adres ZLM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    const Parsed parsed = Parse(c.content, c.args);
    EXPECT_FALSE(parsed.result.options);
    EXPECT_EQ(parsed.result.exitCode, c.exitCode);
    EXPECT_NE(parsed.err.find(c.said), std::string::npos) << parsed.err;
    EXPECT_EQ(parsed.err.find(File() + ":") != std::string::npos, c.said.starts_with(":"))
        << parsed.err;
  }
  const std::string none = (m_dir / "none.conf").string();
  const char* args[] = {"zlm-read", "--config", none.c_str()};
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(ParseOptions(3, args, out, err).exitCode, kExitUsage);
  EXPECT_NE(err.str().find("none.conf"), std::string::npos) << err.str();
}

}  // namespace
