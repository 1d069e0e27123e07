#pragma once

// The serial line of the platform being built for.
#ifdef _WIN32
#include "serial/windows_serial_port.h"
using PlatformSerialPort = WindowsSerialPort;
#else
#include "serial/linux_serial_port.h"
using PlatformSerialPort = LinuxSerialPort;
#endif
