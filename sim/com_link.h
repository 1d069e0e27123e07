#pragma once

#include <string>

#include "serial/com_port_map.h"

// The simulator's entry in the per-user port directory: a symlink COMn to
// its pty slave, so that "\\.\COMn" reaches it like any serial port.

// What the link points at: /proc/<our pid>/fd/<fd>, the slave through a
// descriptor this process holds. The path dies with the process, so a link
// left behind by a killed simulator leads nowhere, rather than to the next
// terminal the kernel hands the same /dev/pts number.
std::string ProcessFdPath(int fd);

// The lowest number from 1 up that neither an override nor an automatic
// number holds; 0 when all 255 are taken. An override placed there shifts
// no automatic number, since those fill the lowest free numbers.
int FirstFreeComNumber(ComPortMap& map);

// The path of the link COMn in portDir.
std::string ComLinkPath(const std::string& portDir, int n);

enum class PublishResult { kPublished, kTaken, kFailed };

// Creates portDir if needed and the link COMn -> target in it. Replaces
// nothing but a link a killed simulator left (to /proc/<pid>/fd/<fd> of a
// process that is gone): any other entry of that name gives kTaken.
PublishResult PublishComLink(const std::string& portDir, int n, const std::string& target);

// Removes COMn only while it is still the link to target; false when it is
// gone or no longer ours (then it is left alone).
bool RemoveComLink(const std::string& portDir, int n, const std::string& target);
