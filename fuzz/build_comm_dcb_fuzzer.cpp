// Arbitrary device-control text: the parser must either refuse it and leave
// the record as it was, or take it so that taking it again changes nothing.

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/serial_port.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  DCB start;
  start.fOutX = start.fInX = start.fOutxCtsFlow = true;
  start.fRtsControl = RTS_CONTROL_HANDSHAKE;
  start.fNull = true;

  DCB dcb = start;
  if (!BuildCommDCB(text, dcb)) {
    if (!(dcb == start)) __builtin_trap();
    return 0;
  }
  if (!dcb.fNull) __builtin_trap();  // not nameable, so always kept
  DCB again = dcb;
  if (!BuildCommDCB(text, again) || !(again == dcb)) __builtin_trap();
  return 0;
}
