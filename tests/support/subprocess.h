#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Changes to the test's own environment: a value replaces or adds the
// variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// A program run by a test, with stdin from /dev/null and stdout and stderr
// captured through pipes. Every wait has a time limit; a child still running
// at the end is killed.
class Subprocess {
 public:
  // program is the file started, argv[0] when empty; argv is what the
  // program is given, argv[0] included.
  Subprocess(const std::vector<std::string>& argv, const EnvChanges& env,
             const std::string& program = {});
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  bool Started() const { return m_pid > 0; }
  pid_t Pid() const { return m_pid; }
  // False once the child has ended (it is then reaped).
  bool Running();
  // The next line of stdout, without its newline; nothing on end of file or
  // time-out.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  void Signal(int signal);
  // Waits for the end, collecting output. The exit code, or -1 when the
  // child was killed (at the limit, or by a signal).
  int Wait(std::chrono::milliseconds limit);
  // After Wait: whether the child exited (rather than died of a signal), and
  // the signal that ended it.
  bool Exited() const { return m_reaped && WIFEXITED(m_status); }
  int TermSignal() const { return m_reaped && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0; }

  const std::string& Out() const { return m_out; }
  const std::string& Err() const { return m_err; }

 private:
  pid_t m_pid = -1;
  int m_outFd = -1;
  int m_errFd = -1;
  std::string m_out;  // stdout after the lines ReadLine returned
  std::string m_err;
  bool m_reaped = false;
  int m_status = 0;
};

inline constexpr std::chrono::milliseconds kProcessLimit{15000};

// Runs a program to its end within kProcessLimit.
struct RunResult {
  int exitCode;
  std::string out;
  std::string err;
};
RunResult RunProgram(const std::vector<std::string>& argv, const EnvChanges& env);
