// Runs the zlm-reader program as a process. Its window cannot be clicked
// from here, so it is ended the way a desktop session or `kill` ends it:
// SIGTERM, which the program turns into its window's close command. A
// normal exit with code 0 then shows that the end of the window ended the
// process; death by the signal would not.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/subprocess.h"

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kGiveUp{60};

struct Outcome {
  bool exited = false;  // false: ended by a signal
  int code = -1;        // exit code or signal number
  std::string out;
  std::string err;
};

// Whether the process has a handler of its own installed for signal.
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (signal - 1)) & 1;
    }
  }
  return false;
}

class ZlmReaderProcessTest : public ::testing::Test {
 public:
  void SetUp() override {
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    // An empty system root: the program's start-up scan finds no device.
    for (const char* system : {"system/dev", "system/sys", "system/run/lock"}) {
      fs::create_directories(dir / system);
    }
  }

  // The display variables changed, with scratch runtime and configuration
  // directories.
  EnvChanges Environment(const EnvChanges& changes) const {
    EnvChanges all = {
        {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
        {"XDG_CONFIG_HOME", (dir / "config").string()},
        {"ZLM_SYSTEM_ROOT", (dir / "system").string()},
    };
    for (const auto& [name, value] : changes) all[name] = value;
    return all;
  }

  // Starts the program with argv; once it is up (its close handler is
  // installed) sends SIGTERM when terminate is set; waits for its end.
  Outcome Run(const std::vector<std::string>& argv, const EnvChanges& env, bool terminate) {
    Subprocess process(argv, env, ZLM_READER_PATH);
    Outcome outcome;
    if (!process.Started()) {
      ADD_FAILURE() << "cannot start " << ZLM_READER_PATH;
      return outcome;
    }
    if (terminate) {
      // A safety net against a hung program, not a speed requirement.
      const auto giveUp = std::chrono::steady_clock::now() + kGiveUp;
      bool ended = false;
      while (!(ended = !process.Running()) && !Catches(process.Pid(), SIGTERM)) {
        if (std::chrono::steady_clock::now() > giveUp) {
          process.Signal(SIGKILL);
          ADD_FAILURE() << "the program never got ready";
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_FALSE(ended) << "the program ended before it was asked to";
      if (!ended) process.Signal(SIGTERM);
    }
    const int code = process.Wait(kGiveUp);
    outcome.exited = process.Exited();
    outcome.code = outcome.exited ? code : process.TermSignal();
    outcome.out = process.Out();
    outcome.err = process.Err();
    return outcome;
  }

  ScratchDir dir{"zlm-reader-test"};
};

TEST_F(ZlmReaderProcessTest, ArgumentsAreAcceptedAndIgnored) {
  const auto env = Environment({{"QT_QPA_PLATFORM", "offscreen"}});
  const Outcome plain = Run({"zlm-reader"}, env, true);
  ASSERT_TRUE(plain.exited) << "signal " << plain.code;
  EXPECT_EQ(plain.code, 0);
  EXPECT_EQ(plain.out, "");

  const std::vector<std::vector<std::string>> argvs = {
      {"zlm-reader", "-platform", "minimal", "--foo", "-geometry", "1x1"},
      {"zlm-reader", "--help"},
      {"zlm-reader", "-h", "--help-all", "-v", "--version"},
      {"zlm-reader", "-style", "no-such-style", "-reverse"},
      {"zlm-reader", "-qwindowtitle", "Other", "-qwindowicon", "/nonexistent.png"},
      {"zlm-reader", "-session", "s", "-stylesheet", "/nonexistent.qss", "-widgetcount"},
      {"zlm-reader", "-display", ":99", "-platformpluginpath", "/nonexistent", "-nograb"},
      {"zlm-reader", "COM1", "", "--", "-", "\\\\.\\COM3"},
      {"zlm-reader", std::string(100000, 'x')},
      {""},
      {"/some/other/name"},
  };
  for (const auto& argv : argvs) {
    SCOPED_TRACE(argv.size() > 1 ? argv[1].substr(0, 20) : "argv[0] " + argv[0]);
    const Outcome outcome = Run(argv, env, true);
    EXPECT_TRUE(outcome.exited) << "signal " << outcome.code;
    EXPECT_EQ(outcome.code, plain.code);
    EXPECT_EQ(outcome.out, plain.out);
    EXPECT_EQ(outcome.err, plain.err);
  }
}

TEST_F(ZlmReaderProcessTest, WithoutAUsableDisplayItFailsWithOneLine) {
  using Changes = EnvChanges;
  struct Case {
    const char* name;
    Changes env;
  };
  // A display number without a server behind it.
  int unused = 90;
  while (fs::exists("/tmp/.X11-unix/X" + std::to_string(unused))) ++unused;
  const std::string noServer = ":" + std::to_string(unused);
  const Changes none = {{"DISPLAY", std::nullopt},
                        {"WAYLAND_DISPLAY", std::nullopt},
                        {"QT_QPA_PLATFORM", std::nullopt}};
  Changes deadDisplay = none;
  deadDisplay["DISPLAY"] = noServer;
  Changes unknownPlatform = none;
  unknownPlatform["QT_QPA_PLATFORM"] = "no-such-platform";
  const Case cases[] = {
      {"no display at all", none},
      {"display without a server", deadDisplay},
      {"unknown platform", unknownPlatform},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A platform named on the command line must not rescue it either.
    const Outcome outcome =
        Run({"zlm-reader", "-platform", "offscreen"}, Environment(c.env), false);
    EXPECT_TRUE(outcome.exited) << "signal " << outcome.code;
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.rfind("zlm-reader: cannot open a window: ", 0), 0u) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  }
}

}  // namespace
