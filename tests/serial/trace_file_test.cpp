// A trace on a FIFO never holds up or ends the program that writes it.

#include "serial/trace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("zlm-trace-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(m_dir));
    m_fifo = (m_dir / "fifo").string();
    ASSERT_EQ(::mkfifo(m_fifo.c_str(), 0600), 0);
  }
  void TearDown() override {
    if (m_reader >= 0) ::close(m_reader);
    fs::remove_all(m_dir);
  }

  // Everything the FIFO holds now.
  std::string Drain() {
    std::string all;
    char chunk[4096];
    for (ssize_t n; (n = ::read(m_reader, chunk, sizeof chunk)) > 0;) all.append(chunk, n);
    return all;
  }

  fs::path m_dir;
  std::string m_fifo;
  int m_reader = -1;
};

TEST_F(TraceFileTest, FifoWithoutReaderIsNotWaitedFor) {
  TraceFile trace(m_fifo, "test");
  EXPECT_FALSE(trace.IsOpen());
  EXPECT_NE(trace.Error().find("a FIFO without a reader"), std::string::npos) << trace.Error();
  trace.Line("nothing happens");
}

// A reader that stops reading: lines that do not fit are dropped and, once
// there is room again, counted in the trace.
TEST_F(TraceFileTest, StalledReaderLosesLinesAndIsToldHowMany) {
  m_reader = ::open(m_fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(m_reader, 0);
  TraceFile trace(m_fifo, "test");
  ASSERT_TRUE(trace.IsOpen()) << trace.Error();
  const std::string text(200, 'x');
  const int count = 2000;  // far more than a pipe holds
  for (int i = 0; i < count; ++i) trace.Line(text);
  const std::string first = Drain();
  trace.Line("after");
  const std::string all = first + Drain();
  // Every line either arrived or is counted as lost, and the count comes
  // before the line that follows.
  std::size_t arrived = 0;
  std::size_t lost = 0;
  std::istringstream lines(all);
  std::string last;
  for (std::string line; std::getline(lines, line); last = line) {
    if (line.ends_with(text)) ++arrived;
    if (const std::size_t at = line.find(" # "); at != std::string::npos) {
      lost += std::stoul(line.substr(at + 3));
      EXPECT_TRUE(line.ends_with(" trace lines lost")) << line;
    }
  }
  EXPECT_LT(arrived, static_cast<std::size_t>(count));
  EXPECT_EQ(arrived + lost, static_cast<std::size_t>(count));
  EXPECT_TRUE(last.ends_with(" after")) << last;
}

// A reader that goes away: no SIGPIPE ends the program, and none is left
// pending to be taken for a stop request.
TEST_F(TraceFileTest, ReaderThatGoesAwayEndsNothing) {
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "SIGPIPE blocked" : "SIGPIPE default");
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t before;
    pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &pipe, &before);
    m_reader = ::open(m_fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(m_reader, 0);
    {
      TraceFile trace(m_fifo, "test");
      ASSERT_TRUE(trace.IsOpen()) << trace.Error();
      ::close(m_reader);
      m_reader = -1;
      trace.Line("nobody reads this");
      trace.Line("nor this");
    }
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
}

}  // namespace
