#include "sim/meter_values.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kFullScaleVelocity = 10.0;  // m/s
constexpr double kSecondsPerHour = 3600.0;
constexpr double kCounterModulus = 1e8;  // eight digits

}  // namespace

double FullScaleFlowM3h(double nominalDiameterMm) {
  const double radiusM = nominalDiameterMm / 2000.0;
  return std::numbers::pi * radiusM * radiusM * kFullScaleVelocity * kSecondsPerHour;
}

MeterReadings ReadingsAt(const FlowProfile& profile, double seconds) {
  const double omega = 2 * std::numbers::pi / profile.periodSeconds;
  const double mean = profile.meanFlowM3h;
  MeterReadings r{};
  r[kNominalDiameter] = profile.nominalDiameterMm;
  r[kFlowM3h] = mean * (1 + profile.swing * std::sin(omega * seconds));
  r[kFlowLmin] = r[kFlowM3h] * 1000 / 60;
  const double fullScale = FullScaleFlowM3h(profile.nominalDiameterMm);
  r[kFlowPercent] = fullScale > 0 ? r[kFlowM3h] / fullScale * 100 : 0;
  // The integral of the flow from the start, in m3.
  const double integral =
      mean * (seconds + profile.swing / omega * (1 - std::cos(omega * seconds))) / kSecondsPerHour;
  r[kVolumeM3] = profile.startVolumeM3 + integral;
  r[kVolumeL] = r[kVolumeM3] * 1000;
  r[kHours] = profile.startHours + seconds / kSecondsPerHour;
  return r;
}

double ReadingOf(const MeterReadings& readings, int32_t code) {
  const std::optional<std::size_t> row = RowOf(code);
  return row ? readings[*row] : 0;
}

void SetReading(MeterReadings& readings, int32_t code, double value) {
  if (const std::optional<std::size_t> row = RowOf(code)) readings[*row] = value;
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

void ApplyReadings(ZlmMeter& meter, const MeterReadings& readings, const AnswerFaults& faults) {
  constexpr BYTE kPositionTooLarge = 0x09;
  for (std::size_t row = 0; row < kParameters.size(); ++row) {
    const int32_t code = kParameters[row].code;
    const EncodedReading encoded = EncodeReading(readings[row]);
    meter.SetValue(code, encoded.n, encoded.p);
    if (!faults.invalidBcd && !faults.positionTooLarge) continue;
    ZlmMeter::RawValue raw = EncodeResponse(encoded.n, encoded.p);
    if (faults.positionTooLarge) raw[0] = kPositionTooLarge;
    if (faults.invalidBcd) {
      std::copy(std::begin(kInvalidBcdDigits), std::end(kInvalidBcdDigits), raw.begin() + 1);
    }
    meter.SetRawValue(code, raw);
  }
}

void AttachMetersInService(MeterBus& bus, const std::vector<BusMeter>& meters,
                           const AnswerFaults& faults) {
  struct Station {
    BusMeter config;
    ZlmMeter* meter;
  };
  std::vector<Station> stations;
  for (const BusMeter& config : meters)
    stations.push_back({config, &bus.AttachMeter(config.address)});
  const auto refresh = [stations, faults](std::uint64_t nowUs) {
    for (const Station& station : stations) {
      const BusMeter& config = station.config;
      const double seconds = config.frozen ? 0.0 : static_cast<double>(nowUs) / 1e6;
      MeterReadings readings = ReadingsAt(config.profile, seconds);
      for (const auto& [code, value] : config.fixed) SetReading(readings, code, value);
      ApplyReadings(*station.meter, readings, faults);
    }
  };
  refresh(0);
  bus.OnRequest(refresh);
}
