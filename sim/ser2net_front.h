#pragma once

#include <sys/types.h>

#include <string>

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
int FreeLoopbackPort();

// Whether something listens on 127.0.0.1:port now (as /proc/net/tcp shows,
// without connecting).
bool ListeningOnLoopback(int port);

// Debian's ser2net on 127.0.0.1 in RFC 2217 mode in front of one serial
// device (the simulator's pty), the way the README sets it up for a meter
// bus: from a configuration written into a directory of the caller's, with
// no UUCP lock files, its pid file and its output in that directory too. A
// second client is turned away while one holds the line (kickolduser off).
// Its connection sends each write at once (nodelay): with Nagle's algorithm
// the answer that follows an echo waits for the client's delayed
// acknowledgement, up to 40 ms more than the meter's waits allow. It runs at
// real-time priority where the system grants it, as the simulator does: a
// serial server relays on hardware of its own, not whenever a loaded machine
// gets round to it.
class Ser2netFront {
 public:
  Ser2netFront(std::string dir, std::string device, std::string program = "/usr/sbin/ser2net");
  ~Ser2netFront();
  Ser2netFront(const Ser2netFront&) = delete;
  Ser2netFront& operator=(const Ser2netFront&) = delete;

  // Starts it on a free port (or, after Stop, on the port it had) and waits
  // until it listens, at most timeoutMs; false when it did not.
  bool Start(int timeoutMs = 15000);
  // Ends it with SIGTERM and waits for its end.
  void Stop();

  int Port() const { return m_port; }
  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
  // What it wrote to stdout and stderr.
  std::string Output() const;

 private:
  bool StartOn(int port, int timeoutMs);

  std::string m_dir;
  std::string m_device;
  std::string m_program;
  int m_port = 0;
  bool m_realtime = true;
  pid_t m_pid = -1;
};
