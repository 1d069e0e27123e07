#include "tools/zlm_read/modbus_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// MBAP header: transaction (2), protocol 0 (2), length of what follows (2),
// unit (1); then the PDU. A request is at most 260 bytes.
constexpr std::size_t kHeaderSize = 7;
constexpr std::size_t kMaxFrame = 260;
constexpr std::size_t kReadRequestLength = 6;  // unit, function, address, count

struct Client {
  int fd = -1;
  std::array<std::uint8_t, kMaxFrame> buffer{};
  std::size_t have = 0;
  Clock::time_point lastRequest;  // or the connection
  Clock::time_point lastByte;
};

std::string NameOf(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& a6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &a6.sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(a6.sin6_port));
  }
  const auto& a4 = reinterpret_cast<const sockaddr_in&>(address);
  ::inet_ntop(AF_INET, &a4.sin_addr, host, sizeof host);
  return std::string(host) + ":" + std::to_string(ntohs(a4.sin_port));
}

int PortOf(const sockaddr_storage& address) {
  return address.ss_family == AF_INET6
             ? ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port)
             : ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

}  // namespace

struct ModbusServer::Impl {
  ModbusServerSettings settings;
  std::shared_ptr<const MeterSnapshot> snapshot;
  modbus_t* context = nullptr;
  modbus_mapping_t* mapping = nullptr;
  int listenFd = -1;
  int wake[2] = {-1, -1};
  std::string address;
  int port = 0;
  std::vector<Client> clients;
  std::thread thread;

  ~Impl() {
    if (thread.joinable()) {
      const char stop = 0;
      (void)!::write(wake[1], &stop, 1);
      thread.join();
    }
    for (const Client& client : clients) ::close(client.fd);
    for (const int fd : {listenFd, wake[0], wake[1]}) {
      if (fd >= 0) ::close(fd);
    }
    if (mapping) modbus_mapping_free(mapping);
    if (context) modbus_free(context);
  }

  bool Listen(std::string& error) {
    context = modbus_new_tcp_pi(settings.listen.host.c_str(), settings.listen.port.c_str());
    mapping = modbus_mapping_new(0, 0, kModbusMapSize, kModbusMapSize);
    if (!context || !mapping) {
      error = std::string("cannot set up the server: ") + modbus_strerror(errno);
      return false;
    }
    listenFd = modbus_tcp_pi_listen(context, 16);
    // The context sends each answer on the client's socket; it owns none.
    modbus_set_socket(context, -1);
    if (listenFd < 0) {
      error = "cannot listen on " + settings.listen.host + ":" + settings.listen.port + ": " +
              modbus_strerror(errno);
      return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    address = NameOf(bound);
    port = PortOf(bound);
    ::fcntl(listenFd, F_SETFL, ::fcntl(listenFd, F_GETFL) | O_NONBLOCK);
    ::fcntl(listenFd, F_SETFD, FD_CLOEXEC);
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      error = std::string("cannot set up the server: ") + std::strerror(errno);
      return false;
    }
    return true;
  }

  // The answer to one whole request; false when the client is to be
  // dropped (no request we take, or the answer could not be sent).
  bool Answer(const Client& client, std::size_t length) {
    const std::uint8_t* request = client.buffer.data();
    const int unit = request[6];
    const int function = request[7];
    modbus_set_socket(context, client.fd);
    const std::optional<MeterState> meter = snapshot->Unit(unit);
    int sent = 0;
    if (!meter) {
      sent = modbus_reply_exception(context, request, MODBUS_EXCEPTION_GATEWAY_TARGET);
    } else if (function != MODBUS_FC_READ_HOLDING_REGISTERS &&
               function != MODBUS_FC_READ_INPUT_REGISTERS) {
      sent = modbus_reply_exception(context, request, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
    } else if (length != kHeaderSize - 1 + kReadRequestLength) {
      sent = -1;
    } else {
      const ModbusRegisters registers = RegistersOf(*meter, Clock::now(), settings.wordOrder);
      std::copy(registers.begin(), registers.end(), mapping->tab_registers);
      std::copy(registers.begin(), registers.end(), mapping->tab_input_registers);
      sent = modbus_reply(context, request, static_cast<int>(length), mapping);
    }
    modbus_set_socket(context, -1);
    return sent > 0;
  }

  // Reads what the client sent and answers each whole request in it; false
  // when it is to be dropped.
  bool Serve(Client& client, Clock::time_point now) {
    const ssize_t got = ::recv(client.fd, client.buffer.data() + client.have,
                               client.buffer.size() - client.have, 0);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EINTR;
    client.have += static_cast<std::size_t>(got);
    client.lastByte = now;
    while (client.have >= kHeaderSize) {
      const std::uint8_t* b = client.buffer.data();
      const unsigned protocol = (b[2] << 8) | b[3];
      const std::size_t length = (b[4] << 8) | b[5];
      if (protocol != 0 || length < 2 || length > kMaxFrame - (kHeaderSize - 1)) return false;
      const std::size_t frame = kHeaderSize - 1 + length;
      if (client.have < frame) break;
      if (!Answer(client, frame)) return false;
      client.lastRequest = now;
      std::memmove(client.buffer.data(), b + frame, client.have - frame);
      client.have -= frame;
    }
    return true;
  }

  Clock::time_point DeadlineOf(const Client& client) const {
    return client.have > 0 ? client.lastByte + settings.frameTimeout
                           : client.lastRequest + settings.idleTimeout;
  }

  void Accept(Clock::time_point now) {
    for (;;) {
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      if (clients.size() >= settings.maxClients) {
        ::close(fd);
        continue;
      }
      Client client;
      client.fd = fd;
      client.lastRequest = now;
      client.lastByte = now;
      clients.push_back(client);
    }
  }

  void Run() {
    std::vector<pollfd> fds;
    for (;;) {
      const Clock::time_point now = Clock::now();
      int timeout = -1;
      if (!clients.empty()) {
        Clock::time_point next = DeadlineOf(clients.front());
        for (const Client& client : clients) next = std::min(next, DeadlineOf(client));
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        timeout = static_cast<int>(std::clamp<long long>(wait, 0, 60000));
      }
      fds.assign({{wake[0], POLLIN, 0}, {listenFd, POLLIN, 0}});
      for (const Client& client : clients) fds.push_back({client.fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
      if (fds[0].revents != 0) return;
      const Clock::time_point after = Clock::now();
      // Clients are served in the order they were polled; new ones join
      // at the end, after the poll's entries.
      std::vector<Client> kept;
      kept.reserve(clients.size());
      for (std::size_t i = 0; i < clients.size(); ++i) {
        Client& client = clients[i];
        const bool ready = fds[i + 2].revents != 0;
        if ((ready && !Serve(client, after)) || (!ready && after >= DeadlineOf(client))) {
          ::close(client.fd);
          continue;
        }
        kept.push_back(client);
      }
      clients = std::move(kept);
      if (fds[1].revents != 0) Accept(after);
    }
  }
};

std::unique_ptr<ModbusServer> ModbusServer::Start(const ModbusServerSettings& settings,
                                                  std::shared_ptr<const MeterSnapshot> snapshot,
                                                  std::string& error) {
  auto impl = std::make_unique<Impl>();
  impl->settings = settings;
  impl->snapshot = std::move(snapshot);
  if (!impl->Listen(error)) return nullptr;
  Impl* running = impl.get();
  impl->thread = std::thread([running] { running->Run(); });
  return std::unique_ptr<ModbusServer>(new ModbusServer(std::move(impl)));
}

ModbusServer::ModbusServer(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
ModbusServer::~ModbusServer() = default;
const std::string& ModbusServer::Address() const { return m_impl->address; }
int ModbusServer::Port() const { return m_impl->port; }

std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error) {
  ListenAddress address{"127.0.0.1", text};
  if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    address.host = text.substr(0, colon);
    address.port = text.substr(colon + 1);
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
      address.host = address.host.substr(1, address.host.size() - 2);
    } else if (address.host.find(':') != std::string::npos) {
      error = "'" + text + "': an IPv6 address goes in brackets, as [::1]:1502";
      return std::nullopt;
    }
    if (address.host.empty()) {
      error = "'" + text + "': the host before ':' is empty";
      return std::nullopt;
    }
  }
  const bool digits = !address.port.empty() && address.port.size() <= 5 &&
                      address.port.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(address.port) > 65535) {
    error = "'" + text + "': the port is not a number 0..65535";
    return std::nullopt;
  }
  return address;
}

void AddModbusOptions(CLI::App& app, ModbusOptions& options) {
  app.add_option("--modbus-tcp", options.listen,
                 "Serve the meters' latest readings to Modbus TCP clients on PORT of 127.0.0.1, "
                 "or of HOST (0.0.0.0 for every address): one unit per meter, unit = address; "
                 "the register map is in the integration guide (integration.md; on Debian in "
                 "/usr/share/doc/zlm-tools)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            std::string error;
            return ParseListenAddress(text, error) ? std::string() : error;
          },
          ""))
      ->type_name("[HOST:]PORT");
  app.add_option("--modbus-word-order", options.wordOrder,
                 "Which register of a 32-bit value (float or counter) comes first: high "
                 "(ABCD, the default) or low (CDAB)")
      ->transform(
          CLI::CheckedTransformer(std::map<std::string, WordOrder>{{"high", WordOrder::kHighFirst},
                                                                   {"low", WordOrder::kLowFirst}},
                                  CLI::ignore_case))
      ->type_name("high|low");
}

namespace {

class ModbusSink final : public ReadingSink {
 public:
  ModbusSink(std::shared_ptr<MeterSnapshot> snapshot, std::unique_ptr<ModbusServer> server)
      : m_snapshot(std::move(snapshot)), m_server(std::move(server)) {}

  void Read(const MeterCycle& cycle) override { m_snapshot->Read(cycle, Clock::now()); }
  void Failed(const MeterFailure& failure) override { m_snapshot->Failed(failure); }

 private:
  std::shared_ptr<MeterSnapshot> m_snapshot;
  std::unique_ptr<ModbusServer> m_server;
};

}  // namespace

std::unique_ptr<ReadingSink> MakeModbusSink(const ModbusOptions& options,
                                            const std::vector<int>& addresses, std::FILE* log,
                                            std::string& error) {
  std::string reason;
  const std::optional<ListenAddress> listen = ParseListenAddress(options.listen, reason);
  if (!listen) {
    error = "--modbus-tcp " + reason;
    return nullptr;
  }
  auto snapshot = std::make_shared<MeterSnapshot>(addresses);
  std::unique_ptr<ModbusServer> server =
      ModbusServer::Start({.listen = *listen, .wordOrder = options.wordOrder}, snapshot, reason);
  if (!server) {
    error = "zlm-read: --modbus-tcp " + options.listen + ": " + reason;
    return nullptr;
  }
  std::fprintf(log, "zlm-read: serving Modbus TCP on %s\n", server->Address().c_str());
  std::fflush(log);
  return std::make_unique<ModbusSink>(std::move(snapshot), std::move(server));
}
