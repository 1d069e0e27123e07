// Runs the zlm-reader program as a process. Its window cannot be clicked
// from here, so it is ended the way a desktop session or `kill` ends it:
// SIGTERM, which the program turns into its window's close command. A
// normal exit with code 0 then shows that the end of the window ended the
// process; death by the signal would not.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  bool exited = false;  // false: ended by a signal
  int code = -1;        // exit code or signal number
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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
    char pattern[] = "/tmp/zlm-reader-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    // An empty system root: the program's start-up scan finds no device.
    for (const char* system : {"system/dev", "system/sys", "system/run/lock"}) {
      fs::create_directories(dir / system);
    }
  }
  void TearDown() override { fs::remove_all(dir); }

  // The test's environment with the display variables replaced: a value of
  // nullopt removes the variable.
  std::vector<std::string> Environment(
      const std::map<std::string, std::optional<std::string>>& changes) const {
    std::map<std::string, std::optional<std::string>> all = {
        {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
        {"XDG_CONFIG_HOME", (dir / "config").string()},
        {"ZLM_SYSTEM_ROOT", (dir / "system").string()},
    };
    for (const auto& [name, value] : changes) all[name] = value;
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
      const std::string text = *entry;
      if (!all.count(text.substr(0, text.find('=')))) env.push_back(text);
    }
    for (const auto& [name, value] : all) {
      if (value) env.push_back(name + "=" + *value);
    }
    return env;
  }

  // Starts the program with argv; once it is up (its close handler is
  // installed) sends SIGTERM when terminate is set; waits for its end.
  Outcome Run(std::vector<std::string> argv, const std::vector<std::string>& env, bool terminate) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    std::vector<std::string> envCopy = env;
    std::vector<char*> envp;
    for (std::string& entry : envCopy) envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, ZLM_READER_PATH, &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << ZLM_READER_PATH;
      return outcome;
    }

    int status = 0;
    bool ended = false;
    if (terminate) {
      // A safety net against a hung program, not a speed requirement.
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && !Catches(pid, SIGTERM)) {
        if (std::chrono::steady_clock::now() > giveUp) {
          kill(pid, SIGKILL);
          ADD_FAILURE() << "the program never got ready";
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_FALSE(ended) << "the program ended before it was asked to";
      if (!ended) kill(pid, SIGTERM);
    }
    if (!ended) waitpid(pid, &status, 0);
    outcome.exited = WIFEXITED(status);
    outcome.code = outcome.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    outcome.out = ReadFile(dir / "out");
    outcome.err = ReadFile(dir / "err");
    return outcome;
  }

  fs::path dir;
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
  using Changes = std::map<std::string, std::optional<std::string>>;
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
