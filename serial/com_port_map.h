#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/com_name.h"

// Where the program looks for serial devices. Every path the COM number
// mapping and the port locks read is taken from here, so tests can point
// them at a scratch directory.
struct PortRoots {
  std::string portDir;  // per-user overrides: symlinks named COM1..COM255
  std::string devDir;   // device nodes: ttyS*, ttyUSB*, ttyACM*, ttyAMA*
  std::string sysDir;   // sysfs, to tell a real ttyS UART from a placeholder
  std::string lockDir;  // UUCP lock files; empty: no lock files are used
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/zlm-reader/ports, /dev, /sys, and the
// first of /run/lock, /var/lock that is a directory. An absolute directory in
// ZLM_SYSTEM_ROOT stands in for / in the last three, so a test can run the
// programs against devices it made without reaching the machine's own.
PortRoots DefaultPortRoots();

struct ComPortEntry {
  int number = 0;
  std::string path;    // what an open of COMn opens (an override: the link itself,
                       // or the network address its file holds)
  std::string target;  // what it names: the link's target, or the device node
  bool overridden = false;

  friend bool operator==(const ComPortEntry&, const ComPortEntry&) = default;
};

// Resolves COM numbers to Linux devices:
//  1. an override: a symlink named COMn in the port directory, whatever it
//     points at (it keeps its number even while its target is missing), or a
//     file named COMn whose first line is a network serial server's address
//     "rfc2217://HOST:PORT" (opening COMn then connects there);
//  2. otherwise the serial devices of the device directory in the order
//     ttyS*, ttyUSB*, ttyACM*, ttyAMA* (each numerically; ttyS nodes whose
//     sysfs "type" reads 0, i.e. no UART behind them, left out) take the
//     lowest numbers from COM1 up that no override uses.
// The table is built once and rebuilt only after an entry of the port or
// device directory was created, removed or renamed (watched with inotify),
// so a scan of all 255 numbers costs one table build and a few syscalls.
// Not thread-safe: one map per thread.
class ComPortMap {
 public:
  explicit ComPortMap(PortRoots roots);
  ~ComPortMap();
  ComPortMap(const ComPortMap&) = delete;
  ComPortMap& operator=(const ComPortMap&) = delete;

  // The path to open for COMn; nothing for 0, numbers above 255 and numbers
  // no device has.
  std::optional<std::string> Resolve(int number);
  // The whole current mapping, by number.
  std::vector<ComPortEntry> List();

  const PortRoots& Roots() const { return m_roots; }

 private:
  void Refresh();
  bool DirectoriesChanged();
  void WatchDirectories();
  void Rebuild();

  PortRoots m_roots;
  int m_inotifyFd = -1;
  int m_portDirWatch = -1;
  int m_devDirWatch = -1;
  bool m_built = false;
  std::array<std::optional<ComPortEntry>, kMaxComPort + 1> m_table;
};
