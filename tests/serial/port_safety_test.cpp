// What the serial line refuses to touch: devices that are not serial
// terminals, terminals of sessions, ports other processes hold; and how it
// shares a pseudo-terminal with the process serving its other end.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "serial/linux_serial_port.h"
#include "serial/port_discovery.h"
#include "serial/terminal_device.h"
#include "serial/uucp_lock.h"
#include "serial_test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kCom3[] = R"(\\.\COM3)";

// Lists dev in the scratch sysfs: subsystem is the class its link names;
// empty for an entry without a subsystem link.
void ListInSysfs(const ScratchRoots& scratch, dev_t dev, const std::string& subsystem) {
  const fs::path entry =
      scratch.Path("sys/dev/char/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)));
  fs::create_directories(entry);
  if (!subsystem.empty()) fs::create_symlink("../../../class/" + subsystem, entry / "subsystem");
}

dev_t DeviceOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_rdev;
}

TEST(TerminalDeviceTest, OnlySerialTerminalsPass) {
  const struct {
    const char* what;
    dev_t dev;
    const char* sysfs;  // nullptr: not listed
    bool serial;
  } cases[] = {
      {"UART ttyS0", makedev(4, 64), "tty", true},
      {"USB adapter ttyUSB0", makedev(188, 0), "tty", true},
      {"pty slave, which sysfs never lists", makedev(136, 7), nullptr, true},
      {"pty slave that sysfs puts elsewhere", makedev(136, 7), "misc", false},
      {"watchdog", makedev(10, 130), "misc", false},
      {"listed without a subsystem", makedev(188, 1), "", false},
      {"unlisted non-pty", makedev(188, 2), nullptr, false},
      {"virtual console tty1", makedev(4, 1), "tty", false},
      {"current console tty0", makedev(4, 0), "tty", false},
      {"/dev/tty", makedev(5, 0), "tty", false},
      {"/dev/console", makedev(5, 1), "tty", false},
      {"/dev/ptmx", makedev(5, 2), "tty", false},
  };
  for (const auto& c : cases) {
    ScratchRoots scratch;
    if (c.sysfs != nullptr) ListInSysfs(scratch, c.dev, c.sysfs);
    EXPECT_EQ(IsSerialTerminal(scratch.Roots().sysDir, c.dev), c.serial) << c.what;
  }
}

class PortSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    scratch.Override(3, pty.Slave());
  }

  bool Opens() {
    const HANDLE h = port.CreateFile(kCom3);
    port.CloseHandle(h);
    return h != INVALID_HANDLE_VALUE;
  }

  ScratchRoots scratch;
  PtyPair pty;
  LinuxSerialPort port{scratch.Roots()};
};

TEST_F(PortSafetyTest, ADeviceSysfsDoesNotCallATerminalIsNotOpened) {
  ListInSysfs(scratch, DeviceOf(pty.Slave()), "misc");
  EXPECT_FALSE(Opens());
  EXPECT_NE(port.LastCause().detail.find("not a serial device"), std::string::npos)
      << port.LastCause().detail;
}

// A shell's terminal reached through a stale link: refused before anything
// is written to it or changed on it.
TEST_F(PortSafetyTest, TheControllingTerminalOfASessionIsNeverOpened) {
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &before), 0);
  // The session keeps its terminal after closing the descriptor that made it
  // its own, so nothing holds the device open: only the session refuses it.
  OtherProcess session([&] {
    if (::setsid() < 0) return false;
    const int fd = ::open(pty.Slave().c_str(), O_RDWR);
    pid_t sid = 0;
    const bool own = fd >= 0 && ::ioctl(fd, TIOCGSID, &sid) == 0 && sid == ::getpid();
    ::close(fd);
    return own;
  });
  ASSERT_TRUE(session.Ok());
  EXPECT_FALSE(Opens());
  EXPECT_NE(port.LastCause().detail.find("session"), std::string::npos) << port.LastCause().detail;
  EXPECT_EQ(ScanFreePorts(port), std::vector<int>{});
  termios after{};
  ASSERT_EQ(::tcgetattr(pty.Master(), &after), 0);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "settings changed";
  int queued = -1;
  ::ioctl(pty.Master(), FIONREAD, &queued);
  EXPECT_EQ(queued, 0);

  session.Kill();
  EXPECT_TRUE(Opens()) << port.LastCause().detail;
}

// The test plays the simulator: it holds the master and the slave.
TEST_F(PortSafetyTest, AReaderKilledWithSigkillLeavesThePortFree) {
  const int peerSlave = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(peerSlave, 0);
  OtherProcess reader([&] {
    ::close(pty.Master());
    // Left open until the process is killed.
    auto* line = new LinuxSerialPort(scratch.Roots());
    const HANDLE h = line->CreateFile(kCom3);
    DCB mark{};
    mark.BaudRate = 9600;
    mark.ByteSize = 8;
    mark.Parity = MARKPARITY;
    return h != INVALID_HANDLE_VALUE && line->SetCommState(h, mark);
  });
  ASSERT_TRUE(reader.Ok());
  EXPECT_FALSE(Opens()) << "open while the reader lives";
  reader.Kill();
  EXPECT_TRUE(Opens()) << port.LastCause().detail;
  EXPECT_EQ(ScanFreePorts(port), std::vector<int>{3});
  ::close(peerSlave);
}

// Another process with the device open, without any lock, as a plain
// open(2) leaves it; the peer of a pseudo-terminal is no such holder.
TEST_F(PortSafetyTest, APortAnotherProcessHoldsIsBusyItsPeerIsNot) {
  const int master = pty.Master();
  const std::string slave = pty.Slave();
  const struct {
    const char* what;
    std::function<bool()> act;
    bool free;
  } cases[] = {
      {"plain open of the slave",
       [&] {
         ::close(master);
         return ::open(slave.c_str(), O_RDWR | O_NOCTTY) >= 0;
       },
       false},
      {"read-only open of the slave",
       [&] {
         ::close(master);
         return ::open(slave.c_str(), O_RDONLY | O_NOCTTY) >= 0;
       },
       false},
      {"peer holding master and slave",
       [&] { return ::open(slave.c_str(), O_RDWR | O_NOCTTY) >= 0; }, true},
      {"opened and closed again",
       [&] {
         ::close(master);
         return ::close(::open(slave.c_str(), O_RDWR | O_NOCTTY)) == 0;
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OtherProcess other(c.act);
    ASSERT_TRUE(other.Ok());
    EXPECT_EQ(Opens(), c.free) << port.LastCause().detail;
    if (!c.free) {
      EXPECT_NE(port.LastCause().detail.find("process " + std::to_string(other.Pid())),
                std::string::npos)
          << port.LastCause().detail;
    }
    EXPECT_EQ(ScanFreePorts(port), c.free ? std::vector<int>{3} : std::vector<int>{});
  }
}

// Of several processes that find the same stale lock at once, one takes it.
TEST(UucpLockTest, OneOfManyTakersReplacesAStaleLock) {
  ScratchRoots scratch;
  const std::string lockDir = scratch.Path("lock").string();
  const std::string device = "/dev/ttyZLM0";
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  for (int round = 0; round < 20; ++round) {
    std::ofstream(UucpLockPath(lockDir, device)) << gone << "\n";
    int start[2];
    int results[2];
    ASSERT_EQ(::pipe(start), 0);
    ASSERT_EQ(::pipe(results), 0);
    // Each taker stays alive after its attempt, so the winner's lock is live.
    std::vector<pid_t> takers;
    for (int i = 0; i < 6; ++i) {
      const pid_t taker = ::fork();
      if (taker == 0) {
        ::close(start[1]);
        char go;
        if (::read(start[0], &go, 1) != 0) ::_exit(1);
        std::string lockFile, cause;
        const char won = TakeUucpLock(lockDir, device, lockFile, cause) ? '1' : '0';
        if (::write(results[1], &won, 1) != 1) ::_exit(1);
        for (;;) ::pause();
      }
      takers.push_back(taker);
    }
    ::close(start[0]);
    ::close(start[1]);  // every taker starts now
    ::close(results[1]);
    int winners = 0;
    for (size_t i = 0; i < takers.size(); ++i) {
      char won = '0';
      EXPECT_EQ(::read(results[0], &won, 1), 1);
      winners += won == '1';
    }
    ::close(results[0]);
    for (const pid_t taker : takers) {
      ::kill(taker, SIGKILL);
      ::waitpid(taker, nullptr, 0);
    }
    EXPECT_EQ(winners, 1) << "round " << round;
    fs::remove(UucpLockPath(lockDir, device));
  }
}

// A lock directory this user may not write: a stale lock in it cannot be
// removed, so the port is busy and says why; without a lock there the port
// is used without one. Run as an unprivileged user (nobody, when the test
// runs as root), since root may write anywhere.
TEST_F(PortSafetyTest, AStaleLockThatCannotBeRemovedMakesThePortBusy) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string lockFile = UucpLockPath(scratch.Roots().lockDir, pty.Slave());
  for (const char* dir : {"", "sys", "lock"}) {
    fs::permissions(scratch.Path(dir), fs::perms::owner_all | fs::perms::group_read |
                                           fs::perms::group_exec | fs::perms::others_read |
                                           fs::perms::others_exec);
  }
  ::chmod(pty.Slave().c_str(), 0666);
  const struct {
    const char* what;
    bool staleLock;
    bool opens;
    const char* cause;
  } cases[] = {
      {"stale lock", true, false, "cannot be removed"},
      {"no lock", false, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.staleLock) std::ofstream(lockFile) << gone << "\n";
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    OtherProcess unprivileged([&] {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return false;
      LinuxSerialPort line(scratch.Roots());
      const HANDLE h = line.CreateFile(pty.Slave());
      const std::string report = (h != INVALID_HANDLE_VALUE ? "1" : "0") + line.LastCause().detail;
      line.CloseHandle(h);
      return ::write(result[1], report.data(), report.size()) ==
             static_cast<ssize_t>(report.size());
    });
    ::close(result[1]);
    ASSERT_TRUE(unprivileged.Ok());
    char text[512];
    const ssize_t n = ::read(result[0], text, sizeof text);
    ::close(result[0]);
    ASSERT_GT(n, 0);
    const std::string report(text, static_cast<size_t>(n));
    EXPECT_EQ(report[0] == '1', c.opens) << report;
    EXPECT_NE(report.find(c.cause), std::string::npos) << report;
    EXPECT_EQ(fs::exists(lockFile), c.staleLock);
    fs::remove(lockFile);
  }
}

}  // namespace
