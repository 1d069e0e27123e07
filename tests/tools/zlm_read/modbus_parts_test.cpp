// The Modbus TCP server's parts: the register map, the listen address, and
// the server itself over raw loopback sockets, with short time-outs.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <memory>
#include <vector>

#include "meter/exchange_diagnosis.h"
#include "meter/read_exchange.h"
#include "serial/port_discovery.h"
#include "tools/zlm_read/modbus_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

MeterState MeterWithReadings(int address) {
  MeterState meter;
  meter.address = address;
  std::array<Reading, kParameters.size()> readings{};
  readings[kVolumeM3] = {1, 4, 12345678, 1234.5678};
  readings[kVolumeL] = {2, 8, 98765432, 98765432};
  readings[kFlowM3h] = {4, 2, 12500000, 12.5};
  meter.readings = readings;
  return meter;
}

TEST(ModbusMap, ThirtyTwoBitValuesInTheChosenWordOrder) {
  const Clock::time_point now = Clock::now();
  MeterState meter = MeterWithReadings(7);
  meter.lastGood = now - 70000s;
  meter.goodCycles = 0x12345678;
  meter.failedCycles = 5;
  meter.status = 2;
  meter.cause = kCauseNoMeterAnswer;
  const std::uint32_t flow = std::bit_cast<std::uint32_t>(12.5f);
  const struct {
    WordOrder order;
    std::uint16_t first, second;  // of the good cycles
    std::uint16_t flowFirst, flowSecond;
  } kCases[] = {
      {WordOrder::kHighFirst, 0x1234, 0x5678, static_cast<std::uint16_t>(flow >> 16),
       static_cast<std::uint16_t>(flow)},
      {WordOrder::kLowFirst, 0x5678, 0x1234, static_cast<std::uint16_t>(flow),
       static_cast<std::uint16_t>(flow >> 16)},
  };
  for (const auto& c : kCases) {
    const ModbusRegisters r = RegistersOf(meter, now, c.order);
    EXPECT_EQ(r[kRegVersion], kModbusMapVersion);
    EXPECT_EQ(r[kRegStatus], 2);
    EXPECT_EQ(r[kRegCause], kCauseNoMeterAnswer);
    EXPECT_EQ(r[kRegAddress], 7);
    EXPECT_EQ(r[kRegGoodCycles], c.first);
    EXPECT_EQ(r[kRegGoodCycles + 1], c.second);
    // 70,000 s does not fit one register: the age takes two.
    const std::uint32_t age = c.order == WordOrder::kHighFirst
                                  ? (r[kRegAge] << 16 | r[kRegAge + 1])
                                  : (r[kRegAge + 1] << 16 | r[kRegAge]);
    EXPECT_EQ(age, 70000u);
    EXPECT_EQ(r[kRegValues + 2 * kFlowM3h], c.flowFirst);
    EXPECT_EQ(r[kRegValues + 2 * kFlowM3h + 1], c.flowSecond);
    // N 98765432 = 0x05F5E0F8 ... as the meter sent it, and its position.
    const std::uint32_t n =
        c.order == WordOrder::kHighFirst
            ? (r[kRegDigits + 2 * kVolumeL] << 16 | r[kRegDigits + 2 * kVolumeL + 1])
            : (r[kRegDigits + 2 * kVolumeL + 1] << 16 | r[kRegDigits + 2 * kVolumeL]);
    EXPECT_EQ(n, 98765432u);
    EXPECT_EQ(r[kRegPositions + kVolumeM3], 4);
    EXPECT_EQ(r[kRegPositions + kVolumeL], 8);
  }
}

TEST(ModbusMap, CountersAndAgeSaturate) {
  const Clock::time_point now = Clock::now();
  MeterState meter = MeterWithReadings(1);
  meter.goodCycles = std::uint64_t{1} << 40;
  meter.lastGood = now - std::chrono::hours(24 * 365 * 200);
  const ModbusRegisters r = RegistersOf(meter, now, WordOrder::kHighFirst);
  for (const std::size_t at : {kRegAge, kRegAge + 1, kRegGoodCycles, kRegGoodCycles + 1}) {
    EXPECT_EQ(r[at], 0xFFFF) << at;
  }
  EXPECT_EQ(r[kRegFailedCycles + 1], 0);
}

TEST(ModbusMap, OneStatusPerFailureMessage) {
  const struct {
    const char* message;
    std::uint16_t status;
  } kCases[] = {{kMsgNoFreePort, 1},    {kMsgNoAnswer, 2},       {kMsgPositionTooLarge, 3},
                {kMsgApplyMarkMode, 5}, {kMsgCodeNotWritten, 9}, {"something else", 99}};
  for (const auto& c : kCases) EXPECT_EQ(ModbusStatusOf(c.message), c.status) << c.message;
}

TEST(ListenAddress, PortAloneIsLoopback) {
  const struct {
    const char* text;
    const char* host;  // nullptr: refused
    const char* port;
  } kCases[] = {
      {"1502", "127.0.0.1", "1502"},  {"0.0.0.0:502", "0.0.0.0", "502"},
      {"[::1]:1502", "::1", "1502"},  {"localhost:0", "localhost", "0"},
      {"::1:1502", nullptr, nullptr}, {":1502", nullptr, nullptr},
      {"65536", nullptr, nullptr},    {"12ab", nullptr, nullptr},
      {"", nullptr, nullptr},         {"127.0.0.1:", nullptr, nullptr},
  };
  for (const auto& c : kCases) {
    std::string error;
    const std::optional<ListenAddress> address = ParseListenAddress(c.text, error);
    ASSERT_EQ(address.has_value(), c.host != nullptr) << c.text << ": " << error;
    if (!address) {
      EXPECT_NE(error, "") << c.text;
      continue;
    }
    EXPECT_EQ(address->host, c.host);
    EXPECT_EQ(address->port, c.port);
  }
}

// A raw client of the server on loopback.
class RawClient {
 public:
  explicit RawClient(int port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }
  ~RawClient() { ::close(m_fd); }
  bool Connected() const { return m_connected; }
  bool Send(const std::vector<std::uint8_t>& bytes) {
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // The next answer within the limit (its length from the header); nothing
  // when the server closed the connection first.
  std::optional<std::vector<std::uint8_t>> Receive(std::chrono::milliseconds limit = 10s) {
    const Clock::time_point end = Clock::now() + limit;
    const auto whole = [this] {
      return m_pending.size() >= 6 && m_pending.size() >= 6u + (m_pending[4] << 8 | m_pending[5]);
    };
    while (!whole()) {
      pollfd p{m_fd, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        ADD_FAILURE() << "nothing within the limit";
        return std::nullopt;
      }
      std::uint8_t buffer[600];
      const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
      if (n <= 0) return std::nullopt;
      m_pending.insert(m_pending.end(), buffer, buffer + n);
    }
    const std::size_t length = 6u + (m_pending[4] << 8 | m_pending[5]);
    std::vector<std::uint8_t> answer(m_pending.begin(), m_pending.begin() + length);
    m_pending.erase(m_pending.begin(), m_pending.begin() + length);
    return answer;
  }
  // Whether the server closes the connection within the limit.
  bool Closed(std::chrono::milliseconds limit = 10s) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    std::uint8_t byte;
    return ::recv(m_fd, &byte, 1, 0) == 0;
  }

 private:
  int m_fd;
  bool m_connected = false;
  std::vector<std::uint8_t> m_pending;
};

std::vector<std::uint8_t> Request(std::uint8_t unit, std::uint8_t function, std::uint16_t address,
                                  std::uint16_t count) {
  return {0x12,
          0x34,
          0,
          0,
          0,
          6,
          unit,
          function,
          static_cast<std::uint8_t>(address >> 8),
          static_cast<std::uint8_t>(address),
          static_cast<std::uint8_t>(count >> 8),
          static_cast<std::uint8_t>(count)};
}

class ModbusServerTest : public ::testing::Test {
 protected:
  // Long enough that no client of a test goes idle between its requests.
  static constexpr std::chrono::milliseconds kIdle = 5s;

  void SetUp() override {
    MeterCycle cycle{std::chrono::system_clock::now(), "COM1", 3, {{1, 4, 12345678, 1234.5678}}};
    m_snapshot->Read(cycle, Clock::now());
    std::string error;
    m_server = ModbusServer::Start({.listen = {"127.0.0.1", "0"},
                                    .idleTimeout = kIdle,
                                    .frameTimeout = 200ms,
                                    .maxClients = 20},
                                   m_snapshot, error);
    ASSERT_TRUE(m_server) << error;
  }

  std::shared_ptr<MeterSnapshot> m_snapshot = std::make_shared<MeterSnapshot>(std::vector{3, 7});
  std::unique_ptr<ModbusServer> m_server;
};

// The exception code of the answer, 0 for a normal answer.
int ExceptionOf(const std::vector<std::uint8_t>& answer) {
  return answer.size() >= 9 && (answer[7] & 0x80) ? answer[8] : 0;
}

TEST_F(ModbusServerTest, AnswersAndExceptions) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> request;
    int exception;
  } kCases[] = {
      {"input registers", Request(3, 4, 0, kModbusMapSize), 0},
      {"holding registers", Request(3, 3, 38, 7), 0},
      {"unknown unit", Request(9, 4, 0, 1), 0x0B},
      {"never answered", Request(7, 4, 0, 1), 0x0B},
      {"past the map", Request(3, 4, kModbusMapSize - 1, 2), 0x02},
      {"write register", Request(3, 6, 0, 1), 0x01},
      {"read coils", Request(3, 1, 0, 1), 0x01},
      {"too many", Request(3, 4, 0, 126), 0x03},
  };
  RawClient client(m_server->Port());
  ASSERT_TRUE(client.Connected());
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(client.Send(c.request));
    const auto answer = client.Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[0], 0x12);  // the transaction id comes back
    EXPECT_EQ((*answer)[6], c.request[6]);
    EXPECT_EQ(ExceptionOf(*answer), c.exception);
  }
  // A meter that answers at last is served from then on.
  m_snapshot->Read({std::chrono::system_clock::now(), "COM1", 7, {}}, Clock::now());
  ASSERT_TRUE(client.Send(Request(7, 4, kRegAddress, 1)));
  const auto answer = client.Receive();
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 11u);
  EXPECT_EQ((*answer)[10], 7);
}

// Whatever one client does wrong, it alone is dropped; another connected
// before and after is served.
TEST_F(ModbusServerTest, BadClientsAreDroppedAlone) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
  } kCases[] = {
      {"text", {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1', '\r', '\n'}},
      {"protocol not 0", {0, 1, 0, 1, 0, 6, 3, 4, 0, 0, 0, 1}},
      {"length 0", {0, 1, 0, 0, 0, 0, 3, 4}},
      {"length above 254", {0, 1, 0, 0, 1, 0, 3, 4}},
      {"read of the wrong length", {0, 1, 0, 0, 0, 4, 3, 4, 0, 0}},
      {"stops mid-request", {0, 1, 0, 0, 0, 6, 3, 4}},
  };
  RawClient good(m_server->Port());
  ASSERT_TRUE(good.Connected());
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RawClient bad(m_server->Port());
    ASSERT_TRUE(bad.Connected());
    ASSERT_TRUE(bad.Send(c.bytes));
    EXPECT_TRUE(bad.Closed());
    ASSERT_TRUE(good.Send(Request(3, 4, 0, 1)));
    const auto answer = good.Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(ExceptionOf(*answer), 0);
  }
  // Half a request, then the connection closed: the server serves on.
  {
    RawClient gone(m_server->Port());
    ASSERT_TRUE(gone.Send({0, 1, 0, 0, 0, 6, 3}));
  }
  RawClient after(m_server->Port());
  ASSERT_TRUE(after.Send(Request(3, 3, 0, 1)));
  EXPECT_TRUE(after.Receive());
}

// A client that connects and says nothing is dropped when it has been idle
// too long; one that keeps asking meanwhile is served throughout.
TEST_F(ModbusServerTest, IdleClientsTimeOut) {
  RawClient silent(m_server->Port());
  RawClient busy(m_server->Port());
  ASSERT_TRUE(silent.Connected() && busy.Connected());
  const Clock::time_point start = Clock::now();
  int answers = 0;
  while (!silent.Closed(50ms)) {
    ASSERT_LT(Clock::now() - start, 3 * kIdle);
    ASSERT_TRUE(busy.Send(Request(3, 4, 0, 1)));
    ASSERT_TRUE(busy.Receive());
    ++answers;
  }
  EXPECT_GE(Clock::now() - start, kIdle - 100ms);
  EXPECT_GT(answers, 0);
  ASSERT_TRUE(busy.Send(Request(3, 4, 0, 1)));
  EXPECT_TRUE(busy.Receive());
}

TEST_F(ModbusServerTest, ManyClientsAtOnceAndNoMore) {
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 20; ++i) {
    clients.push_back(std::make_unique<RawClient>(m_server->Port()));
    ASSERT_TRUE(clients.back()->Connected());
  }
  // Requests in two rounds, each client pipelining two.
  for (auto& client : clients) {
    std::vector<std::uint8_t> two = Request(3, 4, 0, 4);
    const std::vector<std::uint8_t> second = Request(3, 3, 4, 2);
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(client->Send(two));
  }
  for (auto& client : clients) {
    const auto first = client->Receive();
    const auto second = client->Receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), 9u + 8u);
    EXPECT_EQ(second->size(), 9u + 4u);
  }
  // One beyond the limit is closed at once; the others are still served.
  RawClient extra(m_server->Port());
  EXPECT_TRUE(extra.Closed());
  ASSERT_TRUE(clients.front()->Send(Request(3, 4, 0, 1)));
  EXPECT_TRUE(clients.front()->Receive());
}

}  // namespace
