// Windows through its one door first: WIN32_LEAN_AND_MEAN there keeps the
// old winsock.h out, so Winsock 2 can follow (an order include sorting would
// undo).
// clang-format off
#include "platform/windows_api.h"
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <string>

#include "serial/tcp_connection.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, 1 << 30));
}

// Winsock is started once for the process and left running until it ends.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::string SystemText(int code) {
  char text[256] = {};
  const DWORD n =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s.empty() ? "error " + std::to_string(code) : s;
}

TcpError ErrorOf(int code) {
  TcpFailure kind = TcpFailure::kLost;
  switch (code) {
    case WSAECONNREFUSED:
      kind = TcpFailure::kRefused;
      break;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAEADDRNOTAVAIL:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
      kind = TcpFailure::kUnreachable;
      break;
    case WSAETIMEDOUT:
      kind = TcpFailure::kTimedOut;
      break;
    default:
      break;
  }
  return {kind, SystemText(code)};
}

// Waits for events on s until the time is up; the events seen, 0 then.
short WaitFor(SOCKET s, short events, int timeoutMs) {
  WSAPOLLFD pfd{};
  pfd.fd = s;
  pfd.events = events;
  const int n = ::WSAPoll(&pfd, 1, timeoutMs);
  if (n > 0) return pfd.revents;
  return n == 0 ? 0 : POLLERR;
}

// Waits for a connection under way to complete or fail; true when it did
// either in time. select, not WSAPoll: WSAPoll does not report a refused
// connection on every Windows version.
bool ConnectSettled(SOCKET s, int timeoutMs) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, nullptr, &writable, &failed, &limit) > 0;
}

SOCKET SocketOf(std::intptr_t value) { return static_cast<SOCKET>(value); }

}  // namespace

std::unique_ptr<TcpConnection> TcpConnection::Connect(const std::string& host, std::uint16_t port,
                                                      int timeoutMs, TcpError& error) {
  if (!WinsockStarted()) {
    error = {TcpFailure::kUnreachable, "the network is not available (WSAStartup)"};
    return nullptr;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = {TcpFailure::kNoHost, SystemText(rc)};
    return nullptr;
  }
  error = {TcpFailure::kTimedOut, "no answer in time"};
  std::unique_ptr<TcpConnection> connection;
  for (const addrinfo* a = found; a != nullptr && !connection; a = a->ai_next) {
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      error = ErrorOf(::WSAGetLastError());
      continue;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    int code = 0;
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      code = ::WSAGetLastError();
      if (code == WSAEWOULDBLOCK) {
        int soError = 0;
        int size = sizeof soError;
        if (!ConnectSettled(s, MillisecondsUntil(deadline))) {
          soError = WSAETIMEDOUT;
        } else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError),
                                &size) != 0) {
          soError = ::WSAGetLastError();
        }
        code = soError;
      }
    }
    if (code != 0) {
      error = ErrorOf(code);
      ::closesocket(s);
      if (Clock::now() >= deadline) break;
      continue;
    }
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    connection.reset(new TcpConnection(static_cast<std::intptr_t>(s)));
    error = {};
  }
  ::freeaddrinfo(found);
  return connection;
}

TcpConnection::~TcpConnection() { ::closesocket(SocketOf(m_socket)); }

bool TcpConnection::Send(const std::vector<std::uint8_t>& data, int timeoutMs, TcpError& error) {
  const SOCKET s = SocketOf(m_socket);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < data.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size() - sent, 1 << 20));
    const int n = ::send(s, reinterpret_cast<const char*>(data.data() + sent), chunk, 0);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
      error = ErrorOf(code);
      error.kind = TcpFailure::kLost;
      return false;
    }
    if (WaitFor(s, POLLOUT, MillisecondsUntil(deadline)) == 0) {
      error = {TcpFailure::kTimedOut, "the server took no data in time"};
      return false;
    }
  }
  return true;
}

bool TcpConnection::Receive(std::vector<std::uint8_t>& into, int waitMs, TcpError& error) {
  const SOCKET s = SocketOf(m_socket);
  if (waitMs > 0 && WaitFor(s, POLLIN, waitMs) == 0) return true;
  char buffer[4096];
  for (;;) {
    const int n = ::recv(s, buffer, sizeof buffer, 0);
    if (n > 0) {
      into.insert(into.end(), buffer, buffer + n);
      if (n < static_cast<int>(sizeof buffer)) return true;
      continue;
    }
    if (n < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) return true;
    error = n == 0 ? TcpError{TcpFailure::kLost, "the server closed the connection"}
                   : ErrorOf(::WSAGetLastError());
    error.kind = TcpFailure::kLost;
    return false;
  }
}
