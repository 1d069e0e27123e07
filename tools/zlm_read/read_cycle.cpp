#include "tools/zlm_read/read_cycle.h"

#include "meter/link_format.h"
#include "meter/read_exchange.h"
#include "meter/reading_cycle.h"
#include "serial/port_discovery.h"

std::string DevicePathOf(const std::string& port) {
  const bool comName = port.size() > 3 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' &&
                       (port[2] | 0x20) == 'm' &&
                       port.find_first_not_of("0123456789", 3) == std::string::npos;
  return comName ? "\\\\.\\" + port : port;
}

CycleResult ReadAllParameters(SerialPort& port, HANDLE h, int32_t address) {
  CycleResult result;
  for (const ParameterInfo& parameter : kParameters) {
    const ExchangeResult exchange = ExchangeParameter(port, h, address, parameter.code);
    g_nReadStatus = exchange.error ? READ_FAILED : 0;
    if (exchange.error) {
      result.error = exchange.error;
      result.failedCode = parameter.code;
      return result;
    }
    const double raw = exchange.value;
    result.readings.push_back(
        {parameter.code, exchange.position, raw, ScaleValue(raw, exchange.position)});
  }
  return result;
}
