#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "serial/line_cause.h"

// What the system shows about why a device could not be had, gathered only
// after an open failed (never on the way to a successful one).

// The device's group, the user's name, whether the user is listed in the
// group, and whether the group may read and write the device.
LineCause PermissionCause(const std::string& device, const struct stat& st);

// A device someone else holds: pid and its program name (procDir/<pid>/comm)
// where known.
LineCause BusyCause(const std::string& device, pid_t pid, const std::string& procDir = "/proc");

// The process holding an flock on the file st describes (procDir/locks),
// other than this one; 0 when none is seen.
pid_t FlockHolder(const struct stat& st, const std::string& procDir = "/proc");
