#pragma once

#include <cstdint>

#include "sim/zlm_meter.h"

// The readings of a meter in service, as numbers, and how they become the
// digits and decimal position of its answers.

struct MeterReadings {
  double volumeM3 = 0;
  double volumeL = 0;
  double hours = 0;
  double flowM3h = 0;
  double flowLmin = 0;
  double flowPercent = 0;
  double nominalDiameterMm = 0;
};

// A meter in steady service: the flow swings slowly around its mean, the two
// volume counters integrate it, the hours counter runs with the clock. The
// model is closed-form, so a reading at any time is exact and repeatable.
struct FlowProfile {
  double nominalDiameterMm = 50;
  double meanFlowM3h = 12;
  double swing = 0.25;  // amplitude of the swing, relative to the mean (0..1)
  double periodSeconds = 600;
  double startVolumeM3 = 1234.5;
  double startHours = 8760;
};

// Full scale of the per-cent reading: the flow through the bore at 10 m/s.
double FullScaleFlowM3h(double nominalDiameterMm);

// The readings seconds after the profile's start.
MeterReadings ReadingsAt(const FlowProfile& profile, double seconds);

// The reading of a code of the reading cycle; 0 for any other code.
double ReadingOf(const MeterReadings& readings, int32_t code);
// Sets the reading of a code of the reading cycle; other codes are ignored.
void SetReading(MeterReadings& readings, int32_t code, double value);

// Eight digits N and decimal position P: the most digits after the point
// that eight digits allow. Negative values give 0; values of 10^8 and more
// roll over like a counter.
struct EncodedReading {
  int32_t n;
  int32_t p;
};
EncodedReading EncodeReading(double value);

// R2..R6 of an answer carrying the reading.
ZlmMeter::RawValue RawValueOf(const EncodedReading& reading);

// Sets every code of the reading cycle on the meter.
void ApplyReadings(ZlmMeter& meter, const MeterReadings& readings);
