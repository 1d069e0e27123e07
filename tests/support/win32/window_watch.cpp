// Ends a window test's case that outlives ZLM_CASE_TIME_LIMIT_S, after
// writing which case it was and what was on the screen: a dialog waiting
// for a key, a message box nobody answers. ctest's own limit would end the
// program without a word.

#include <gtest/gtest.h>
#include "platform/windows_api.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/win32/screen_text.h"

namespace {

class WindowWatch : public testing::EmptyTestEventListener {
 public:
  WindowWatch() : m_thread([this] { Watch(); }) { m_thread.detach(); }

  void OnTestStart(const testing::TestInfo& info) override {
    std::lock_guard lock(m_mutex);
    m_case = std::string(info.test_suite_name()) + "." + info.name();
    m_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ZLM_CASE_TIME_LIMIT_S);
    m_armed = true;
    m_changed.notify_one();
  }
  void OnTestEnd(const testing::TestInfo&) override {
    std::lock_guard lock(m_mutex);
    m_armed = false;
    m_changed.notify_one();
  }

 private:
  void Watch() {
    std::unique_lock lock(m_mutex);
    for (;;) {
      if (!m_armed) {
        m_changed.wait(lock);
      } else if (m_changed.wait_until(lock, m_deadline) == std::cv_status::timeout && m_armed &&
                 std::chrono::steady_clock::now() >= m_deadline) {
        std::fprintf(stderr, "%s did not end within %d s; on the screen:\n%s", m_case.c_str(),
                     ZLM_CASE_TIME_LIMIT_S, DescribeScreen().c_str());
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_armed = false;
  std::string m_case;
  std::chrono::steady_clock::time_point m_deadline;
  std::thread m_thread;
};

// gtest owns the listener once appended; it lives until the program ends.
const bool kWatching = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new WindowWatch);
  return true;
}();

}  // namespace
