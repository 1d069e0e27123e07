#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One TCP connection to a host, made and used without ever blocking longer
// than asked. POSIX sockets on Linux, Winsock on Windows; the platform's
// headers stay in the implementation.

enum class TcpFailure {
  kNone,
  kNoHost,       // the name does not resolve
  kRefused,      // nothing listens there
  kUnreachable,  // no route to the host or network
  kTimedOut,     // no answer within the time given
  kLost,         // the connection ended or broke
};

struct TcpError {
  TcpFailure kind = TcpFailure::kNone;
  std::string text{};  // the system's words
};

class TcpConnection {
 public:
  // Connects to host:port (a name, an IPv4 or an IPv6 address), trying each
  // address the name has until one answers or timeoutMs has passed in all.
  // The connection sends each write at once (TCP_NODELAY). nullptr on
  // failure, with why in error.
  static std::unique_ptr<TcpConnection> Connect(const std::string& host, std::uint16_t port,
                                                int timeoutMs, TcpError& error);
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Sends all of data, waiting up to timeoutMs in all for room; false when
  // the connection broke or the time ran out.
  bool Send(const std::vector<std::uint8_t>& data, int timeoutMs, TcpError& error);

  // Appends to into what has arrived, waiting up to waitMs for the first
  // bytes (0: not at all). True with nothing appended when nothing came in
  // time; false when the server closed the connection or it broke (what
  // came before the end is appended all the same).
  bool Receive(std::vector<std::uint8_t>& into, int waitMs, TcpError& error);

 private:
  explicit TcpConnection(std::intptr_t socket) : m_socket(socket) {}

  std::intptr_t m_socket;
};
