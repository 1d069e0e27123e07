#pragma once

#include <termios.h>

#include <memory>
#include <string>

#include "sim/meter_bus.h"

// The meter's end of a pseudo-terminal pair: the reader opens the slave as
// its serial device, the simulator reads and writes the master.
//
// A pty carries bytes without a parity bit, so the ninth bit is recovered
// from the slave's settings at the moment a byte is taken: tcgetattr on the
// master reports the slave's termios. The kernel clears PARENB on a pty
// (and forces CS8) but keeps CMSPAR and PARODD, so the rule is:
//   CMSPAR and PARODD  -> mark  (ninth bit 1)
//   CMSPAR alone       -> space (ninth bit 0)
//   no CMSPAR          -> none  (sent without a stick parity bit)
// The reader switches parity at least 10 ms after a byte, so a byte taken
// within that time is sampled under the parity it was sent with.
class PtyLine {
 public:
  // A raw 9600-baud pty pair; nullptr when the system has no pty to give.
  // The simulator keeps the slave open too, so the master never sees a
  // hang-up while no reader has the device open, and the settings persist
  // between readers.
  static std::unique_ptr<PtyLine> Open();
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  int MasterFd() const { return m_master; }
  // The simulator's own descriptor of the slave, held for the life of the line.
  int SlaveFd() const { return m_slave; }
  // The device the reader opens: /dev/pts/N.
  const std::string& SlavePath() const { return m_slavePath; }

  // The ninth bit the slave's current settings give a byte.
  NinthBit SampleNinthBit() const;
  // One byte from the reader, if one is queued.
  bool ReadByte(BYTE& byte);
  // Bytes to the reader; false when the line would not take them all.
  bool Write(const std::vector<BYTE>& bytes);

 private:
  PtyLine(int master, int slave, std::string slavePath);

  int m_master;
  int m_slave;
  std::string m_slavePath;
};

NinthBit NinthBitOf(const termios& settings);
