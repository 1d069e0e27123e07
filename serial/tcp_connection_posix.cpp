#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/tcp_connection.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1 << 30));
}

TcpError ErrorOf(int code) {
  TcpFailure kind = TcpFailure::kLost;
  switch (code) {
    case ECONNREFUSED:
      kind = TcpFailure::kRefused;
      break;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EADDRNOTAVAIL:
    case ENETDOWN:
    case EHOSTDOWN:
      kind = TcpFailure::kUnreachable;
      break;
    case ETIMEDOUT:
      kind = TcpFailure::kTimedOut;
      break;
    default:
      break;
  }
  return {kind, std::strerror(code)};
}

// Waits for events on fd until the deadline; the events seen, 0 at the deadline.
short WaitFor(int fd, short events, int timeoutMs) {
  pollfd pfd{fd, events, 0};
  for (;;) {
    const int n = ::poll(&pfd, 1, timeoutMs);
    if (n > 0) return pfd.revents;
    if (n == 0) return 0;
    if (errno != EINTR) return POLLERR;
  }
}

}  // namespace

std::unique_ptr<TcpConnection> TcpConnection::Connect(const std::string& host, std::uint16_t port,
                                                      int timeoutMs, TcpError& error) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = {TcpFailure::kNoHost, ::gai_strerror(rc)};
    return nullptr;
  }
  error = {TcpFailure::kTimedOut, "no answer in time"};
  std::unique_ptr<TcpConnection> connection;
  for (const addrinfo* a = found; a != nullptr && !connection; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = ErrorOf(errno);
      continue;
    }
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      const short seen = WaitFor(fd, POLLOUT, MillisecondsUntil(deadline));
      int soError = 0;
      socklen_t size = sizeof soError;
      if (seen == 0) {
        soError = ETIMEDOUT;
      } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size) != 0) {
        soError = errno;
      }
      rc = soError == 0 ? 0 : -1;
      errno = soError;
    }
    if (rc != 0) {
      error = ErrorOf(errno);
      ::close(fd);
      if (Clock::now() >= deadline) break;
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connection.reset(new TcpConnection(fd));
    error = {};
  }
  ::freeaddrinfo(found);
  return connection;
}

TcpConnection::~TcpConnection() { ::close(static_cast<int>(m_socket)); }

bool TcpConnection::Send(const std::vector<std::uint8_t>& data, int timeoutMs, TcpError& error) {
  const int fd = static_cast<int>(m_socket);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      error = ErrorOf(errno);
      error.kind = TcpFailure::kLost;
      return false;
    }
    const short seen = WaitFor(fd, POLLOUT, MillisecondsUntil(deadline));
    if (seen == 0) {
      error = {TcpFailure::kTimedOut, "the server took no data in time"};
      return false;
    }
  }
  return true;
}

bool TcpConnection::Receive(std::vector<std::uint8_t>& into, int waitMs, TcpError& error) {
  const int fd = static_cast<int>(m_socket);
  if (waitMs > 0 && WaitFor(fd, POLLIN, waitMs) == 0) return true;
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      // Acknowledged at once: a server that leaves Nagle's algorithm on
      // holds its next small write (the meter's answer after the echo)
      // until this acknowledgement, which Linux would otherwise delay by up
      // to 40 ms. The flag does not stay set, so it is set after each read.
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
      into.insert(into.end(), buffer, buffer + n);
      if (static_cast<std::size_t>(n) < sizeof buffer) return true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    error =
        n == 0 ? TcpError{TcpFailure::kLost, "the server closed the connection"} : ErrorOf(errno);
    error.kind = TcpFailure::kLost;
    return false;
  }
}
