#include "serial/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

std::string OurLockText() {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  return text;
}

// The pid of a lock's text: optional leading blanks, 1..10 digits and an
// optional newline, nothing else.
std::optional<pid_t> ParseLockText(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  while (text.starts_with(' ')) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return std::nullopt;
  long long pid = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + (c - '0');
  }
  if (pid <= 0 || pid > INT_MAX) return std::nullopt;
  return static_cast<pid_t>(pid);
}

struct Existing {
  enum Kind { kGone, kBusy, kStale } kind = kGone;
  ino_t inode = 0;
  pid_t pid = 0;
  std::string cause;
};

Existing Inspect(const std::string& path) {
  Existing lock;
  // O_NONBLOCK: a FIFO in place of a lock must not stall the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return lock;
  lock.kind = Existing::kBusy;
  if (fd < 0) {
    lock.cause = path + ": lock file cannot be read (" + std::strerror(errno) + ")";
    return lock;
  }
  struct stat st {};
  char text[32];
  ssize_t n = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::read(fd, text, sizeof text);
  ::close(fd);
  const std::optional<pid_t> pid =
      n > 0 ? ParseLockText(std::string_view(text, static_cast<size_t>(n))) : std::nullopt;
  if (!pid) {
    lock.cause =
        path + (n == 0 ? ": empty lock file (being written)" : ": lock file not readable as a pid");
    return lock;
  }
  lock.pid = *pid;
  lock.inode = st.st_ino;
  if (*pid != ::getpid() && (::kill(*pid, 0) == 0 || errno == EPERM)) {
    lock.cause = path + ": locked by process " + std::to_string(*pid);
    return lock;
  }
  lock.kind = Existing::kStale;
  return lock;
}

// Writes our lock text to a fresh temporary file in lockDir; empty when the
// directory does not let us.
std::string WriteTemporaryLock(const std::string& lockDir) {
  std::string path = lockDir + "/LTMP.XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return {};
  const std::string text = OurLockText();
  const bool written = ::fchmod(fd, 0644) == 0 &&
                       ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (::close(fd) != 0 || !written) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

// Puts our temporary lock in place of the stale one in one atomic step and
// keeps it only if what it replaced is the file judged stale; otherwise the
// exchange is undone and the caller looks again.
enum class Replaced { kYes, kChanged, kRefused };

Replaced ReplaceStale(const std::string& temp, const std::string& path, const Existing& stale,
                      std::string& cause) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno == ENOENT) return Replaced::kChanged;
    cause = path + ": stale lock of process " + std::to_string(stale.pid) + " cannot be removed (" +
            std::strerror(errno) + ")";
    return Replaced::kRefused;
  }
  struct stat st {};
  if (::lstat(temp.c_str(), &st) == 0 && st.st_ino == stale.inode) return Replaced::kYes;
  ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
  return Replaced::kChanged;
}

}  // namespace

std::string UucpLockPath(const std::string& lockDir, const std::string& device) {
  std::string real = device;
  if (char* resolved = ::realpath(device.c_str(), nullptr)) {
    real = resolved;
    std::free(resolved);
  }
  std::string name;
  if (real.starts_with("/dev/")) {
    name = real.substr(5);
  } else {
    name = real.substr(real.find_last_of('/') + 1);
  }
  std::replace(name.begin(), name.end(), '/', '_');
  return lockDir + "/LCK.." + name;
}

bool TakeUucpLock(const std::string& lockDir, const std::string& device, std::string& lockFile,
                  std::string& cause) {
  lockFile.clear();
  cause.clear();
  if (lockDir.empty()) return true;
  const std::string path = UucpLockPath(lockDir, device);
  const std::string temp = WriteTemporaryLock(lockDir);
  if (temp.empty()) {
    const Existing lock = Inspect(path);
    if (lock.kind == Existing::kGone) return true;
    if (lock.kind == Existing::kStale) {
      cause = path + ": stale lock of process " + std::to_string(lock.pid) +
              " cannot be removed (lock directory not writable)";
    } else {
      cause = lock.cause;
    }
    return false;
  }

  bool taken = false;
  // A few rounds: each lost one means another taker changed the lock meanwhile.
  for (int round = 0; round < 4 && !taken && cause.empty(); ++round) {
    if (::link(temp.c_str(), path.c_str()) == 0) {
      taken = true;
      break;
    }
    if (errno != EEXIST) {
      cause = path + ": cannot create the lock file (" + std::strerror(errno) + ")";
      break;
    }
    const Existing lock = Inspect(path);
    if (lock.kind == Existing::kBusy) cause = lock.cause;
    if (lock.kind != Existing::kStale) continue;
    switch (ReplaceStale(temp, path, lock, cause)) {
      case Replaced::kYes:
        taken = true;
        break;
      case Replaced::kChanged:
      case Replaced::kRefused:
        break;
    }
  }
  ::unlink(temp.c_str());
  if (!taken && cause.empty()) cause = path + ": lock file keeps changing";
  if (taken) lockFile = path;
  return taken;
}

void ReleaseUucpLock(const std::string& lockFile) {
  if (lockFile.empty()) return;
  const Existing lock = Inspect(lockFile);
  if (lock.kind == Existing::kStale && lock.pid == ::getpid()) ::unlink(lockFile.c_str());
}

pid_t UucpLockHolder(const std::string& lockDir, const std::string& device) {
  if (lockDir.empty()) return 0;
  const Existing lock = Inspect(UucpLockPath(lockDir, device));
  return lock.kind == Existing::kBusy ? lock.pid : 0;
}
