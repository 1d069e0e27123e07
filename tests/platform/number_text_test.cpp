#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(NumberTextTest, DoublesAreWrittenInGeneralNotationWithFifteenDigits) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0"},
      {12.3456, "12.3456"},
      {99.999999, "99.999999"},
      {12345678.0, "12345678"},
      {123456.0 / 100000000.0, "0.00123456"},
      {1e-8, "1e-08"},
      {1234567890123456.0, "1.23456789012346e+15"},
      {-2.5, "-2.5"},
      {0.1 + 0.2, "0.3"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDouble(c.value), c.text) << c.text;
}

TEST(NumberTextTest, WholeNumbersParseWithBlanksAndSignOnly) {
  const struct {
    const char* text;
    std::optional<int> value;
  } cases[] = {
      {"0", 0},
      {"31", 31},
      {" 007 ", 7},
      {"+5", 5},
      {"-1", -1},
      {"2147483647", 2147483647},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"abc", std::nullopt},
      {"12abc", std::nullopt},
      {"1.5", std::nullopt},
      {"+-1", std::nullopt},
      {"2147483648", std::nullopt},
      {"0x1F", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberTextTest, DecimalNumbersParseWithADotWhateverTheLocale) {
  const struct {
    const char* text;
    std::optional<double> value;
  } cases[] = {
      {"12.3456", 12.3456},      {" 1e-08", 1e-8},   {"+2", 2.0},           {"0", 0.0},
      {"12,3456", std::nullopt}, {"", std::nullopt}, {"nan", std::nullopt}, {"inf", std::nullopt},
      {"1.5x", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseDouble(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberTextTest, EveryShownValueReadsBackUnchanged) {
  for (const double value : {12.3456, 0.00123456, 99.999999, 123456.78, 1e-8, 166666665.0}) {
    EXPECT_EQ(ParseDouble(FormatDouble(value)), value);
  }
}

}  // namespace
