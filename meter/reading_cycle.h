#pragma once

#include <array>
#include <cstdint>

// The seven parameters read every poll period, in reading order (the order
// of the fields on screen: flow in l/min comes before flow in per cent).
struct ParameterInfo {
  int32_t code;
  const char* key;  // name of the quantity in machine-readable output
  const char* unit;
};

inline constexpr std::array<ParameterInfo, 7> kParameters = {{
    {1, "volume_m3", "m3"},
    {2, "volume_l", "l"},
    {3, "hours", "h"},
    {4, "flow_m3h", "m3/h"},
    {6, "flow_lmin", "l/min"},
    {5, "flow_percent", "%"},
    {119, "nominal_diameter", "mm"},
}};

// The reading timer: one cycle over kParameters per tick.
inline constexpr int POLL_TIMER_ID = 1;
inline constexpr unsigned POLL_PERIOD_MS = 2000;
