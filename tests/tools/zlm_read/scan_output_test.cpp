#include "tools/zlm_read/scan_output.h"

#include <gtest/gtest.h>

namespace {

ScanRow Row(int32_t address, bool echo, AnswerSeen answer, bool sent = true) {
  ScanRow row;
  row.address = address;
  row.echoSeen = echo;
  row.answer = answer;
  row.sent = sent;
  if (answer == AnswerSeen::kComplete) row.diameter = Reading{119, 2, 50000000, 50.0};
  return row;
}

TEST(ScanOutput, PrintedForms) {
  const std::vector<ScanRow> rows = {Row(2, true, AnswerSeen::kNone),
                                     Row(3, true, AnswerSeen::kComplete)};
  const std::pair<OutputFormat, std::string> cases[] = {
      {OutputFormat::kTable,
       "address  echo  answer  nominal_diameter\n"
       "      2  yes   none    \n"
       "      3  yes   ok      50.000000 mm\n"},
      {OutputFormat::kCsv,
       "address,echo,answer,nominal_diameter\n2,yes,none,\n3,yes,ok,50.000000\n"},
      // The diameter keeps the meter's digits, as in the table.
      {OutputFormat::kJson,
       "{\"address\":2,\"echo\":true,\"answer\":\"none\",\"nominal_diameter\":null}\n"
       "{\"address\":3,\"echo\":true,\"answer\":\"ok\",\"nominal_diameter\":50.000000}\n"},
  };
  for (const auto& [format, text] : cases) EXPECT_EQ(FormatScan(format, rows), text);
  EXPECT_EQ(FormatScan(OutputFormat::kJson, {Row(0, false, AnswerSeen::kLate)}),
            "{\"address\":0,\"echo\":false,\"answer\":\"late\",\"nominal_diameter\":null}\n");
}

TEST(ScanOutput, FoundLineNamesEveryCompleteAnswer) {
  EXPECT_EQ(FoundLine({}), "meters found: none");
  EXPECT_EQ(FoundLine({Row(3, true, AnswerSeen::kComplete), Row(4, true, AnswerSeen::kShort),
                       Row(7, true, AnswerSeen::kComplete)}),
            "meters found: 3, 7");
}

TEST(ScanOutput, EmptyScanExplainedByWhatTheLineShowed) {
  struct Case {
    const char* name;
    std::vector<ScanRow> rows;
    const char* explanation;  // start of the line; "" for none
  };
  const Case cases[] = {
      {"a meter answered",
       {Row(0, true, AnswerSeen::kLate), Row(1, true, AnswerSeen::kComplete)},
       ""},
      {"nothing asked", {}, ""},
      {"late beats short",
       {Row(0, true, AnswerSeen::kShort), Row(1, true, AnswerSeen::kLate)},
       "cause: answers came after the read"},
      {"short", {Row(0, false, AnswerSeen::kShort)}, "cause: answers were too short"},
      {"echo only",
       {Row(0, false, AnswerSeen::kNone), Row(1, true, AnswerSeen::kNone)},
       "hint: every request was echoed"},
      {"nothing back", {Row(0, false, AnswerSeen::kNone)}, "cause: no bytes came back on COM9,"},
      // The line refused a request: that failure is told instead.
      {"not sent", {Row(0, false, AnswerSeen::kNone, false)}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = ExplainEmptyScan(c.rows, "COM9");
    if (*c.explanation == '\0') {
      EXPECT_EQ(line, "");
    } else {
      EXPECT_EQ(line.rfind(c.explanation, 0), 0u) << line;
    }
  }
}

}  // namespace
