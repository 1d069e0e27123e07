#include "sim/ser2net_front.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The child's end within limitMs: its exit code, or -1 when it did not end
// or died of a signal.
int Reap(pid_t pid, int limitMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 || Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

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

Ser2netFront::Ser2netFront(std::string dir, std::string device, std::string program)
    : m_dir(std::move(dir)), m_device(std::move(device)), m_program(std::move(program)) {}

Ser2netFront::~Ser2netFront() { Stop(); }

bool Ser2netFront::StartOn(int port, int timeoutMs) {
  const std::string config = m_dir + "/ser2net.yaml";
  {
    std::ofstream out(config);
    out << "connection: &meters\n"
        << "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << port << "\n"
        << "  connector: serialdev," << m_device << ",9600n81,local\n"
        << "  options:\n"
        << "    kickolduser: false\n";
    if (!out) return false;
  }
  std::vector<std::string> args = {
      m_program, "-n", "-u", "-c", config, "-P", m_dir + "/ser2net.pid"};
  if (m_realtime) args.insert(args.begin(), {"/usr/bin/chrt", "-f", "10"});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = m_dir + "/ser2net.log";
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  // The caller may block its stop signals (the simulator does); the server
  // must still end on SIGTERM.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int rc = ::posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    m_pid = -1;
    return false;
  }
  // It listens once it has read its configuration; until then, or when it
  // could not take the port, it does not.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (ListeningOnLoopback(port)) {
      m_port = port;
      return true;
    }
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      // chrt ends at once, saying so, where real-time priority is not granted.
      if (m_realtime && Output().find("chrt") != std::string::npos) {
        m_realtime = false;
        return StartOn(port, timeoutMs);
      }
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Stop();
  return false;
}

bool Ser2netFront::Start(int timeoutMs) {
  if (m_port != 0) return StartOn(m_port, timeoutMs);
  // A port found free can be taken by someone else before ser2net binds it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = FreeLoopbackPort();
    if (port != 0 && StartOn(port, timeoutMs)) return true;
  }
  return false;
}

void Ser2netFront::Stop() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  if (Reap(m_pid, 15000) < 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  m_pid = -1;
}

std::string Ser2netFront::Output() const {
  std::ifstream in(m_dir + "/ser2net.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
