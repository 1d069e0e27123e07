#pragma once

#include <CLI/CLI.hpp>
#include <string>

// What every command-line program of the project shares: `Usage:` first in
// --help, then the description, the options with plain value names, and the
// examples; and --version with the project's version.

// The version the programs print, from the project's version in CMake.
extern const char kToolVersion[];

// What --version prints for the program called name: "NAME VERSION".
std::string VersionText(const std::string& name);

// Gives app the help layout and --version. examples are command lines, one a
// line, shown under "Examples:" at the end of --help after a "$ " prompt
// (which also keeps them one a line in the manual page).
void UseToolConventions(CLI::App& app, const std::string& examples);
