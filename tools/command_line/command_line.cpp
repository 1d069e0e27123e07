#include "tools/command_line/command_line.h"

#include <memory>
#include <sstream>

const char kToolVersion[] = ZLM_VERSION;

namespace {

// CLI11's layout, reordered so the synopsis comes first, with each option's
// value named once: CLI11 would append each check's own description
// ("INT:INT in [1 - 10]", "FILE:FILE") and the options it needs or excludes,
// which the option's help already says in words.
class ToolFormatter final : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    std::ostringstream out;
    out << make_usage(app, name) << '\n'
        << make_description(app) << make_groups(app, mode) << '\n'
        << make_footer(app);
    return out.str();
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_type_size() == 0) return {};
    // CLI11 appends each check's description after a colon ("FILE:FILE");
    // a colon of the value's own name is in brackets ("[HOST:]PORT").
    const std::string type = option->get_type_name();
    std::size_t end = 0;
    for (int depth = 0; end < type.size() && (depth > 0 || type[end] != ':'); ++end) {
      if (type[end] == '[') ++depth;
      if (type[end] == ']' && depth > 0) --depth;
    }
    std::string out = " " + type.substr(0, end);
    std::string byDefault = option->get_default_str();
    // A list's default comes as "[1]".
    if (byDefault.size() >= 2 && byDefault.front() == '[' && byDefault.back() == ']') {
      byDefault = byDefault.substr(1, byDefault.size() - 2);
    }
    if (!byDefault.empty()) out += " (default " + byDefault + ")";
    if (option->get_required()) out += " (required)";
    return out;
  }
};

}  // namespace

std::string VersionText(const std::string& name) { return name + " " + kToolVersion; }

void UseToolConventions(CLI::App& app, const std::string& examples) {
  app.formatter(std::make_shared<ToolFormatter>());
  app.set_version_flag("--version", VersionText(app.get_name()), "Print the version and exit");
  app.set_help_flag("-h,--help", "Print this help and exit");
  std::string footer = "Examples:\n";
  std::istringstream lines(examples);
  for (std::string line; std::getline(lines, line);) footer += "  $ " + line + "\n";
  app.footer(footer);
}
