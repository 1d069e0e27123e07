#include "tools/zlm_read/print_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tools/zlm_read/address_list.h"

namespace {

// A scratch stream the sink writes to, read back whole.
class Capture {
 public:
  Capture() : m_file(std::tmpfile(), &std::fclose) {}
  std::FILE* File() const { return m_file.get(); }
  std::string Text() const {
    std::rewind(m_file.get());
    std::string text;
    for (int c; (c = std::fgetc(m_file.get())) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_file;
};

TEST(PrintSink, CsvHeaderOnceAndFailuresNamedByAddressWhenSeveral) {
  struct Case {
    OutputFormat format;
    bool severalMeters;
    const char* failureCause;
    std::string outStart;
    std::string err;
  };
  const Case cases[] = {
      {OutputFormat::kCsv, false, "", "time,port,address,", "No answer from ZLM\n"},
      {OutputFormat::kCsv, true, "hint: check the wiring", "time,port,address,",
       "address 5: No answer from ZLM\nhint: check the wiring\n"},
      {OutputFormat::kJson, true, "", "{\"time\":", "address 5: No answer from ZLM\n"},
  };
  for (const Case& c : cases) {
    Capture out;
    Capture err;
    PrintSink sink(c.format, c.severalMeters, out.File(), err.File());
    const MeterCycle cycle{std::chrono::system_clock::now(), "COM1", 3, {}};
    sink.Read(cycle);
    sink.Failed({cycle.time, "COM1", 5, "No answer from ZLM", c.failureCause});
    sink.Read(cycle);
    const std::string printed = out.Text();
    EXPECT_EQ(printed.rfind(c.outStart, 0), 0u) << printed;
    if (c.format == OutputFormat::kCsv) {
      EXPECT_EQ(printed.find(c.outStart, 1), std::string::npos) << "header twice: " << printed;
    }
    EXPECT_EQ(err.Text(), c.err);
  }
}

TEST(AddressList, ValuesCommasAndRepeats) {
  struct Case {
    std::vector<std::string> values;
    std::vector<int> addresses;
    const char* error;
  };
  const Case cases[] = {
      {{"5"}, {5}, ""},
      {{"1,3,7"}, {1, 3, 7}, ""},
      {{"7", " 3 ,0"}, {7, 3, 0}, ""},
      {{"32"}, {32}, ""},  // a meter address or not is told apart, as the window does
      {{"1,"}, {}, "'' is not a decimal whole number"},
      {{"1.5"}, {}, "'1.5' is not a decimal whole number"},
      {{"3", "3"}, {}, "address 3 is given twice"},
      {{"255,1"}, {}, "255 reaches every meter on the line"},
  };
  for (const Case& c : cases) {
    const AddressList list = ParseAddressList(c.values);
    EXPECT_EQ(list.addresses, c.addresses) << c.values.front();
    EXPECT_EQ(list.error.rfind(c.error, 0), 0u) << list.error;
    EXPECT_EQ(list.error.empty(), *c.error == '\0') << list.error;
  }
}

}  // namespace
