#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// A program run by a test, with stdout and stderr captured through pipes.
// Every wait has a time limit; a child still running at the end is killed.
class Subprocess {
 public:
  // argv[0] is the program's path. env entries ("NAME=value") replace or add
  // to the test's own environment.
  Subprocess(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  bool Started() const { return m_pid > 0; }
  // The next line of stdout, without its newline; nothing on end of file or
  // time-out.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  void Signal(int signal);
  // Waits for the end, collecting output. The exit code, or -1 when the
  // child was killed (at the limit, or by a signal).
  int Wait(std::chrono::milliseconds limit);

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
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env);
