#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "serial/trace_file.h"

// Three bytes written as address (mark), code and checksum (space), and what
// the read after them brought back.
struct TracedRequest {
  std::array<BYTE, 3> bytes;
  const BYTE* block;
  DWORD count;
};

// Text for the trace about one request and its read (the meter protocol
// decodes it); empty to write nothing.
using RequestSummary = std::function<std::string(const TracedRequest&)>;

// A SerialPort that passes every operation to another one and writes it to a
// trace with its arguments and results: opens and closes with the path,
// settings with baud, data bits, parity, stop bits and modem lines, each
// write with its bytes and the parity in force, each read with what arrived,
// purges with what they discarded, waits with their length. After a read
// that follows a mark byte and two space bytes, summary adds its line.
//
// To show what a purge discards, the queued bytes are read before the purge
// itself, but only while the handle's timeouts make reads return at once;
// either way they are gone afterwards, as the purge promises.
class TracingSerialPort : public SerialPort {
 public:
  TracingSerialPort(SerialPort& line, TraceFile& trace, RequestSummary summary = {});

  HANDLE CreateFile(const std::string& path) override;
  bool CloseHandle(HANDLE h) override;
  bool GetCommState(HANDLE h, DCB& dcb) override;
  bool SetCommState(HANDLE h, const DCB& dcb) override;
  bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS& timeouts) override;
  bool WriteFile(HANDLE h, const BYTE* data, DWORD length, DWORD& written) override;
  bool ReadFile(HANDLE h, BYTE* buffer, DWORD length, DWORD& read) override;
  bool PurgeComm(HANDLE h) override;
  void Sleep(DWORD ms) override;
  void BeginPortScan() override { m_line.BeginPortScan(); }
  void EndPortScan() override { m_line.EndPortScan(); }
  LineCause LastCause() const override { return m_line.LastCause(); }

 private:
  void Trace(const std::string& text) { m_trace.Line(text); }

  SerialPort& m_line;
  TraceFile& m_trace;
  RequestSummary m_summary;
  std::string m_portName;            // the port last opened, as its user names it
  BYTE m_parity = NOPARITY;          // in force on the last handle set up
  bool m_readsReturnAtOnce = false;  // the timeouts last applied say so
  // Bytes written since the last mark byte, with the parity of each.
  std::vector<std::pair<BYTE, BYTE>> m_request;
};

// "ff 01 00"
std::string HexBytes(const BYTE* data, DWORD length);
// "9600 8M1 dtr rts": rate, data bits, parity letter, stop bits, asserted lines.
std::string SettingsText(const DCB& dcb);
