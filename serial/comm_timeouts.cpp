#include "serial/comm_timeouts.h"

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFF;

}  // namespace

ReadBounds ReadBoundsOf(const COMMTIMEOUTS& t, DWORD length) {
  ReadBounds b;
  b.immediate = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                t.ReadTotalTimeoutConstant == 0;
  b.firstBytes = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
                 t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
  b.totalMs = b.firstBytes ? t.ReadTotalTimeoutConstant
                           : std::uint64_t{t.ReadTotalTimeoutMultiplier} * length +
                                 t.ReadTotalTimeoutConstant;
  b.intervalMs = b.firstBytes ? 0 : t.ReadIntervalTimeout;
  return b;
}

std::uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD length) {
  return std::uint64_t{t.WriteTotalTimeoutMultiplier} * length + t.WriteTotalTimeoutConstant;
}
