#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/subprocess.h"

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
int FreeLoopbackPort();

// Whether something listens on 127.0.0.1:port now (as /proc/net/tcp shows,
// without connecting).
bool ListeningOnLoopback(int port);

// Debian's ser2net on 127.0.0.1, in RFC 2217 mode, in front of one serial
// device, from a configuration written into a scratch directory; no UUCP
// lock files, its pid file in the scratch directory. A second client is
// turned away while one holds the line (kickolduser off). Its connection
// sends each write at once (nodelay): with Nagle's algorithm the answer that
// follows an echo waits for the client's delayed acknowledgement, up to 40 ms
// more than the meter's waits allow. It runs at real-time priority where the
// system grants it.
class Ser2netServer {
 public:
  Ser2netServer(std::filesystem::path dir, std::string device);
  ~Ser2netServer();
  Ser2netServer(const Ser2netServer&) = delete;
  Ser2netServer& operator=(const Ser2netServer&) = delete;

  // Starts it on a free port (or, after Stop, on the port it had) and waits
  // until it listens; false when it did not within kProcessLimit.
  bool Start();
  // Ends it with SIGTERM and waits for its end.
  void Stop();

  int Port() const { return m_port; }
  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
  std::string Output() const;

 private:
  bool StartOn(int port);

  std::filesystem::path m_dir;
  std::string m_device;
  int m_port = 0;
  bool m_realtime = true;
  std::unique_ptr<Subprocess> m_process;
  std::string m_output;
};
