#pragma once

#include <memory>
#include <string>
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
