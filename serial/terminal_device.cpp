#include "serial/terminal_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string_view>

namespace {

constexpr unsigned int kConsoleMajor = 4;  // tty0..tty63; ttyS* from minor 64
constexpr unsigned int kLastConsoleMinor = 63;
constexpr unsigned int kAliasMajor = 5;  // tty, console, ptmx, ttyprintk
constexpr unsigned int kPtmxMinor = 2;
constexpr unsigned int kFirstPtyMasterMajor = 128;
constexpr unsigned int kFirstPtySlaveMajor = 136;
constexpr unsigned int kLastPtySlaveMajor = 143;
constexpr unsigned int kBsdPtyMasterMajor = 2;
constexpr unsigned int kBsdPtySlaveMajor = 3;

enum class SysfsClass { kUnlisted, kTty, kOther };

// The last path element of the device's sysfs "subsystem" link.
SysfsClass ClassInSysfs(const std::string& sysDir, dev_t dev) {
  if (sysDir.empty()) return SysfsClass::kUnlisted;
  const std::string entry =
      sysDir + "/dev/char/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  char target[512];
  const ssize_t n = ::readlink((entry + "/subsystem").c_str(), target, sizeof target);
  if (n < 0) {
    // An entry without a readable subsystem link is listed all the same:
    // whatever it is, it is not known to be a terminal.
    struct stat st {};
    return ::lstat(entry.c_str(), &st) == 0 ? SysfsClass::kOther : SysfsClass::kUnlisted;
  }
  std::string_view link(target, static_cast<size_t>(n));
  link = link.substr(link.find_last_of('/') + 1);
  return link == "tty" ? SysfsClass::kTty : SysfsClass::kOther;
}

}  // namespace

bool IsPseudoTerminalSlave(dev_t dev) {
  return major(dev) >= kFirstPtySlaveMajor && major(dev) <= kLastPtySlaveMajor;
}

bool IsPseudoTerminal(dev_t dev) {
  const unsigned int maj = major(dev);
  return (maj >= kFirstPtyMasterMajor && maj <= kLastPtySlaveMajor) || maj == kBsdPtyMasterMajor ||
         maj == kBsdPtySlaveMajor || (maj == kAliasMajor && minor(dev) == kPtmxMinor);
}

bool IsSerialTerminal(const std::string& sysDir, dev_t dev) {
  if (major(dev) == kAliasMajor) return false;
  if (major(dev) == kConsoleMajor && minor(dev) <= kLastConsoleMinor) return false;
  switch (ClassInSysfs(sysDir, dev)) {
    case SysfsClass::kTty:
      return true;
    case SysfsClass::kOther:
      return false;
    case SysfsClass::kUnlisted:
      break;
  }
  return IsPseudoTerminalSlave(dev);
}
