#include "meter/reading_cycle.h"

#include <chrono>
#include <cstdio>

#include "meter/link_format.h"
#include "meter/read_exchange.h"

std::optional<std::size_t> RowOf(int32_t code) {
  for (std::size_t row = 0; row < kParameters.size(); ++row) {
    if (kParameters[row].code == code) return row;
  }
  return std::nullopt;
}

CycleResult ReadAllParameters(SerialPort& port, HANDLE h, int32_t address, DWORD answerWaitMs) {
  CycleResult result;
  for (const ParameterInfo& parameter : kParameters) {
    const auto start = std::chrono::steady_clock::now();
    const ReceiveResult received = SendRequest(port, h, address, parameter.code, answerWaitMs);
    result.exchangeSeconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    const ExchangeResult exchange = DecodeAnswer(received);
    if (exchange.error) {
      result.error = exchange.error;
      result.failedCode = parameter.code;
      result.failedReceived = received;
      result.failedExchange = exchange;
      return result;
    }
    const double raw = exchange.value;
    result.readings.push_back(
        {parameter.code, exchange.position, raw, ScaleValue(raw, exchange.position)});
  }
  return result;
}

std::string FormatReading(const Reading& reading) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", 8 - reading.position, reading.value);
  return text;
}
