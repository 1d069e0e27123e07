#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Where --metrics listens: [HOST:]PORT, HOST an IPv4 address, a name, or an
// IPv6 address in brackets; 127.0.0.1 when no host is given. Port 0 takes
// any free one.
struct MetricsAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
};
// The address, or nothing with the reason in error.
std::optional<MetricsAddress> ParseMetricsAddress(const std::string& text, std::string& error);

struct MHD_Daemon;

// Serves text() at /metrics over HTTP (libmicrohttpd, a thread of its own,
// one connection at a time per poll round, none blocking): GET and HEAD
// only, at most kConnections connections (kPerClient from one address),
// each dropped after kIdleSeconds without progress, so no client can hold
// it up.
class MetricsServer {
 public:
  static constexpr unsigned kConnections = 16;
  static constexpr unsigned kPerClient = 4;
  static constexpr unsigned kIdleSeconds = 10;

  // A running server, or nullptr with the reason in error.
  static std::unique_ptr<MetricsServer> Start(const MetricsAddress& address,
                                              std::function<std::string()> text,
                                              std::string& error);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The address and port it listens on, as a URL host part: 127.0.0.1:9101, [::1]:9101.
  const std::string& Where() const { return m_where; }

 private:
  explicit MetricsServer(std::function<std::string()> text) : m_text(std::move(text)) {}

  std::function<std::string()> m_text;
  MHD_Daemon* m_daemon = nullptr;
  std::string m_where;
};
