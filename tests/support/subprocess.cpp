#include "tests/support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Appends what fd has; false at end of file.
bool Drain(int fd, std::string& into) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<size_t>(n));
  return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv, const EnvChanges& env,
                       const std::string& program) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (value) environment.push_back(name + "=" + *value);
  }
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const char* path = program.empty() ? argp[0] : program.c_str();
  if (::posix_spawn(&pid, path, &actions, nullptr, argp.data(), envp.data()) == 0) m_pid = pid;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  m_outFd = out[0];
  m_errFd = err[0];
}

Subprocess::~Subprocess() {
  if (m_pid > 0 && !m_reaped) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  if (m_outFd >= 0) ::close(m_outFd);
  if (m_errFd >= 0) ::close(m_errFd);
}

std::optional<std::string> Subprocess::ReadLine(std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    if (const size_t end = m_out.find('\n'); end != std::string::npos) {
      std::string line = m_out.substr(0, end);
      m_out.erase(0, end + 1);
      return line;
    }
    pollfd pfd{m_outFd, POLLIN, 0};
    if (m_outFd < 0 || ::poll(&pfd, 1, MillisecondsLeft(deadline)) <= 0) return std::nullopt;
    if (!Drain(m_outFd, m_out)) return std::nullopt;
  }
}

bool Subprocess::Running() {
  if (m_pid <= 0 || m_reaped) return false;
  m_reaped = ::waitpid(m_pid, &m_status, WNOHANG) == m_pid;
  return !m_reaped;
}

void Subprocess::Signal(int signal) {
  if (m_pid > 0 && !m_reaped) ::kill(m_pid, signal);
}

int Subprocess::Wait(std::chrono::milliseconds limit) {
  if (m_pid <= 0) return -1;
  const Clock::time_point deadline = Clock::now() + limit;
  bool outOpen = m_outFd >= 0;
  bool errOpen = m_errFd >= 0;
  while (outOpen || errOpen) {
    pollfd pfds[2] = {{outOpen ? m_outFd : -1, POLLIN, 0}, {errOpen ? m_errFd : -1, POLLIN, 0}};
    if (::poll(pfds, 2, MillisecondsLeft(deadline)) <= 0) break;
    if (pfds[0].revents != 0) outOpen = Drain(m_outFd, m_out);
    if (pfds[1].revents != 0) errOpen = Drain(m_errFd, m_err);
  }
  while (!m_reaped) {
    const pid_t done = ::waitpid(m_pid, &m_status, WNOHANG);
    if (done == m_pid || (done < 0 && errno != EINTR)) {
      m_reaped = true;
    } else if (MillisecondsLeft(deadline) == 0) {
      ::kill(m_pid, SIGKILL);  // still running at the limit
      ::waitpid(m_pid, &m_status, 0);
      m_reaped = true;
    } else {
      ::usleep(2000);
    }
  }
  return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
}

RunResult RunProgram(const std::vector<std::string>& argv, const EnvChanges& env) {
  Subprocess process(argv, env);
  const int code = process.Wait(kProcessLimit);
  return {code, process.Out(), process.Err()};
}
