#include "meter/link_format.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

ReceiveBlock Block(const char* hex) {
  ReceiveBlock block{};
  char* next = nullptr;
  for (BYTE& b : block) {
    b = static_cast<BYTE>(std::strtoul(hex, &next, 16));
    hex = next;
  }
  return block;
}

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
    const char* block;  // hex bytes
    int shift;
    int32_t position, value;
    double scaled;
  } kCases[] = {
      {"clean echo", 3, 2, "03 02 05 00 00 04 00 12 34 56 00 00", 0, 4, 123456, 12.3456},
      {"one stray", 3, 2, "7F 03 02 05 00 00 04 00 12 34 56 00", -1, 4, 123456, 12.3456},
      {"two strays", 3, 2, "7F 7E 03 02 05 00 00 04 00 12 34 56", -2, 4, 123456, 12.3456},
      {"address echo missing", 3, 2, "02 05 00 00 04 00 12 34 56 00 00 00", 1, 4, 123456, 12.3456},
      {"later test overrides", 3, 2, "02 05 03 02 05 00 12 34 56 00 00 00", 1, 5, 123456, 123.456},
      {"checksum 0x96", 31, 119, "55 1F 77 96 00 00 02 99 99 99 99 00", -1, 2, 99999999, 99.999999},
      {"position 8 unscaled", 255, 1, "FF 01 00 00 00 08 00 00 12 34 00 00", 0, 8, 1234, 1234.0},
      {"position 0", 255, 1, "FF 01 00 00 00 00 12 34 56 78 00 00", 0, 0, 12345678, 0.12345678},
      {"position 9", 255, 1, "FF 01 00 00 00 09 00 00 00 01 00 00", 0, 9, 1, 1.0},
      {"position 0x10", 255, 1, "FF 01 00 00 00 10 00 00 00 01 00 00", 0, 10, 1, 1.0},
      {"nibbles above 9", 255, 1, "FF 01 00 00 00 08 1A 1A 1A 1A 00 00", 0, 8, 20202020,
       20202020.0},
      {"largest value", 255, 1, "FF 01 00 00 00 FF FF FF FF FF 00 00", 0, 165, 166666665,
       166666665.0},
  };
  for (const auto& c : kCases) {
    const MeterRequest request = MakeRequest(c.address, c.code);
    const ReceiveBlock block = Block(c.block);
    const int shift = FindEchoShift(block, request);
    EXPECT_EQ(shift, c.shift) << c.name;
    const DecodedResponse decoded = DecodeResponse(block, shift);
    EXPECT_EQ(decoded.position, c.position) << c.name;
    EXPECT_EQ(decoded.value, c.value) << c.name;
    EXPECT_DOUBLE_EQ(ScaleValue(decoded.value, decoded.position), c.scaled) << c.name;
  }
}

TEST(LinkFormatTest, EncodedResponsesDecodeBackAtEveryShift) {
  struct Case {
    int32_t value, position;
    ResponseBytes bytes;
  };
  const Case kCases[] = {
      {0, 8, {0x08, 0x00, 0x00, 0x00, 0x00}},
      {12345678, 0, {0x00, 0x12, 0x34, 0x56, 0x78}},
      {99999999, 99, {0x99, 0x99, 0x99, 0x99, 0x99}},
      {1020304, 5, {0x05, 0x01, 0x02, 0x03, 0x04}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(EncodeResponse(c.value, c.position), c.bytes) << c.value;
    for (int shift = -2; shift <= 1; ++shift) {
      // R2 lands at block position 5 - shift.
      ReceiveBlock block{};
      for (std::size_t i = 0; i < c.bytes.size(); ++i) {
        block[static_cast<std::size_t>(5 - shift) + i] = c.bytes[i];
      }
      const DecodedResponse decoded = DecodeResponse(block, shift);
      EXPECT_EQ(decoded.value, c.value) << shift;
      EXPECT_EQ(decoded.position, c.position) << shift;
    }
  }
}

TEST(LinkFormatTest, MeterAddresses) {
  const std::pair<int32_t, bool> kCases[] = {{-1, false},  {0, true},   {31, true},   {32, false},
                                             {254, false}, {255, true}, {256, false}, {511, false}};
  for (const auto& [address, valid] : kCases)
    EXPECT_EQ(IsValidMeterAddress(address), valid) << address;
}

}  // namespace
