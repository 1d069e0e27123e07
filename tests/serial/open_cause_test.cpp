// Why an open failed, as the Linux serial line tells it: from real
// pseudo-terminals, other processes and another user.

#include "serial/open_cause.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <fstream>

#include "serial/linux_serial_port.h"
#include "serial/uucp_lock.h"
#include "serial_test_support.h"

namespace {

TEST(OpenCauseTest, NoDeviceUnmappedNotSerial) {
  ScratchRoots scratch;
  LinuxSerialPort port(scratch.Roots());
  const struct {
    const char* path;
    CauseKind kind;
    const char* explained;
  } cases[] = {
      {R"(\\.\COM250)", CauseKind::kUnmapped, "cause: no serial device has the number P;"},
      {"/nonexistent/ttyUSB9", CauseKind::kNoDevice,
       "cause: P (/nonexistent/ttyUSB9) does not exist;"},
      {"nowhere", CauseKind::kNoDevice, "cause: P (nowhere) does not exist;"},
      {"/dev/null", CauseKind::kNotSerial, "cause: P (/dev/null) is not a serial device"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(port.CreateFile(c.path), INVALID_HANDLE_VALUE) << c.path;
    EXPECT_EQ(port.LastCause().kind, c.kind) << c.path;
    EXPECT_EQ(ExplainCause(port.LastCause(), "P").rfind(c.explained, 0), 0u)
        << ExplainCause(port.LastCause(), "P");
  }
}

// Another process holds the port: its pid and program are named.
TEST(OpenCauseTest, BusyNamesTheHolder) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  const std::string slave = pty.Slave();
  // Without the master: a process that holds both is the line's peer.
  OtherProcess holder([&] {
    ::close(pty.Master());
    return ::open(slave.c_str(), O_RDWR | O_NOCTTY) >= 0;
  });
  ASSERT_TRUE(holder.Ok());
  ScratchRoots scratch;
  LinuxSerialPort port(scratch.Roots());
  EXPECT_EQ(port.CreateFile(slave), INVALID_HANDLE_VALUE);
  std::string self;
  std::getline(std::ifstream("/proc/self/comm"), self);
  EXPECT_EQ(ExplainCause(port.LastCause(), "COM3"),
            "cause: COM3 (" + slave + ") is in use by process " + std::to_string(holder.Pid()) +
                " (" + self + "); end it or close its port, then try again");
}

TEST(OpenCauseTest, FlockAndLockFileHolders) {
  ScratchRoots scratch;
  const std::string file = scratch.Path("device").string();
  std::ofstream(file).put('x');
  OtherProcess holder([&] {
    const int fd = ::open(file.c_str(), O_RDONLY);
    return fd >= 0 && ::flock(fd, LOCK_EX) == 0;
  });
  ASSERT_TRUE(holder.Ok());
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(FlockHolder(st), holder.Pid());

  const std::string lockDir = scratch.Path("lock").string();
  EXPECT_EQ(UucpLockHolder(lockDir, "/dev/ttyZLM1"), 0);
  std::ofstream(UucpLockPath(lockDir, "/dev/ttyZLM1")) << "      " << holder.Pid() << "\n";
  EXPECT_EQ(UucpLockHolder(lockDir, "/dev/ttyZLM1"), holder.Pid());
  holder.Kill();
  EXPECT_EQ(UucpLockHolder(lockDir, "/dev/ttyZLM1"), 0);
}

// A device of a group the user is not in, opened as an ordinary user: the
// group and the exact command that lets the user in.
TEST(OpenCauseTest, PermissionNamesTheGroupAndTheCommand) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand the device to another user";
  const passwd* nobody = ::getpwnam("nobody");
  const group* dialout = ::getgrnam("dialout");
  if (nobody == nullptr || dialout == nullptr) GTEST_SKIP() << "no user nobody or group dialout";
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  struct Case {
    mode_t mode;
    const char* why;
  };
  const Case cases[] = {
      {0660, "nobody is not in dialout: sudo adduser nobody dialout, then log in again"},
      {0600, "the device gives its group no read and write access (mode 0660 expected)"},
  };
  for (const auto& c : cases) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(::chown(pty.Slave().c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(pty.Slave().c_str(), c.mode), 0);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(out[0]);
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(2);
      LinuxSerialPort port(PortRoots{});
      if (port.CreateFile(pty.Slave()) != INVALID_HANDLE_VALUE) ::_exit(3);
      const std::string text = ExplainCause(port.LastCause(), "COM3");
      ::_exit(::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0
                                                                                             : 4);
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(text,
              "cause: permission denied on COM3 (" + pty.Slave() + ") (group dialout); " + c.why);
  }
}

}  // namespace
