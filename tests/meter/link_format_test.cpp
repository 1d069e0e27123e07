#include "meter/link_format.h"

#include <gtest/gtest.h>

namespace {

TEST(LinkFormatTest, RequestBytes) {
  const struct {
    int32_t address, code;
    BYTE a, c, k;
  } kCases[] = {
      {255, 1, 0xFF, 0x01, 0x00},  {255, 119, 0xFF, 0x77, 0x76},
      {31, 119, 0x1F, 0x77, 0x96}, {3, 2, 0x03, 0x02, 0x05},
      {0, 5, 0x00, 0x05, 0x05},    {0x1234, 0x1001, 0x34, 0x01, 0x35},
      {-1, 1, 0xFF, 0x01, 0x00},   {INT32_MAX, INT32_MAX, 0xFF, 0xFF, 0xFE},
  };
  for (const auto& c : kCases) {
    const MeterRequest r = MakeRequest(c.address, c.code);
    EXPECT_EQ(r.address, c.a) << c.address << "/" << c.code;
    EXPECT_EQ(r.code, c.c) << c.address << "/" << c.code;
    EXPECT_EQ(r.checksum, c.k) << c.address << "/" << c.code;
  }
}

TEST(LinkFormatTest, BcdWithoutNibbleCheck) {
  const std::pair<BYTE, int32_t> kCases[] = {{0x00, 0},  {0x12, 12}, {0x99, 99},
                                             {0x0A, 10}, {0x1A, 20}, {0xFF, 165}};
  for (const auto& [b, decoded] : kCases) EXPECT_EQ(DecodeBcd(b), decoded) << int{b};
}

TEST(LinkFormatTest, AlignDecodeScale) {
  const struct {
    const char* name;
    int32_t address, code;
    ReceiveBlock block;
    int shift;
    int32_t position, value;
    double scaled;
  } kCases[] = {
      {"clean echo",
       3,
       2,
       {3, 2, 5, 0, 0, 0x04, 0x00, 0x12, 0x34, 0x56, 0, 0},
       0,
       4,
       123456,
       12.3456},
      {"one stray",
       3,
       2,
       {0x7F, 3, 2, 5, 0, 0, 0x04, 0, 0x12, 0x34, 0x56, 0},
       -1,
       4,
       123456,
       12.3456},
      {"two strays",
       3,
       2,
       {0x7F, 0x7E, 3, 2, 5, 0, 0, 0x04, 0, 0x12, 0x34, 0x56},
       -2,
       4,
       123456,
       12.3456},
      {"address echo missing",
       3,
       2,
       {2, 5, 0, 0, 0x04, 0, 0x12, 0x34, 0x56, 0, 0, 0},
       1,
       4,
       123456,
       12.3456},
      {"later test overrides",
       3,
       2,
       {2, 5, 3, 2, 5, 0, 0x12, 0x34, 0x56, 0, 0, 0},
       1,
       5,
       123456,
       123.456},
      {"checksum 0x96 echoed",
       31,
       119,
       {0x55, 0x1F, 0x77, 0x96, 0, 0, 0x02, 0x99, 0x99, 0x99, 0x99, 0},
       -1,
       2,
       99999999,
       99.999999},
      {"position 8 unscaled",
       255,
       1,
       {0xFF, 1, 0, 0, 0, 0x08, 0, 0, 0x12, 0x34, 0, 0},
       0,
       8,
       1234,
       1234.0},
      {"position 0",
       255,
       1,
       {0xFF, 1, 0, 0, 0, 0x00, 0x12, 0x34, 0x56, 0x78, 0, 0},
       0,
       0,
       12345678,
       0.12345678},
      {"position 9", 255, 1, {0xFF, 1, 0, 0, 0, 0x09, 0, 0, 0, 0x01, 0, 0}, 0, 9, 1, 1.0},
      {"position 0x10", 255, 1, {0xFF, 1, 0, 0, 0, 0x10, 0, 0, 0, 0x01, 0, 0}, 0, 10, 1, 1.0},
      {"nibbles above 9",
       255,
       1,
       {0xFF, 1, 0, 0, 0, 0x08, 0x1A, 0x1A, 0x1A, 0x1A, 0, 0},
       0,
       8,
       20202020,
       20202020.0},
      {"largest value",
       255,
       1,
       {0xFF, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0},
       0,
       165,
       166666665,
       166666665.0},
  };
  for (const auto& c : kCases) {
    const MeterRequest request = MakeRequest(c.address, c.code);
    const int shift = FindEchoShift(c.block, request);
    EXPECT_EQ(shift, c.shift) << c.name;
    const DecodedResponse decoded = DecodeResponse(c.block, shift);
    EXPECT_EQ(decoded.position, c.position) << c.name;
    EXPECT_EQ(decoded.value, c.value) << c.name;
    EXPECT_DOUBLE_EQ(ScaleValue(decoded.value, decoded.position), c.scaled) << c.name;
  }
}

TEST(LinkFormatTest, MeterAddresses) {
  const std::pair<int32_t, bool> kCases[] = {{-1, false},  {0, true},   {31, true},   {32, false},
                                             {254, false}, {255, true}, {256, false}, {511, false}};
  for (const auto& [address, valid] : kCases)
    EXPECT_EQ(IsValidMeterAddress(address), valid) << address;
}

}  // namespace
