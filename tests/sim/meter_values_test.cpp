#include "sim/meter_values.h"

#include <gtest/gtest.h>

#include "meter/link_format.h"
#include "meter/reading_cycle.h"

namespace {

struct EncodeCase {
  double value;
  int32_t n;
  int32_t p;
};

TEST(MeterValuesTest, EncodeReadingKeepsTheMostDecimals) {
  const EncodeCase cases[] = {
      {0, 0, 0},
      {-3, 0, 0},
      {0.5, 50000000, 0},
      {12.3456, 12345600, 2},
      {8760.25, 87602500, 4},
      {98765432, 98765432, 8},
      {0.999999999, 10000000, 1},  // rounding carries into a digit before the point
      {99999999.6, 0, 8},          // the counter rolls over
      {100000005, 50000000, 1},
  };
  for (const EncodeCase& c : cases) {
    const EncodedReading encoded = EncodeReading(c.value);
    EXPECT_EQ(encoded.n, c.n) << c.value;
    EXPECT_EQ(encoded.p, c.p) << c.value;
  }
}

// What the meter sends decodes, with the reader's own decoding and scaling,
// to the reading it was given.
TEST(MeterValuesTest, AnswersDecodeToTheReadings) {
  ZlmMeter meter(5);
  const MeterReadings readings = ReadingsAt(FlowProfile{}, 1234.5);
  ApplyReadings(meter, readings);
  for (const ParameterInfo& parameter : kParameters) {
    const MeterRequest request = MakeRequest(5, parameter.code);
    meter.Receive(request.address, true);
    meter.Receive(request.code, false);
    const std::vector<BYTE> answer = meter.Receive(request.checksum, false);
    ASSERT_EQ(answer.size(), 8u);
    ReceiveBlock block{request.address, request.code, request.checksum};
    std::copy(answer.begin(), answer.end(), block.begin() + 3);
    const DecodedResponse decoded = DecodeResponse(block, 0);
    const double expected = ReadingOf(readings, parameter.code);
    EXPECT_NEAR(ScaleValue(decoded.value, decoded.position), expected, expected * 1e-7)
        << parameter.key;
  }
}

TEST(MeterValuesTest, VolumesIntegrateTheFlowAndPercentFollowsTheBore) {
  FlowProfile profile;
  profile.nominalDiameterMm = 80;
  EXPECT_NEAR(FullScaleFlowM3h(50), 70.686, 1e-3);  // 10 m/s through DN50

  for (const double t : {0.0, 100.0, 450.0, 7200.0}) {
    const MeterReadings a = ReadingsAt(profile, t);
    const MeterReadings b = ReadingsAt(profile, t + 1);
    const double midFlow = ReadingsAt(profile, t + 0.5)[kFlowM3h];
    // The mid-point rule is good to about 1e-5 m3/h over one second here.
    EXPECT_NEAR((b[kVolumeM3] - a[kVolumeM3]) * 3600, midFlow, 1e-4) << t;
    EXPECT_NEAR(b[kVolumeL], b[kVolumeM3] * 1000, 1e-6);
    EXPECT_NEAR((b[kHours] - a[kHours]) * 3600, 1, 1e-6);
    EXPECT_NEAR(a[kFlowLmin], a[kFlowM3h] * 1000 / 60, 1e-9);
    EXPECT_NEAR(a[kFlowPercent], a[kFlowM3h] / FullScaleFlowM3h(80) * 100, 1e-9);
    EXPECT_EQ(a[kNominalDiameter], 80);
  }
  EXPECT_NE(ReadingsAt(profile, 0)[kFlowM3h], ReadingsAt(profile, 100)[kFlowM3h]);
}

}  // namespace
