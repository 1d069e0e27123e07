// zlm-bench: how fast the reader really is, over the pty simulator served
// from a thread of this process. Prints each figure beside its reference
// and the ratio:
//   - a reading cycle (seven exchanges) against its 434 ms of fixed waits,
//     and the same waits slept alone, interleaved with the cycles;
//   - a scan of COM1..COM255 with ScanFreePorts over the Linux serial line;
//   - start of the main window offscreen (when built with the window);
//   - peak resident memory of the process.
//
//   zlm-bench [--cycles N] [--scans N]

#include <stdlib.h>
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench/simulator_thread.h"
#include "meter/read_exchange.h"
#include "meter/reading_cycle.h"
#include "serial/linux_serial_port.h"
#include "serial/port_discovery.h"

#ifdef ZLM_BENCH_WINDOW
#include <QApplication>

#include "bench/window_start.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kFixedWaitsMs = static_cast<double>(kParameters.size() * kExchangeWaitMs);
constexpr double kCycleGoal = 1.02;
constexpr double kScanGoalMs = 20.0;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintRow(const char* what, double ms, double referenceMs, const char* reference) {
  std::printf("  %-34s %9.3f ms   / %7.3f ms %-22s = %6.4f\n", what, ms, referenceMs, reference,
              ms / referenceMs);
}

// False when an exchange failed: the figures would mean nothing.
bool BenchCycle(LinuxSerialPort& line, HANDLE h, int cycles) {
  std::vector<double> cycleMs;
  std::vector<double> waitsMs;
  for (int i = 0; i < cycles; ++i) {
    Clock::time_point start = Clock::now();
    const CycleResult result = ReadAllParameters(line, h, 1);
    if (result.error) {
      std::printf("  exchange of code %d failed: %s\n", result.failedCode, result.error);
      return false;
    }
    cycleMs.push_back(MsSince(start));

    start = Clock::now();
    for (size_t p = 0; p < kParameters.size(); ++p) {
      for (const DWORD ms : kExchangeWaitsMs) line.Sleep(ms);
    }
    waitsMs.push_back(MsSince(start));
  }
  std::printf("Reading cycle, median of %d (min %.3f, max %.3f ms):\n", cycles,
              *std::min_element(cycleMs.begin(), cycleMs.end()),
              *std::max_element(cycleMs.begin(), cycleMs.end()));
  const double cycle = Median(cycleMs);
  const double waits = Median(waitsMs);
  PrintRow("seven exchanges", cycle, kFixedWaitsMs, "fixed waits");
  PrintRow("the fixed waits slept alone", waits, kFixedWaitsMs, "fixed waits");
  PrintRow("seven exchanges", cycle, waits, "waits slept alone");
  std::printf("  goal: seven exchanges / fixed waits <= %.2f: %s\n", kCycleGoal,
              cycle / kFixedWaitsMs <= kCycleGoal ? "met" : "NOT met");
  return true;
}

void BenchScan(const PortRoots& roots, int scans, int simulatorCom) {
  Clock::time_point start = Clock::now();
  LinuxSerialPort line(roots);
  const std::vector<int> firstFound = ScanFreePorts(line);
  const double coldMs = MsSince(start);

  std::vector<double> warmMs;
  for (int i = 0; i < scans; ++i) {
    start = Clock::now();
    ScanFreePorts(line);
    warmMs.push_back(MsSince(start));
  }
  std::string found;
  for (const int n : firstFound) found += " COM" + std::to_string(n);
  std::printf("Port scan of COM1..COM255 (found:%s; simulator on COM%d):\n", found.c_str(),
              simulatorCom);
  PrintRow("first scan (mapping built)", coldMs, kScanGoalMs, "goal");
  PrintRow("later scans, median", Median(warmMs), kScanGoalMs, "goal");
  std::printf("  goal: a scan <= %.0f ms: %s\n", kScanGoalMs,
              std::max(coldMs, Median(warmMs)) <= kScanGoalMs ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  int cycles = 10;
  int scans = 20;
  CLI::App app{
      "Measures the reading cycle, the port scan and the window start over the pty "
      "simulator, and prints each against its reference.",
      "zlm-bench"};
  app.add_option("--cycles", cycles, "Reading cycles to time")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_option("--scans", scans, "Port scans to time")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  // A scratch port directory: the simulator's link and nothing else, so the
  // user's own overrides are neither used nor disturbed.
  std::string scratch = (std::filesystem::temp_directory_path() / "zlm-bench-XXXXXX").string();
  if (::mkdtemp(scratch.data()) == nullptr) {
    std::fprintf(stderr, "zlm-bench: cannot make a scratch directory\n");
    return 1;
  }
  // Empty device, sysfs and lock directories too: the scan then maps and
  // tries every COM number as usual, but the only device it can open is the
  // simulator's, never one of this machine's own serial ports.
  PortRoots roots = DefaultPortRoots();
  roots.portDir = scratch + "/ports";
  roots.devDir = scratch + "/dev";
  roots.sysDir = scratch + "/sys";
  roots.lockDir = scratch + "/lock";
  for (const std::string& dir : {roots.devDir, roots.sysDir, roots.lockDir}) {
    std::filesystem::create_directory(dir);
  }

  int status = 0;
  {
    SimulatorThread simulator(roots.portDir);
    if (simulator.ComNumber() == 0) {
      std::fprintf(stderr, "zlm-bench: cannot start the pty simulator\n");
      status = 1;
    } else {
      std::printf("Simulator: COM%d -> %s, meter at address 1\n", simulator.ComNumber(),
                  simulator.Device().c_str());
      LinuxSerialPort line(roots);
      const HANDLE h = line.CreateFile(ComDevicePath(simulator.ComNumber()));
      if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "zlm-bench: cannot open COM%d\n", simulator.ComNumber());
        status = 1;
      } else {
        ApplyBaseline(line, h);
        if (!BenchCycle(line, h, cycles)) status = 1;
        line.CloseHandle(h);
      }
      BenchScan(roots, scans, simulator.ComNumber());

#ifdef ZLM_BENCH_WINDOW
      // Offscreen unless told otherwise, so no display is needed.
      ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
      const Clock::time_point qtStart = Clock::now();
      QApplication qtApp(argc, argv);
      const double qtMs = MsSince(qtStart);
      const WindowStart first = MeasureWindowStart(roots);
      std::vector<double> createMs;
      std::vector<double> paintMs;
      for (int i = 0; i < 5; ++i) {
        const WindowStart again = MeasureWindowStart(roots);
        createMs.push_back(again.createMs);
        paintMs.push_back(again.firstPaintMs);
      }
      std::printf("Main window start, offscreen (%s):\n", qPrintable(qtApp.platformName()));
      std::printf("  application object: %.3f ms\n", qtMs);
      std::printf("  first window: Create() %.3f ms, first paint %.3f ms\n", first.createMs,
                  first.firstPaintMs);
      std::printf("  later windows, median of 5: Create() %.3f ms, first paint %.3f ms\n",
                  Median(createMs), Median(paintMs));
#else
      std::printf("Main window start: not measured (built without the window)\n");
#endif
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);

  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("Peak resident memory: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  return status;
}
