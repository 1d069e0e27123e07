#include "sim/zlm_meter.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Frame = std::vector<std::pair<BYTE, bool>>;

std::vector<BYTE> Feed(ZlmMeter& meter, const Frame& frame) {
  std::vector<BYTE> answer;
  for (const auto& [byte, ninth] : frame) {
    std::vector<BYTE> out = meter.Receive(byte, ninth);
    answer.insert(answer.end(), out.begin(), out.end());
  }
  return answer;
}

TEST(ZlmMeterTest, AnswerLayout) {
  ZlmMeter meter(17);
  ASSERT_TRUE(meter.SetValue(4, 12345678, 6));
  const std::vector<BYTE> expected = {17, 4, 0x06, 0x12, 0x34, 0x56, 0x78, 0x2F};
  EXPECT_EQ(Feed(meter, {{17, true}, {4, false}, {21, false}}), expected);
  EXPECT_EQ(Feed(meter, {{255, true}, {4, false}, {3, false}}), expected);
}

TEST(ZlmMeterTest, AnswersOnlyCompleteValidRequests) {
  ZlmMeter meter(3);
  meter.SetRawValue(2, {0x09, 0x1A, 0, 0, 0});
  const struct {
    const char* name;
    Frame frame;
    std::size_t answerBytes;
  } kCases[] = {
      {"own address", {{3, true}, {2, false}, {5, false}}, 8},
      {"other address", {{4, true}, {2, false}, {6, false}}, 0},
      {"wrong checksum", {{3, true}, {2, false}, {6, false}}, 0},
      {"address sent as data", {{3, false}, {2, false}, {5, false}}, 0},
      {"code without a value", {{3, true}, {7, false}, {10, false}}, 0},
      {"cut short, then anew", {{3, true}, {2, false}, {3, true}, {2, false}, {5, false}}, 8},
      {"one answer per request", {{3, true}, {2, false}, {5, false}, {2, false}, {5, false}}, 8},
  };
  for (const auto& c : kCases) {
    const std::vector<BYTE> answer = Feed(meter, c.frame);
    EXPECT_EQ(answer.size(), c.answerBytes) << c.name;
    if (!answer.empty()) {
      EXPECT_EQ(answer[2], 0x09) << c.name;
      EXPECT_EQ(answer[3], 0x1A) << c.name;
    }
  }
}

TEST(ZlmMeterTest, RefusesValuesItCannotSend) {
  ZlmMeter meter(0);
  EXPECT_FALSE(meter.SetValue(1, 100'000'000, 8));
  EXPECT_FALSE(meter.SetValue(1, -1, 8));
  EXPECT_FALSE(meter.SetValue(1, 5, 100));
  EXPECT_EQ(Feed(meter, {{0, true}, {1, false}, {1, false}})[6], 0x00);  // still N 0
}

}  // namespace
