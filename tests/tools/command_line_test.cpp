// The help layout every command-line program shares.

#include "tools/command_line/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// A program with the kinds of options whose checks CLI11 would describe in
// the help: a range, an existing file, a choice, options that exclude or need
// each other.
std::string HelpOf() {
  CLI::App app{"Does a thing.", "tool"};
  UseToolConventions(app, "tool --count 3\ntool --mode b");
  int count = 1;
  std::string file;
  std::string mode = "a";
  bool flag = false;
  CLI::Option* countOption =
      app.add_option("--count", count, "How many")->check(CLI::Range(1, 1 << 30))->type_name("N");
  app.add_option("--file", file, "Which file")
      ->check(CLI::ExistingFile)
      ->needs(countOption)
      ->type_name("FILE");
  app.add_option("--mode", mode, "Which mode")
      ->check(CLI::IsMember({"a", "b"}))
      ->capture_default_str()
      ->type_name("MODE");
  std::string where;
  app.add_option("--listen", where, "Where")
      ->check(CLI::NonNegativeNumber)
      ->type_name("[HOST:]PORT");
  app.add_flag("--flag", flag, "A flag")->excludes(countOption);
  return app.help();
}

TEST(CommandLine, HelpStartsWithUsageAndEndsWithExamples) {
  const std::string help = HelpOf();
  EXPECT_EQ(help.rfind("Usage: tool [OPTIONS]\n\nDoes a thing.\n", 0), 0u) << help;
  EXPECT_NE(help.find("\nExamples:\n  $ tool --count 3\n  $ tool --mode b\n"), std::string::npos)
      << help;
  EXPECT_GT(help.find("Examples:"), help.find("--flag"));
}

TEST(CommandLine, OptionsNameTheirValueOnce) {
  const std::string help = HelpOf();
  struct Case {
    const char* shown;
    bool present;
  };
  const Case cases[] = {
      {"--count N ", true},
      {"--file FILE ", true},
      {"--mode MODE (default a)", true},
      {"INT", false},
      {"FILE:FILE", false},
      {"FILE:", false},
      {"{a,b}", false},
      {"Excludes", false},
      {"Needs", false},
      {"1073741824", false},
      {"--listen [HOST:]PORT ", true},
      {"PORT:", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(help.find(c.shown) != std::string::npos, c.present) << c.shown << "\n" << help;
  }
}

TEST(CommandLine, VersionIsTheProjectVersion) {
  EXPECT_EQ(VersionText("tool"), std::string("tool ") + kToolVersion);
  EXPECT_NE(std::string(kToolVersion).find('.'), std::string::npos);
  CLI::App app{"Does a thing.", "tool"};
  UseToolConventions(app, "tool");
  const char* argv[] = {"tool", "--version"};
  try {
    app.parse(2, argv);
    ADD_FAILURE() << "--version went unnoticed";
  } catch (const CLI::ParseError& e) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(app.exit(e, out, err), 0);
    EXPECT_EQ(out.str(), std::string("tool ") + kToolVersion + "\n");
  }
}

}  // namespace
