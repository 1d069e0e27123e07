#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "serial/com_name.h"
#include "serial/serial_port.h"
#include "sim/meter_bus.h"
#include "sim/zlm_meter.h"

// An in-process serial line for tests: numbered ports with meters on their
// buses, a virtual clock, and faults on demand. Nothing really waits: Sleep
// only moves the clock on.

struct WrittenByte {
  BYTE value;
  NinthBit bit;
  std::uint64_t timeMs;

  friend bool operator==(const WrittenByte&, const WrittenByte&) = default;
};

enum class SettingsRefusal { kNone, kAll, kMarkParity, kSpaceParity };

// Faults of one port: of the device, and of the bus behind it (a late
// answer arrives lateMs of the virtual clock after the checksum). Answers no
// sound meter gives (nibbles above 9, a position above 8) are set on the
// meter with ZlmMeter::SetRawValue; an unplugged device is RemovePort.
struct SimFaults {
  SettingsRefusal refuseSettings = SettingsRefusal::kNone;  // SetCommState fails
  // Counting the bytes written after SetFaults from 1, this one and all later
  // ones are not written (count 0). 0: every byte is written.
  int writeFailsFrom = 0;
  BusFaults bus{};
};

class SimSerialPort : public SerialPort {
 public:
  // A device appears as port n, running 9600 8N1 with RTS and DTR asserted.
  void AddPort(int n);
  // The device is unplugged: its path opens nothing, an open handle of it
  // fails every operation (writes count 0) until it is closed.
  void RemovePort(int n);
  // Another program holds port n open, so opens of it fail.
  void HoldPort(int n, bool held);
  // A meter on port n's bus. The bus outlives the device: meters stay when
  // the port is removed and added again.
  ZlmMeter& AttachMeter(int port, int32_t address);
  // Whether the line returns every written byte (on by default, as on a
  // two-wire bus).
  void SetEcho(int port, bool on);
  void SetFaults(int port, const SimFaults& faults);
  // Bytes arriving from the line, queued for the next read.
  void Deliver(int port, const std::vector<BYTE>& bytes);

  // Every path CreateFile was asked for, in order.
  const std::vector<std::string>& OpenAttempts() const { return m_openAttempts; }
  bool IsOpen(int port) const;
  // The settings and timeouts in force on the device.
  DCB DcbOf(int port) const;
  COMMTIMEOUTS TimeoutsOf(int port) const;
  // Every byte that went out on port n's line.
  const std::vector<WrittenByte>& Written(int port) const;
  std::size_t QueuedBytes(int port) const;
  std::uint64_t NowMs() const { return m_nowMs; }

  HANDLE CreateFile(const std::string& path) override;
  bool CloseHandle(HANDLE h) override;
  bool GetCommState(HANDLE h, DCB& dcb) override;
  bool SetCommState(HANDLE h, const DCB& dcb) override;
  bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) override;
  bool WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) override;
  bool ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) override;
  bool PurgeComm(HANDLE h) override;
  void Sleep(DWORD ms) override { m_nowMs += ms; }
  // A number with no device is unmapped, a removed device gone, a held one
  // busy (holder unknown); a refused mark or space parity was not kept.
  LineCause LastCause() const override { return m_cause; }

 private:
  struct Port {
    // The device.
    bool present = false;
    bool held = false;
    unsigned generation = 0;  // moves on at removal, so old handles stay dead
    HANDLE owner = INVALID_HANDLE_VALUE;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    std::deque<BYTE> received;
    // The line and the bus behind it.
    MeterBus bus;
    std::vector<Transmission> arriving;  // due later, by due time
    SimFaults faults;
    int writesSinceFaults = 0;
    std::vector<WrittenByte> written;
  };
  struct OpenHandle {
    int port;
    unsigned generation;
  };

  // The port behind an open handle of a present device, else nullptr.
  Port* Live(HANDLE h);
  const Port* Find(int n) const;
  bool Refuses(const Port& port, const DCB& dcb) const;
  void Transmit(Port& port, BYTE value);
  // Moves what the bus sent by now into the receive queue.
  void Arrive(Port& port);

  std::map<int, Port> m_ports;
  std::map<HANDLE, OpenHandle> m_handles;
  std::intptr_t m_nextHandle = 0x100;
  std::vector<std::string> m_openAttempts;
  std::uint64_t m_nowMs = 0;
  LineCause m_cause;
};
