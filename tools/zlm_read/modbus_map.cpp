#include "tools/zlm_read/modbus_map.h"

#include <algorithm>
#include <bit>

#include "meter/read_exchange.h"
#include "serial/port_discovery.h"

namespace {

// One code per failure message, in the order of the exchange's steps.
struct StatusCode {
  const char* message;
  std::uint16_t code;
};
constexpr StatusCode kStatusCodes[] = {
    {kMsgNoFreePort, 1},          {kMsgNoAnswer, 2},          {kMsgPositionTooLarge, 3},
    {kMsgBuildMarkMode, 4},       {kMsgApplyMarkMode, 5},     {kMsgAddressNotWritten, 6},
    {kMsgBuildSpaceMode, 7},      {kMsgApplySpaceMode, 8},    {kMsgCodeNotWritten, 9},
    {kMsgChecksumNotWritten, 10}, {kMsgIncorrectAddress, 11},
};
constexpr std::uint16_t kOtherFailure = 99;

std::uint32_t Saturated(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, UINT32_MAX));
}

void Put32(ModbusRegisters& registers, std::size_t at, std::uint32_t value, WordOrder order) {
  const auto high = static_cast<std::uint16_t>(value >> 16);
  const auto low = static_cast<std::uint16_t>(value & 0xFFFF);
  registers[at] = order == WordOrder::kHighFirst ? high : low;
  registers[at + 1] = order == WordOrder::kHighFirst ? low : high;
}

}  // namespace

std::uint16_t ModbusStatusOf(const std::string& message) {
  for (const StatusCode& status : kStatusCodes) {
    if (message == status.message) return status.code;
  }
  return kOtherFailure;
}

ModbusRegisters RegistersOf(const MeterState& meter, std::chrono::steady_clock::time_point now,
                            WordOrder order) {
  ModbusRegisters registers{};
  registers[kRegVersion] = kModbusMapVersion;
  registers[kRegStatus] = meter.status;
  registers[kRegCause] = meter.cause;
  registers[kRegAddress] = static_cast<std::uint16_t>(meter.address);
  const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - meter.lastGood).count();
  Put32(registers, kRegAge, Saturated(static_cast<std::uint64_t>(std::max<long long>(age, 0))),
        order);
  Put32(registers, kRegGoodCycles, Saturated(meter.goodCycles), order);
  Put32(registers, kRegFailedCycles, Saturated(meter.failedCycles), order);
  if (!meter.readings) return registers;
  for (std::size_t row = 0; row < kParameters.size(); ++row) {
    const Reading& reading = (*meter.readings)[row];
    const float value = static_cast<float>(reading.value);
    Put32(registers, kRegValues + 2 * row, std::bit_cast<std::uint32_t>(value), order);
    Put32(registers, kRegDigits + 2 * row, static_cast<std::uint32_t>(reading.raw), order);
    registers[kRegPositions + row] = static_cast<std::uint16_t>(reading.position);
  }
  return registers;
}
