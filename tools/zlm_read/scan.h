#pragma once

#include <functional>
#include <string>

#include "serial/serial_port.h"
#include "tools/zlm_read/reading_output.h"

// zlm-read --scan: asks every bus address once, prints a row per address
// and the addresses that answered, with the line's diagnosis when none did.
// Progress goes to stderr while it is a terminal. stop() is asked before
// each address; answerWaitMs as for SendRequest. Returns 0 when a meter
// answered, 1 when none did.
int RunScan(SerialPort& line, HANDLE h, const std::string& portName, OutputFormat format,
            DWORD answerWaitMs, const std::function<bool()>& stop);

// Prints an explanation line on stderr unless it is empty.
void PrintExplanation(const std::string& line);
