#include "tests/support/ser2net_server.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool ListeningOnLoopback(int port) {
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    // Listening sockets have state 0A.
    if (fields >> slot >> local >> remote >> state && local == wanted && state == "0A") {
      return true;
    }
  }
  return false;
}

Ser2netServer::Ser2netServer(std::filesystem::path dir, std::string device)
    : m_dir(std::move(dir)), m_device(std::move(device)) {}

Ser2netServer::~Ser2netServer() { Stop(); }

bool Ser2netServer::StartOn(int port) {
  const std::filesystem::path config = m_dir / "ser2net.yaml";
  {
    std::ofstream out(config);
    out << "connection: &meter\n"
        << "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << port << "\n"
        << "  connector: serialdev," << m_device << ",9600n81,local\n"
        << "  options:\n"
        << "    kickolduser: false\n";
    if (!out) return false;
  }
  // Real-time priority where the system grants it, as the simulator takes
  // it: a serial server relays the meter's answer at once on its own
  // hardware, not whenever a loaded test machine gets round to it.
  std::vector<std::string> argv = {
      ZLM_SER2NET, "-n", "-u", "-c", config.string(), "-P", (m_dir / "ser2net.pid").string()};
  if (m_realtime) argv.insert(argv.begin(), {"/usr/bin/chrt", "-f", "10"});
  m_process = std::make_unique<Subprocess>(argv, EnvChanges{});
  if (!m_process->Started()) return false;
  // It listens once it has read its configuration; until then, or when it
  // could not take the port, it does not.
  const auto deadline = std::chrono::steady_clock::now() + kProcessLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ListeningOnLoopback(port)) {
      m_port = port;
      return true;
    }
    if (!m_process->Running()) {
      // chrt ends at once where real-time priority is not granted.
      if (m_realtime && m_process->Wait(kProcessLimit) != 0 &&
          m_process->Err().find("chrt") != std::string::npos) {
        m_realtime = false;
        m_process.reset();
        return StartOn(port);
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Stop();
  return false;
}

bool Ser2netServer::Start() {
  if (m_port != 0) return StartOn(m_port);
  // A port found free can be taken by someone else before ser2net binds it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = FreeLoopbackPort();
    if (port != 0 && StartOn(port)) return true;
  }
  return false;
}

void Ser2netServer::Stop() {
  if (!m_process) return;
  if (m_process->Running()) m_process->Signal(SIGTERM);
  m_process->Wait(kProcessLimit);
  m_output += m_process->Out() + m_process->Err();
  m_process.reset();
}

std::string Ser2netServer::Output() const { return m_output; }
