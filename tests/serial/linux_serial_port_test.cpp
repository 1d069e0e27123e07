#include "serial/linux_serial_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "serial/port_discovery.h"
#include "serial_test_support.h"

namespace {

constexpr char kCom3[] = R"(\\.\COM3)";

DCB Line(BYTE parity) {
  DCB dcb = Baseline8N1({});
  dcb.Parity = parity;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  return dcb;
}

termios ReadBack(HANDLE h) {
  termios t{};
  tcgetattr(static_cast<int>(h), &t);
  return t;
}

std::vector<BYTE> ReadMaster(int master, size_t count) {
  std::vector<BYTE> bytes(count);
  if (!WaitQueued(master, static_cast<int>(count))) return {};
  const ssize_t n = ::read(master, bytes.data(), count);
  bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return bytes;
}

void WriteMaster(int master, const std::vector<BYTE>& bytes) {
  ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// The device side of COM3 is a pty slave; the test holds the master.
class LinuxSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    scratch.Override(3, pty.Slave());
  }

  HANDLE OpenRaw(BYTE parity = NOPARITY) {
    const HANDLE h = port.CreateFile(kCom3);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.SetCommState(h, Line(parity)));
    EXPECT_TRUE(port.SetCommTimeouts(h, kPortTimeouts));
    return h;
  }

  std::string LockFile() const {
    std::string name = pty.Slave().substr(5);  // below /dev/
    std::replace(name.begin(), name.end(), '/', '_');
    return scratch.Path("lock/LCK.." + name).string();
  }

  ScratchRoots scratch;
  PtyPair pty;
  LinuxSerialPort port{scratch.Roots()};
};

TEST_F(LinuxSerialPortTest, EveryByteValuePassesBothWaysUnderEachParity) {
  const std::vector<BYTE> bytes = {0x00, 0x11, 0x13, 0xFF, 0x0A, 0x0D, 0x03, 0x1C, 0x7F, 0x04};
  const HANDLE h = OpenRaw();
  for (BYTE parity : {NOPARITY, MARKPARITY, SPACEPARITY}) {
    SCOPED_TRACE(static_cast<int>(parity));
    ASSERT_TRUE(port.SetCommState(h, Line(parity)));
    for (BYTE b : bytes) {
      DWORD written = 99;
      port.WriteFile(h, &b, 1, written);
      EXPECT_EQ(written, 1u);
    }
    EXPECT_EQ(ReadMaster(pty.Master(), bytes.size()), bytes);

    WriteMaster(pty.Master(), bytes);
    ASSERT_TRUE(WaitQueued(static_cast<int>(h), static_cast<int>(bytes.size())));
    std::vector<BYTE> received(12);
    DWORD read = 0;
    EXPECT_TRUE(port.ReadFile(h, received.data(), 12, read));
    received.resize(read);
    EXPECT_EQ(received, bytes);
  }
  port.CloseHandle(h);
}

TEST_F(LinuxSerialPortTest, ReadWithNothingQueuedReturnsZeroAndLeavesTheBuffer) {
  // Before and after the line is set up: neither read may wait.
  const HANDLE h = port.CreateFile(kCom3);
  for (int round = 0; round < 2; ++round) {
    BYTE buffer[12];
    std::fill(std::begin(buffer), std::end(buffer), 0xA5);
    DWORD read = 77;
    EXPECT_TRUE(port.ReadFile(h, buffer, 12, read));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(
        std::all_of(std::begin(buffer), std::end(buffer), [](BYTE b) { return b == 0xA5; }));
    ApplyBaseline(port, h);
  }
  port.CloseHandle(h);
}

TEST_F(LinuxSerialPortTest, BytesBeyondTheLengthStayQueuedForTheNextRead) {
  const HANDLE h = OpenRaw();
  std::vector<BYTE> sent(15);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<BYTE>(0xF0 + i);
  WriteMaster(pty.Master(), sent);
  ASSERT_TRUE(WaitQueued(static_cast<int>(h), 15));

  BYTE block[12] = {};
  DWORD read = 0;
  ASSERT_TRUE(port.ReadFile(h, block, 12, read));
  ASSERT_EQ(read, 12u);
  EXPECT_TRUE(std::equal(block, block + 12, sent.begin()));
  ASSERT_TRUE(port.ReadFile(h, block, 12, read));
  ASSERT_EQ(read, 3u);
  EXPECT_TRUE(std::equal(block, block + 3, sent.begin() + 12));
  port.CloseHandle(h);
}

TEST_F(LinuxSerialPortTest, PurgeDiscardsWhatIsQueued) {
  const HANDLE h = OpenRaw();
  WriteMaster(pty.Master(), {1, 2, 3, 4, 5});
  ASSERT_TRUE(WaitQueued(static_cast<int>(h), 5));
  EXPECT_TRUE(port.PurgeComm(h));
  BYTE block[12];
  DWORD read = 9;
  port.ReadFile(h, block, 12, read);
  EXPECT_EQ(read, 0u);
  port.CloseHandle(h);
}

// Tests run as root, which passes TIOCEXCL: the flock must hold anyway.
TEST_F(LinuxSerialPortTest, AnOpenPortCannotBeOpenedAgainByAnyone) {
  const HANDLE h = port.CreateFile(kCom3);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LinuxSerialPort other(scratch.Roots());
  EXPECT_EQ(port.CreateFile(kCom3), INVALID_HANDLE_VALUE);
  EXPECT_EQ(port.CreateFile(pty.Slave()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(other.CreateFile(kCom3), INVALID_HANDLE_VALUE);
  const pid_t child = ::fork();
  if (child == 0) {
    LinuxSerialPort inChild(scratch.Roots());
    ::_exit(inChild.CreateFile(kCom3) == INVALID_HANDLE_VALUE ? 0 : 1);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";

  // A device someone else keeps open: closing frees it at once, the lock
  // file included. A pseudo-terminal gets no TIOCEXCL, which would outlive
  // a killed reader while the peer keeps the tty.
  const int bystander = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  int exclusive = 0;
  ASSERT_EQ(::ioctl(bystander, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  EXPECT_TRUE(port.CloseHandle(h));
  EXPECT_FALSE(std::filesystem::exists(LockFile()));

  const HANDLE again = other.CreateFile(kCom3);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  other.CloseHandle(again);

  // A program that only sets TIOCEXCL still keeps the device, even from root.
  ::ioctl(bystander, TIOCEXCL);
  EXPECT_EQ(port.CreateFile(kCom3), INVALID_HANDLE_VALUE);
  ::ioctl(bystander, TIOCNXCL);
  ::close(bystander);
}

TEST_F(LinuxSerialPortTest, HonoursUucpLockFilesOfLiveProcessesOnly) {
  char ours[16];
  std::snprintf(ours, sizeof ours, "%10d\n", static_cast<int>(::getpid()));
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const auto padded = [](pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return std::string(text);
  };
  const std::string binaryPid(reinterpret_cast<const char*>(&gone), sizeof gone);
  enum Kind { kText, kDirectory, kFifo };
  const struct {
    const char* what;
    Kind kind;
    std::string text;
    bool opens;
  } cases[] = {
      {"live process", kText, padded(::getppid()), false},
      {"live process, unpadded", kText, std::to_string(::getppid()) + "\n", false},
      {"process gone", kText, padded(gone), true},
      {"our own pid, left by an earlier process", kText, ours, true},
      {"empty: being written", kText, "", false},
      {"pid 0", kText, "0\n", false},
      {"not a number", kText, "abc\n", false},
      {"digits then junk", kText, "  12x\n", false},
      {"binary pid", kText, binaryPid, false},
      {"a directory", kDirectory, "", false},
      {"a FIFO", kFifo, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    switch (c.kind) {
      case kText:
        std::ofstream(LockFile()) << c.text;
        break;
      case kDirectory:
        std::filesystem::create_directory(LockFile());
        break;
      case kFifo:
        ::mkfifo(LockFile().c_str(), 0644);
        break;
    }
    const HANDLE h = port.CreateFile(kCom3);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << port.LastCause().detail;
    if (c.opens) {
      std::ifstream lock(LockFile());
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(lock), {}), ours);
      port.CloseHandle(h);
      EXPECT_FALSE(std::filesystem::exists(LockFile()));
    } else {
      EXPECT_NE(port.LastCause().detail.find(LockFile()), std::string::npos)
          << port.LastCause().detail;
      if (c.kind == kText) {
        std::ifstream lock(LockFile());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(lock), {}), c.text) << "changed";
      }
    }
    std::filesystem::remove(LockFile());
  }
  const HANDLE h = port.CreateFile(kCom3);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "without a lock";
  port.CloseHandle(h);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path("lock")), {}), 0)
      << "a temporary lock file was left behind";
}

TEST_F(LinuxSerialPortTest, OnlyExistingFreeTtysOpen) {
  std::ofstream(scratch.Path("plain")) << "not a tty";
  ::mkfifo(scratch.Path("fifo").c_str(), 0600);
  scratch.Override(4, scratch.Path("plain").string());
  scratch.Override(5, "/dev/null");
  scratch.Override(6, scratch.Path("fifo").string());
  scratch.Override(7, "/dev/serial/by-id/unplugged");
  for (const std::string& path : std::vector<std::string>{
           R"(\\.\COM4)", R"(\\.\COM5)", R"(\\.\COM6)", R"(\\.\COM7)", R"(\\.\COM0)", R"(\\.\COM8)",
           R"(\\.\COM256)", "COM3", "pts/0", "/dev/null", "/", scratch.Path("plain").string()}) {
    EXPECT_EQ(port.CreateFile(path), INVALID_HANDLE_VALUE) << path;
  }
  const HANDLE h = port.CreateFile(pty.Slave());
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "an absolute device path";
  port.CloseHandle(h);
}

TEST_F(LinuxSerialPortTest, MarkAndSpaceReadBackAsCmsparWithAndWithoutParodd) {
  const HANDLE h = OpenRaw();
  // Repeats included: mark after mark is what follows a failed exchange.
  for (BYTE parity : {MARKPARITY, MARKPARITY, SPACEPARITY, SPACEPARITY, MARKPARITY}) {
    SCOPED_TRACE(static_cast<int>(parity));
    EXPECT_TRUE(port.SetCommState(h, Line(parity)));
    const termios t = ReadBack(h);
    EXPECT_TRUE(t.c_cflag & CMSPAR);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, parity == MARKPARITY);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | PARMRK | ISTRIP | IGNPAR), 0u);
    EXPECT_EQ(t.c_cflag & (CRTSCTS | CLOCAL | CREAD), CLOCAL | CREAD);
  }
  DCB state{};
  ASSERT_TRUE(port.GetCommState(h, state));
  EXPECT_EQ(state.BaudRate, 9600u);
  EXPECT_EQ(state.ByteSize, 8);
  EXPECT_EQ(state.StopBits, ONESTOPBIT);
  port.CloseHandle(h);
}

TEST_F(LinuxSerialPortTest, SettingsTheLineCannotRunAreRefused) {
  const HANDLE h = OpenRaw();
  const struct {
    const char* what;
    void (*change)(DCB&);
    bool ok;
  } cases[] = {
      {"unknown rate", [](DCB& d) { d.BaudRate = 12345; }, false},
      {"rate 0", [](DCB& d) { d.BaudRate = 0; }, false},
      {"4 data bits", [](DCB& d) { d.ByteSize = 4; }, false},
      {"9 data bits", [](DCB& d) { d.ByteSize = 9; }, false},
      {"parity code 5", [](DCB& d) { d.Parity = 5; }, false},
      {"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }, false},
      {"stop-bit code 3", [](DCB& d) { d.StopBits = 3; }, false},
      {"1.5 stop bits with 5 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS, d.ByteSize = 5; },
       true},
      {"115200 even 2 stop",
       [](DCB& d) { d.BaudRate = 115200, d.Parity = EVENPARITY, d.StopBits = TWOSTOPBITS; }, true},
  };
  for (const auto& c : cases) {
    DCB dcb = Line(NOPARITY);
    c.change(dcb);
    EXPECT_EQ(port.SetCommState(h, dcb), c.ok) << c.what;
  }
  port.CloseHandle(h);
}

TEST_F(LinuxSerialPortTest, HandlesNotOpenHereAreRefused) {
  const HANDLE closed = port.CreateFile(kCom3);
  port.CloseHandle(closed);
  for (HANDLE h : {INVALID_HANDLE_VALUE, closed, HANDLE{0}, HANDLE{1} << 40}) {
    SCOPED_TRACE(h);
    BYTE byte = 0x55;
    DWORD count = 77;
    DCB dcb = Line(MARKPARITY);
    EXPECT_FALSE(port.WriteFile(h, &byte, 1, count));
    EXPECT_EQ(count, 0u);
    count = 77;
    EXPECT_FALSE(port.ReadFile(h, &byte, 1, count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(port.SetCommState(h, dcb));
    EXPECT_FALSE(port.GetCommState(h, dcb));
    EXPECT_FALSE(port.SetCommTimeouts(h, kPortTimeouts));
    EXPECT_FALSE(port.PurgeComm(h));
    EXPECT_FALSE(port.CloseHandle(h));
  }
  EXPECT_NE(::fcntl(0, F_GETFD), -1) << "stdin was closed";
}

TEST_F(LinuxSerialPortTest, WaitingReadsAndWritesEndWithWhatTheyGot) {
  const HANDLE h = OpenRaw();
  BYTE block[12];
  DWORD count = 0;
  ASSERT_TRUE(port.SetCommTimeouts(h, {0, 0, 30, 0, 0}));  // total 30 ms
  WriteMaster(pty.Master(), {7, 8});
  EXPECT_TRUE(port.ReadFile(h, block, 12, count));
  EXPECT_EQ(count, 2u);
  ASSERT_TRUE(port.SetCommTimeouts(h, {0xFFFFFFFF, 0xFFFFFFFF, 30, 0, 0}));  // first bytes
  EXPECT_TRUE(port.ReadFile(h, block, 12, count));
  EXPECT_EQ(count, 0u);
  WriteMaster(pty.Master(), {9});
  EXPECT_TRUE(port.ReadFile(h, block, 12, count));
  EXPECT_EQ(count, 1u);

  // Nobody reads the master: the write stops at the limit with a partial count.
  ASSERT_TRUE(port.SetCommTimeouts(h, {0xFFFFFFFF, 0, 0, 0, 30}));
  const std::vector<BYTE> flood(1 << 20, 0x5A);
  EXPECT_FALSE(port.WriteFile(h, flood.data(), static_cast<DWORD>(flood.size()), count));
  EXPECT_GT(count, 0u);
  EXPECT_LT(count, flood.size());
  port.CloseHandle(h);
}

// How a stand-in driver treats a settings request.
struct Driver {
  tcflag_t lost = 0;          // cflag bits it drops
  bool pty = true;            // passes for a pseudo-terminal
  bool applies = true;        // applies the request at all
  bool reportsError = false;  // reports EINVAL whatever it did
};

class DriverOps : public TermiosOps {
 public:
  explicit DriverOps(Driver driver) : m_driver(driver) {}
  int SetAttr(int fd, int when, const termios& t) override {
    termios kept = t;
    kept.c_cflag &= ~m_driver.lost;
    if (m_driver.applies) TermiosOps::SetAttr(fd, when, kept);
    if (!m_driver.reportsError) return 0;
    errno = EINVAL;
    return -1;
  }
  bool IsPseudoTerminal(int) override { return m_driver.pty; }

 private:
  Driver m_driver;
};

TEST_F(LinuxSerialPortTest, SettingsAreJudgedByWhatReadsBack) {
  const struct {
    const char* what;
    BYTE parity;
    Driver driver;
    bool accepted;
  } cases[] = {
      {"driver drops CMSPAR under mark", MARKPARITY, {.lost = CMSPAR}, false},
      {"driver drops PARODD under mark", MARKPARITY, {.lost = PARODD}, false},
      {"driver drops CMSPAR under space", SPACEPARITY, {.lost = CMSPAR}, false},
      {"real device loses PARENB", MARKPARITY, {.pty = false}, false},
      {"driver ignores the request", MARKPARITY, {.applies = false}, false},
      {"pty clears PARENB", MARKPARITY, {}, true},
      {"applied but EINVAL reported", MARKPARITY, {.reportsError = true}, true},
      {"no parity, nothing to lose", NOPARITY, {.lost = CMSPAR}, true},
  };
  DCB elsewhere = Line(EVENPARITY);
  elsewhere.BaudRate = 2400;
  elsewhere.ByteSize = 7;
  for (const auto& c : cases) {
    // Each request starts from a line that runs none of them.
    const HANDLE reset = port.CreateFile(kCom3);
    ASSERT_TRUE(port.SetCommState(reset, elsewhere));
    port.CloseHandle(reset);
    DriverOps ops(c.driver);
    LinuxSerialPort judged(scratch.Roots(), &ops);
    const HANDLE h = judged.CreateFile(kCom3);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(judged.SetCommState(h, Line(c.parity)), c.accepted) << c.what;
    // A request the driver ignored lost more than the parity.
    if (!c.accepted) {
      EXPECT_EQ(judged.LastCause().kind,
                c.driver.applies ? CauseKind::kParityNotKept : CauseKind::kSettingsNotKept)
          << c.what;
    }
    judged.CloseHandle(h);
  }
}

}  // namespace
