#include "sim/meter_values.h"

#include <cmath>
#include <numbers>

#include "meter/reading_cycle.h"

namespace {

constexpr double kFullScaleVelocity = 10.0;  // m/s
constexpr double kSecondsPerHour = 3600.0;
constexpr double kCounterModulus = 1e8;  // eight digits

BYTE EncodeBcd(int32_t twoDigits) {
  return static_cast<BYTE>((twoDigits / 10) << 4 | twoDigits % 10);
}

}  // namespace

double FullScaleFlowM3h(double nominalDiameterMm) {
  const double radiusM = nominalDiameterMm / 2000.0;
  return std::numbers::pi * radiusM * radiusM * kFullScaleVelocity * kSecondsPerHour;
}

MeterReadings ReadingsAt(const FlowProfile& profile, double seconds) {
  const double omega = 2 * std::numbers::pi / profile.periodSeconds;
  const double mean = profile.meanFlowM3h;
  MeterReadings r;
  r.nominalDiameterMm = profile.nominalDiameterMm;
  r.flowM3h = mean * (1 + profile.swing * std::sin(omega * seconds));
  r.flowLmin = r.flowM3h * 1000 / 60;
  const double fullScale = FullScaleFlowM3h(profile.nominalDiameterMm);
  r.flowPercent = fullScale > 0 ? r.flowM3h / fullScale * 100 : 0;
  // The integral of the flow from the start, in m3.
  const double integral =
      mean * (seconds + profile.swing / omega * (1 - std::cos(omega * seconds))) / kSecondsPerHour;
  r.volumeM3 = profile.startVolumeM3 + integral;
  r.volumeL = r.volumeM3 * 1000;
  r.hours = profile.startHours + seconds / kSecondsPerHour;
  return r;
}

namespace {

// The member of a reading-cycle code; nullptr for other codes. A template
// so one table serves the const and the mutable record.
template <typename Readings>
auto* Field(Readings& r, int32_t code) {
  switch (code) {
    case 1:
      return &r.volumeM3;
    case 2:
      return &r.volumeL;
    case 3:
      return &r.hours;
    case 4:
      return &r.flowM3h;
    case 5:
      return &r.flowPercent;
    case 6:
      return &r.flowLmin;
    case 119:
      return &r.nominalDiameterMm;
    default:
      return static_cast<decltype(&r.volumeM3)>(nullptr);
  }
}

}  // namespace

double ReadingOf(const MeterReadings& readings, int32_t code) {
  const double* field = Field(readings, code);
  return field ? *field : 0;
}

void SetReading(MeterReadings& readings, int32_t code, double value) {
  if (double* field = Field(readings, code)) *field = value;
}

EncodedReading EncodeReading(double value) {
  if (!(value > 0)) return {0, 0};
  value = std::fmod(value, kCounterModulus);
  // The fewest digits before the point leave the most after it; rounding
  // can carry into one more digit before the point.
  double scale = kCounterModulus;  // 10^(8 - p)
  for (int32_t p = 0; p < 8; ++p, scale /= 10) {
    const double n = std::round(value * scale);
    if (n < kCounterModulus) return {static_cast<int32_t>(n), p};
  }
  const double n = std::round(value);
  return {static_cast<int32_t>(n < kCounterModulus ? n : n - kCounterModulus), 8};
}

ZlmMeter::RawValue RawValueOf(const EncodedReading& reading) {
  const int32_t n = reading.n;
  return {EncodeBcd(reading.p), EncodeBcd(n / 1'000'000), EncodeBcd(n / 10'000 % 100),
          EncodeBcd(n / 100 % 100), EncodeBcd(n % 100)};
}

void ApplyReadings(ZlmMeter& meter, const MeterReadings& readings) {
  for (const ParameterInfo& parameter : kParameters) {
    const EncodedReading encoded = EncodeReading(ReadingOf(readings, parameter.code));
    meter.SetValue(parameter.code, encoded.n, encoded.p);
  }
}
