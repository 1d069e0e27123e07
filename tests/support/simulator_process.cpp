#include "tests/support/simulator_process.h"

#include <fstream>
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

const std::vector<std::string> kFixedValues = {
    "--fixed", "--volume-m3",        "1234.5678", "--volume-l",  "98765432",  "--hours",
    "8760.25", "--flow-m3h",         "12.5",      "--flow-lmin", "208.33333", "--flow-percent",
    "17.68",   "--nominal-diameter", "50"};
const std::string kFixedJson =
    "\"volume_m3\":1234.5678,\"volume_l\":98765432.0,\"hours\":8760.25,\"flow_m3h\":12.5,"
    "\"flow_lmin\":208.33333,\"flow_percent\":17.68,\"nominal_diameter\":50.0}";

std::vector<std::pair<int, std::string>> HeardBytes(const std::filesystem::path& log) {
  std::vector<std::pair<int, std::string>> heard;
  std::ifstream in(log);
  std::string time, direction, hex, bit;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    if (words >> time >> direction >> hex >> bit && direction == "rx") {
      heard.emplace_back(std::stoi(hex, nullptr, 16), bit);
    }
  }
  return heard;
}
