#pragma once

#include <sys/types.h>

#include <string>

// Whether the character device dev may be opened as a serial line, decided
// without opening anything:
//  - where sysfs lists the device (sysDir/dev/char/MAJOR:MINOR), its
//    subsystem must be the tty class;
//  - sysfs lists no pseudo-terminal slave (/dev/pts/N), so one sysfs does not
//    list passes by its major number alone;
//  - virtual consoles (/dev/tty0../dev/tty63) and the aliases of other
//    terminals (/dev/tty, /dev/console, /dev/ptmx) are never serial lines,
//    although they are of the tty class.
// Everything else (a watchdog, a disk, a sound card ...) is refused.
bool IsSerialTerminal(const std::string& sysDir, dev_t dev);

// Unix98 pseudo-terminal slaves: majors 136..143.
bool IsPseudoTerminalSlave(dev_t dev);

// Either end of a pseudo-terminal: Unix98 slaves, their masters (majors
// 128..135, or /dev/ptmx, 5:2), and BSD-style masters and slaves (majors 2
// and 3).
bool IsPseudoTerminal(dev_t dev);
