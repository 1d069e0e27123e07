#include "tools/zlm_read/metrics_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr char kContentType[] = "text/plain; version=0.0.4; charset=utf-8";

MHD_Result Reply(MHD_Connection* connection, unsigned status, const std::string& body,
                 const char* type) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  }
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

// The numeric host and port of a bound socket, as a URL writes them.
std::string WhereOf(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return {};
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), size, host, sizeof host, port,
                    sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return {};
  }
  return address.ss_family == AF_INET6 ? "[" + std::string(host) + "]:" + port
                                       : std::string(host) + ":" + port;
}

}  // namespace

std::optional<MetricsAddress> ParseMetricsAddress(const std::string& text, std::string& error) {
  MetricsAddress address;
  std::string port = text;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "write an IPv6 address as [ADDRESS]:PORT";
      return std::nullopt;
    }
    address.host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else if (const std::size_t colon = text.find(':'); colon != std::string::npos) {
    if (text.find(':', colon + 1) != std::string::npos) {
      error = "write an IPv6 address as [ADDRESS]:PORT";
      return std::nullopt;
    }
    address.host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (address.host.empty()) {
    error = "no host before the colon";
    return std::nullopt;
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
    error = "the port must be a number 0..65535";
    return std::nullopt;
  }
  address.port = static_cast<std::uint16_t>(value);
  return address;
}

std::unique_ptr<MetricsServer> MetricsServer::Start(const MetricsAddress& address,
                                                    std::function<std::string()> text,
                                                    std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (const int rc = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = address.host + ": " + ::gai_strerror(rc);
    return nullptr;
  }
  std::unique_ptr<MetricsServer> server(new MetricsServer(std::move(text)));
  const auto handler = [](void* self, MHD_Connection* connection, const char* url,
                          const char* method, const char*, const char*, std::size_t*,
                          void**) -> MHD_Result {
    const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                     std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    if (!get) return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET only\n", "text/plain");
    if (std::strcmp(url, "/metrics") != 0) {
      return Reply(connection, MHD_HTTP_NOT_FOUND, "zlm-read: the metrics are at /metrics\n",
                   "text/plain");
    }
    return Reply(connection, MHD_HTTP_OK, static_cast<MetricsServer*>(self)->m_text(),
                 kContentType);
  };
  // Its own thread with poll (no limit on descriptor numbers as with
  // select); errors are ours to report.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
  if (found->ai_family == AF_INET6) flags |= MHD_USE_IPv6;
  server->m_daemon = MHD_start_daemon(
      flags, address.port, nullptr, nullptr, handler, server.get(), MHD_OPTION_SOCK_ADDR,
      found->ai_addr, MHD_OPTION_CONNECTION_LIMIT, kConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      kPerClient, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_END);
  const int startError = errno;
  ::freeaddrinfo(found);
  if (!server->m_daemon) {
    error = "cannot listen on " + address.host + ":" + port + ": " + std::strerror(startError);
    return nullptr;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(server->m_daemon, MHD_DAEMON_INFO_LISTEN_FD);
  server->m_where = info ? WhereOf(info->listen_fd) : address.host + ":" + port;
  return server;
}

MetricsServer::~MetricsServer() {
  if (m_daemon) MHD_stop_daemon(m_daemon);
}
