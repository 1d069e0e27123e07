#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/subprocess.h"

// zlm-meter-sim started as a process. Its first line names the COM port it
// published and the pseudo-terminal behind it; error says why there is none.
struct SimulatorProcess {
  std::unique_ptr<Subprocess> process;
  std::string com;
  std::string device;
  std::string error;  // empty once the first line has come
};
SimulatorProcess StartSimulatorProcess(const std::string& program,
                                       const std::vector<std::string>& args, const EnvChanges& env);

// Fixed readings for the simulator, and how zlm-read prints them in JSON (the
// meter sends each with the most decimals eight digits allow).
extern const std::vector<std::string> kFixedValues;
extern const std::string kFixedJson;

// The bytes the simulator heard (its traffic log), with the ninth bit it
// recovered ("mark", "space", "none").
std::vector<std::pair<int, std::string>> HeardBytes(const std::filesystem::path& log);
