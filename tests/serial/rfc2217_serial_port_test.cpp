// The network line against small servers played by the test on loopback:
// each one answers the way a server can, and the line must get the bytes
// right, finish every wait in bounded time and name the cause.

#include "serial/rfc2217_serial_port.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/telnet_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace telnet;

// How a played server behaves.
struct Behaviour {
  std::string greeting{};  // sent on accepting, before anything else
  bool closeAfterGreeting = false;
  bool negotiate = true;       // answers the telnet options at all
  bool refuseComPort = false;  // DONT COM-PORT-OPTION
  int parity = 0;              // reply to SET-PARITY: 0 as asked, -1 none, else this value
  int confirmDelayMs = 0;      // a slow network: settings confirmed this late
  Bytes answer{};              // sent when data comes
  bool closeAfterAnswer = false;
};

// One connection served on a thread, by Behaviour; what it heard is logged.
class PlayedServer {
 public:
  explicit PlayedServer(Behaviour behaviour) : m_behaviour(std::move(behaviour)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 4) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~PlayedServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    ::close(m_listener);
  }

  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
  std::vector<std::string> Heard() {
    std::lock_guard lock(m_mutex);
    return m_heard;
  }
  // Everything heard on the connection, once the client has closed it.
  std::vector<std::string> HeardToTheEnd() {
    if (m_thread.joinable()) m_thread.join();
    return m_heard;
  }

 private:
  void Log(std::string event) {
    std::lock_guard lock(m_mutex);
    m_heard.push_back(std::move(event));
  }

  // Waits for fd to be readable while the test runs; false when it ends.
  bool WaitReadable(int fd) {
    while (!m_stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  static void SendAll(int fd, const Bytes& bytes) {
    if (!bytes.empty()) ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  void Serve() {
    if (!WaitReadable(m_listener)) return;
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    SendAll(fd, Bytes(m_behaviour.greeting.begin(), m_behaviour.greeting.end()));
    if (m_behaviour.closeAfterGreeting) {
      ::close(fd);
      return;
    }
    TelnetDecoder decoder;
    while (WaitReadable(fd)) {
      std::uint8_t buffer[512];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      Bytes data;
      std::vector<TelnetCommand> commands;
      decoder.Feed(buffer, static_cast<std::size_t>(n), data, commands);
      for (const std::uint8_t b : data) Log("data " + std::to_string(b));
      if (!data.empty() && !m_behaviour.answer.empty()) {
        SendAll(fd, m_behaviour.answer);
        if (m_behaviour.closeAfterAnswer) break;
      }
      for (const TelnetCommand& c : commands) {
        if (!m_behaviour.negotiate) continue;
        Bytes out;
        if (c.verb == kWill) {
          const bool no = c.option == kOptionComPort && m_behaviour.refuseComPort;
          // A server answers WILL COM-PORT-OPTION with DO; it offers none itself.
          AppendNegotiation(out, no ? kDont : kDo, c.option);
        } else if (c.verb == kDo) {
          AppendNegotiation(out, kWill, c.option);
        } else if (c.verb == kSb && c.option == kOptionComPort && !c.payload.empty()) {
          out = Reply(fd, c.payload);
        }
        SendAll(fd, out);
      }
    }
    ::close(fd);
  }

  // The answer to a COM-PORT-OPTION request: its value confirmed, as the
  // behaviour says.
  Bytes Reply(int fd, const Bytes& request) {
    Bytes out;
    const std::uint8_t command = request[0];
    if (command == rfc2217::kSetControl || command == rfc2217::kPurgeData) return out;
    Bytes reply = request;
    reply[0] = static_cast<std::uint8_t>(command + rfc2217::kServerOffset);
    if (command == rfc2217::kSetBaudRate && request == Bytes{1, 0, 0, 0, 0}) {
      reply = {101, 0, 0, 0x25, 0x80};  // the query: 9600 in force
    }
    if (command == rfc2217::kSetParity) {
      if (m_behaviour.parity < 0) return out;
      if (m_behaviour.parity > 0) reply[1] = static_cast<std::uint8_t>(m_behaviour.parity);
    }
    if (m_behaviour.confirmDelayMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(m_behaviour.confirmDelayMs));
    }
    if (command == rfc2217::kSetParity) {
      // Data the client sent before this confirmation would be waiting now.
      std::uint8_t pending[512];
      const ssize_t n = ::recv(fd, pending, sizeof pending, MSG_PEEK | MSG_DONTWAIT);
      if (n > 0) {
        TelnetDecoder peek;
        Bytes early;
        std::vector<TelnetCommand> ignored;
        peek.Feed(pending, static_cast<std::size_t>(n), early, ignored);
        if (!early.empty()) Log("data before the confirmation");
      }
      Log("parity " + std::to_string(reply[1]));
    }
    AppendSubnegotiation(out, kOptionComPort, reply);
    return out;
  }

  Behaviour m_behaviour;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::mutex m_mutex;
  std::vector<std::string> m_heard;
};

constexpr Rfc2217Timing kShortWaits{.connectMs = 2000, .negotiateMs = 300, .confirmMs = 300};

DCB Mode(BYTE parity) {
  DCB dcb = Baseline8N1({});
  dcb.Parity = parity;
  return dcb;
}

struct OpenCase {
  const char* name;
  Behaviour behaviour;
  CauseKind cause;  // kNone: opens
  const char* detail;
};

const std::vector<OpenCase> kOpenCases = {
    {"agrees", {}, CauseKind::kNone, ""},
    {"never answers the negotiation",
     {.negotiate = false},
     CauseKind::kNoNegotiation,
     "telnet negotiation not answered"},
    {"speaks no telnet",
     {.greeting = "SSH-2.0-OpenSSH_9.2\r\n", .negotiate = false},
     CauseKind::kNoNegotiation,
     "SSH-2.0-OpenSSH_9.2"},
    {"refuses COM-PORT-OPTION",
     {.refuseComPort = true},
     CauseKind::kNegotiationRefused,
     "COM-PORT-OPTION"},
    {"closes at once with its words",
     {.greeting = "Port already in use\r\n", .closeAfterGreeting = true},
     CauseKind::kServerClosed,
     "Port already in use"},
};

TEST(Rfc2217SerialPort, OpensOnlyAnRfc2217ServerAndSaysWhyNot) {
  for (const OpenCase& c : kOpenCases) {
    PlayedServer server(c.behaviour);
    Rfc2217SerialPort line(kShortWaits);
    const HANDLE h = line.CreateFile(server.Url());
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.cause == CauseKind::kNone) << c.name;
    EXPECT_EQ(line.LastCause().kind, c.cause) << c.name << ": " << line.LastCause().detail;
    EXPECT_NE(line.LastCause().detail.find(c.detail), std::string::npos)
        << c.name << ": " << line.LastCause().detail;
    if (c.cause != CauseKind::kNone) {
      EXPECT_NE(ExplainCause(line.LastCause(), "P").find("P (" + server.Url() + ")"),
                std::string::npos)
          << ExplainCause(line.LastCause(), "P");
    }
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(line.CloseHandle(h));
    }
  }
}

TEST(Rfc2217SerialPort, AddressesThatCannotBeReached) {
  int closedPort = 0;
  {
    PlayedServer gone({});
    closedPort = std::stoi(gone.Url().substr(gone.Url().rfind(':') + 1));
  }
  const std::vector<std::pair<std::string, CauseKind>> cases = {
      {"rfc2217://127.0.0.1:" + std::to_string(closedPort), CauseKind::kRefused},
      {"rfc2217://no-such-host.invalid:4001", CauseKind::kUnreachable},
      {"rfc2217://127.0.0.1", CauseKind::kBadAddress},
      {"rfc2217://127.0.0.1:0", CauseKind::kBadAddress},
      {"rfc2217://:4001", CauseKind::kBadAddress},
      {"rfc2217://host/path:4001", CauseKind::kBadAddress},
  };
  for (const auto& [url, cause] : cases) {
    Rfc2217SerialPort line(kShortWaits);
    EXPECT_EQ(line.CreateFile(url), INVALID_HANDLE_VALUE) << url;
    EXPECT_EQ(line.LastCause().kind, cause) << url << ": " << line.LastCause().detail;
  }
}

TEST(Rfc2217Url, Forms) {
  const std::vector<std::pair<std::string, std::optional<NetworkAddress>>> cases = {
      {"rfc2217://192.168.1.20:4001", NetworkAddress{"192.168.1.20", 4001}},
      {"RFC2217://meters.example:65535", NetworkAddress{"meters.example", 65535}},
      {"rfc2217://[::1]:2000", NetworkAddress{"::1", 2000}},
      {"rfc2217://::1:2000", std::nullopt},
      {"rfc2217://[::1]2000", std::nullopt},
      {"rfc2217://host:65536", std::nullopt},
      {"rfc2217://host:04001", std::nullopt},
      {"rfc2217://host:40a1", std::nullopt},
      {"rfc2217://host:", std::nullopt},
      {"telnet://host:4001", std::nullopt},
      {"/dev/ttyUSB0", std::nullopt},
  };
  for (const auto& [url, address] : cases) EXPECT_EQ(ParseRfc2217Url(url), address) << url;
}

struct SettingsCase {
  const char* name;
  Behaviour behaviour;
  CauseKind cause;
};

const std::vector<SettingsCase> kSettingsCases = {
    {"parity confirmed", {}, CauseKind::kNone},
    {"parity never confirmed", {.parity = -1}, CauseKind::kParityNotConfirmed},
    {"parity confirmed as even: no mark and space there",
     {.parity = 3},
     CauseKind::kParityNotConfirmed},
};

// The change is sent at once; the byte after it waits for the confirmation
// and is not sent without it, and so is the next change.
TEST(Rfc2217SerialPort, ParityChangeMustBeConfirmed) {
  for (const SettingsCase& c : kSettingsCases) {
    for (const bool nextIsAByte : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (nextIsAByte ? ", then a byte" : ", then a change"));
      PlayedServer server(c.behaviour);
      Rfc2217SerialPort line(kShortWaits);
      const HANDLE h = line.CreateFile(server.Url());
      ASSERT_NE(h, INVALID_HANDLE_VALUE) << line.LastCause().detail;
      EXPECT_TRUE(line.SetCommState(h, Mode(MARKPARITY)));
      const BYTE address = 0x83;
      DWORD written = 0;
      const bool next = nextIsAByte ? line.WriteFile(h, &address, 1, written)
                                    : line.SetCommState(h, Mode(SPACEPARITY));
      EXPECT_EQ(next, c.cause == CauseKind::kNone);
      EXPECT_EQ(written, nextIsAByte && c.cause == CauseKind::kNone ? 1u : 0u);
      EXPECT_EQ(line.LastCause().kind, c.cause) << line.LastCause().detail;
      line.CloseHandle(h);
      const std::vector<std::string> heard = server.HeardToTheEnd();
      EXPECT_EQ(std::count(heard.begin(), heard.end(), "data 131"), written);
    }
  }
}

// On a slow network the byte after a parity change still follows the
// server's confirmation, as it follows the change on a local line.
TEST(Rfc2217SerialPort, NoByteBeforeTheParityIsConfirmed) {
  PlayedServer server({.confirmDelayMs = 50});
  Rfc2217SerialPort line(kShortWaits);
  const HANDLE h = line.CreateFile(server.Url());
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << line.LastCause().detail;
  DWORD written = 0;
  const BYTE address = 0x83;
  const BYTE code = 0xFF;
  ASSERT_TRUE(line.SetCommState(h, Mode(MARKPARITY)));
  ASSERT_TRUE(line.WriteFile(h, &address, 1, written));
  ASSERT_TRUE(line.SetCommState(h, Mode(SPACEPARITY)));
  ASSERT_TRUE(line.WriteFile(h, &code, 1, written));
  ASSERT_TRUE(line.SetCommState(h, Mode(SPACEPARITY)));  // nothing changed: nothing asked
  line.CloseHandle(h);

  std::vector<std::string> heard;
  for (int i = 0; i < 500 && heard.size() < 4; ++i) {
    heard = server.Heard();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(heard, (std::vector<std::string>{"parity 4", "data 131", "parity 5", "data 255"}));
}

TEST(Rfc2217SerialPort, DataWith0xFFGoesOutWhole) {
  PlayedServer server({});
  Rfc2217SerialPort line(kShortWaits);
  const HANDLE h = line.CreateFile(server.Url());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const Bytes out = {0x00, 0xFF, 0xFF, 0x7F};
  DWORD written = 0;
  EXPECT_TRUE(line.WriteFile(h, out.data(), static_cast<DWORD>(out.size()), written));
  EXPECT_EQ(written, out.size());
  line.CloseHandle(h);
  std::vector<std::string> heard;
  for (int i = 0; i < 500 && heard.size() < 4; ++i) {
    heard = server.Heard();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(heard, (std::vector<std::string>{"data 0", "data 255", "data 255", "data 127"}));
}

TEST(Rfc2217SerialPort, ReadGivesWhatCameThenTheLostConnection) {
  PlayedServer server({.answer = {0x01, kIac, kIac, 0x02}, .closeAfterAnswer = true});
  Rfc2217SerialPort line(kShortWaits);
  const HANDLE h = line.CreateFile(server.Url());
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << line.LastCause().detail;
  const BYTE request = 0x55;
  DWORD sent = 0;
  ASSERT_TRUE(line.WriteFile(h, &request, 1, sent));
  // Reads that wait up to a second for the first bytes: the data comes with
  // the connection's end.
  ASSERT_TRUE(line.SetCommTimeouts(h, {0xFFFFFFFF, 0xFFFFFFFF, 1000, 0, 1000}));
  BYTE buffer[12] = {};
  DWORD read = 0;
  std::vector<BYTE> got;
  bool ok = true;
  for (int i = 0; i < 10 && ok && got.size() < 3; ++i) {
    ok = line.ReadFile(h, buffer, sizeof buffer, read);
    got.insert(got.end(), buffer, buffer + read);
  }
  EXPECT_EQ(got, (std::vector<BYTE>{0x01, 0xFF, 0x02}));
  EXPECT_FALSE(line.ReadFile(h, buffer, sizeof buffer, read));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(line.LastCause().kind, CauseKind::kConnectionLost);
  DWORD written = 0;
  EXPECT_FALSE(line.WriteFile(h, buffer, 1, written));
  EXPECT_EQ(written, 0u);
  // The next settings change connects again; nothing listens any more.
  EXPECT_FALSE(line.SetCommState(h, Mode(MARKPARITY)));
  EXPECT_NE(line.LastCause().kind, CauseKind::kNone);
  line.CloseHandle(h);
}

TEST(Rfc2217SerialPort, HandlesAreItsOwnAndNeverADevicesNumber) {
  PlayedServer server({});
  Rfc2217SerialPort line(kShortWaits);
  const HANDLE h = line.CreateFile(server.Url());
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_LT(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(line.Owns(h));
  DCB dcb{};
  EXPECT_FALSE(line.GetCommState(h + 1, dcb));
  EXPECT_TRUE(line.CloseHandle(h));
  EXPECT_FALSE(line.Owns(h));
  EXPECT_FALSE(line.CloseHandle(h));
}

}  // namespace
