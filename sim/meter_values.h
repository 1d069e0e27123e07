#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "meter/reading_cycle.h"
#include "sim/meter_bus.h"
#include "sim/zlm_meter.h"

// The readings of a meter in service, as numbers, and how they become the
// digits and decimal position of its answers.

// By row of the reading cycle's parameter table.
using MeterReadings = ParameterValues;

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

// Answers no sound meter gives, on every code of the reading cycle.
struct AnswerFaults {
  bool invalidBcd = false;        // value digits carry nibbles above 9
  bool positionTooLarge = false;  // decimal position 9
};

// The value digits sent under invalidBcd (decoded as 20 31 42 53).
inline constexpr BYTE kInvalidBcdDigits[4] = {0x1A, 0x2B, 0x3C, 0x4D};

// Sets every code of the reading cycle on the meter.
void ApplyReadings(ZlmMeter& meter, const MeterReadings& readings, const AnswerFaults& faults = {});

// One meter in service and where its readings come from.
struct BusMeter {
  int32_t address = 1;
  FlowProfile profile{};
  bool frozen = false;                // readings stay those of the start
  std::map<int32_t, double> fixed{};  // code -> reading, whatever the profile says
};

// Puts the meters on the bus with the readings of their profiles as of each
// request (seconds on the bus's clock), fixed readings and faults applied.
void AttachMetersInService(MeterBus& bus, const std::vector<BusMeter>& meters,
                           const AnswerFaults& faults);
