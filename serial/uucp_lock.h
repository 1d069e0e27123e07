#pragma once

#include <sys/types.h>

#include <string>

// UUCP lock files: lockDir/LCK..<device>, holding the owner's pid as ten
// right-aligned ASCII digits and a newline. <device> is the device's path
// below /dev with '/' turned into '_' (LCK..ttyUSB0, LCK..pts_3), taken after
// symlinks are resolved so every route to a device finds the same lock.
std::string UucpLockPath(const std::string& lockDir, const std::string& device);

// Takes the device's lock for this process:
//  - it is written under a temporary name and linked into place, so no one
//    ever reads a half-written lock of ours, and of two takers one wins;
//  - an existing lock is stale only when it is well formed and its process
//    no longer exists (or is this process: a leftover of an earlier one with
//    our pid, since whoever calls this holds the device's flock). A stale lock
//    is replaced in one atomic exchange, and only if it is still the very
//    file judged stale, so a lock someone wrote meanwhile is never removed;
//  - a lock of a live process, an empty or unreadable one (someone's lock
//    being written) or one in any other form makes the device busy, and so
//    does a stale lock that cannot be replaced (another user's in a sticky
//    lock directory, a file system without atomic exchange);
//  - where the directory does not let us write, the device is used without
//    a lock file as long as no one else's lock is there.
// On success lockFile is the lock written (empty when none); on failure
// cause says why, for a person to read.
bool TakeUucpLock(const std::string& lockDir, const std::string& device, std::string& lockFile,
                  std::string& cause);

// Removes a lock TakeUucpLock wrote, if it still holds our pid.
void ReleaseUucpLock(const std::string& lockFile);

// The live process other than this one whose lock file holds device; 0
// when there is none or the lock names no live process.
pid_t UucpLockHolder(const std::string& lockDir, const std::string& device);
