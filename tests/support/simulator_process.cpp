#include "tests/support/simulator_process.h"

#include <sstream>

SimulatorProcess StartSimulatorProcess(const std::string& program,
                                       const std::vector<std::string>& args,
                                       const EnvChanges& env) {
  SimulatorProcess simulator;
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  simulator.process = std::make_unique<Subprocess>(argv, env);
  if (!simulator.process->Started()) {
    simulator.error = "not started: " + program;
    return simulator;
  }
  const std::optional<std::string> first = simulator.process->ReadLine(kProcessLimit);
  if (!first) {
    simulator.error = "no first line: " + simulator.process->Err();
    return simulator;
  }
  std::istringstream words(*first);
  words >> simulator.com >> simulator.device;
  if (simulator.com.rfind("COM", 0) != 0) simulator.error = "first line: " + *first;
  return simulator;
}
