#include "serial/com_port_map.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <tuple>

#include "serial/network_address.h"

namespace {

// Serial device families in the order they take automatic numbers.
constexpr std::array<std::string_view, 4> kDeviceFamilies = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"};

// IN_CLOSE_WRITE: a network address file written in place.
constexpr uint32_t kWatchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                    IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of at most six decimal digits and nothing else.
std::optional<int> ParseDigits(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// "COMn" as an override link name: exact spelling, 1..255, no leading zeros.
std::optional<int> ParseOverrideName(std::string_view name) {
  if (!name.starts_with("COM")) return std::nullopt;
  const std::optional<int> n = ParseComName(name);
  if (!n || *n < 1) return std::nullopt;
  return n;
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// d_type is not filled in by every file system; fall back to lstat then.
bool EntryIs(const std::string& dir, const dirent& entry, unsigned char type, mode_t mode) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == type;
  struct stat st {};
  const std::string path = JoinPath(dir, entry.d_name);
  return ::lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == mode;
}

// The 8250 driver registers ttyS nodes for as many ports as it is configured
// for, present or not; the ones without a UART report port type 0
// (PORT_UNKNOWN) in sysfs and fail to open. Other serial_core drivers only
// register ports they found. Without a readable "type" (no sysfs, or a
// driver without the attribute) the node is kept: missing evidence is not a
// reason to hide a port.
bool IsPlaceholderUart(const std::string& sysDir, std::string_view name) {
  const std::string path = JoinPath(JoinPath(JoinPath(sysDir, "class"), "tty"), name) + "/type";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[16] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return false;
  std::string_view value(text, static_cast<size_t>(n));
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.remove_suffix(1);
  return value == "0";
}

struct DeviceNode {
  size_t family;
  int index;
  std::string name;
};

std::vector<DeviceNode> SerialDeviceNodes(const PortRoots& roots) {
  std::vector<DeviceNode> nodes;
  DIR* dir = roots.devDir.empty() ? nullptr : ::opendir(roots.devDir.c_str());
  if (dir == nullptr) return nodes;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    for (size_t f = 0; f < kDeviceFamilies.size(); ++f) {
      if (!name.starts_with(kDeviceFamilies[f])) continue;
      const std::optional<int> index = ParseDigits(name.substr(kDeviceFamilies[f].size()));
      if (!index || EntryIs(roots.devDir, *entry, DT_DIR, S_IFDIR)) break;
      if (f == 0 && IsPlaceholderUart(roots.sysDir, name)) break;
      nodes.push_back({f, *index, std::string(name)});
      break;
    }
  }
  ::closedir(dir);
  std::sort(nodes.begin(), nodes.end(), [](const DeviceNode& a, const DeviceNode& b) {
    return std::tie(a.family, a.index) < std::tie(b.family, b.index);
  });
  return nodes;
}

std::string ReadLink(const std::string& path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

// The network address an override file holds: its first line, without
// surrounding white space, when that is an RFC 2217 address. Any other file
// is no override.
std::optional<std::string> NetworkAddressIn(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  char text[512];
  const ssize_t n = ::read(fd, text, sizeof text);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  std::string_view line(text, static_cast<size_t>(n));
  line = line.substr(0, line.find('\n'));
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!line.empty() && space(line.front())) line.remove_prefix(1);
  while (!line.empty() && space(line.back())) line.remove_suffix(1);
  if (!IsRfc2217Url(std::string(line))) return std::nullopt;
  return std::string(line);
}

}  // namespace

PortRoots DefaultPortRoots() {
  PortRoots roots;
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else {
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] != '\0') {
      home = env;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
      home = pw->pw_dir;
    }
    if (!home.empty()) config = JoinPath(home, ".config");
  }
  if (!config.empty()) roots.portDir = JoinPath(config, "zlm-reader/ports");
  std::string system;
  if (const char* root = std::getenv("ZLM_SYSTEM_ROOT"); root != nullptr && root[0] == '/') {
    system = root;
  }
  roots.devDir = system + "/dev";
  roots.sysDir = system + "/sys";
  for (const char* dir : {"/run/lock", "/var/lock"}) {
    if (IsDirectory(system + dir)) {
      roots.lockDir = system + dir;
      break;
    }
  }
  return roots;
}

ComPortMap::ComPortMap(PortRoots roots) : m_roots(std::move(roots)) {
  m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

ComPortMap::~ComPortMap() {
  if (m_inotifyFd >= 0) ::close(m_inotifyFd);
}

std::optional<std::string> ComPortMap::Resolve(int number) {
  if (number < 1 || number > kMaxComPort) return std::nullopt;
  Refresh();
  if (!m_table[number]) return std::nullopt;
  return m_table[number]->path;
}

std::vector<ComPortEntry> ComPortMap::List() {
  Refresh();
  std::vector<ComPortEntry> entries;
  for (const std::optional<ComPortEntry>& entry : m_table) {
    if (entry) entries.push_back(*entry);
  }
  return entries;
}

void ComPortMap::Refresh() {
  if (m_built && !DirectoriesChanged()) return;
  WatchDirectories();
  Rebuild();
  m_built = true;
}

// Drains the queued directory events; any event means the table may be
// stale. A directory that was missing at the last build is looked for again.
bool ComPortMap::DirectoriesChanged() {
  if (m_inotifyFd < 0) return true;
  bool changed = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(m_inotifyFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    changed = true;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      // A watched directory that was moved keeps its watch on the old inode;
      // drop it so the path is watched afresh.
      if (event->mask & IN_MOVE_SELF) ::inotify_rm_watch(m_inotifyFd, event->wd);
      if (event->mask & (IN_IGNORED | IN_MOVE_SELF)) {
        if (event->wd == m_portDirWatch) m_portDirWatch = -1;
        if (event->wd == m_devDirWatch) m_devDirWatch = -1;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (m_portDirWatch < 0 && IsDirectory(m_roots.portDir)) changed = true;
  if (m_devDirWatch < 0 && IsDirectory(m_roots.devDir)) changed = true;
  return changed;
}

// Watches are set before the directories are read, so a change that races
// with the build still leaves an event for the next lookup.
void ComPortMap::WatchDirectories() {
  if (m_inotifyFd < 0) return;
  const auto watch = [this](const std::string& dir, int& wd) {
    if (wd < 0 && !dir.empty()) wd = ::inotify_add_watch(m_inotifyFd, dir.c_str(), kWatchedEvents);
  };
  watch(m_roots.portDir, m_portDirWatch);
  watch(m_roots.devDir, m_devDirWatch);
}

void ComPortMap::Rebuild() {
  m_table.fill(std::nullopt);

  if (DIR* dir = m_roots.portDir.empty() ? nullptr : ::opendir(m_roots.portDir.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::optional<int> n = ParseOverrideName(entry->d_name);
      if (!n) continue;
      const std::string link = JoinPath(m_roots.portDir, entry->d_name);
      if (EntryIs(m_roots.portDir, *entry, DT_LNK, S_IFLNK)) {
        m_table[*n] = ComPortEntry{*n, link, ReadLink(link), true};
      } else if (EntryIs(m_roots.portDir, *entry, DT_REG, S_IFREG)) {
        if (const std::optional<std::string> address = NetworkAddressIn(link)) {
          m_table[*n] = ComPortEntry{*n, *address, *address, true};
        }
      }
    }
    ::closedir(dir);
  }

  int next = 1;
  for (const DeviceNode& node : SerialDeviceNodes(m_roots)) {
    while (next <= kMaxComPort && m_table[next]) ++next;
    if (next > kMaxComPort) break;
    const std::string path = JoinPath(m_roots.devDir, node.name);
    m_table[next] = ComPortEntry{next, path, path, false};
  }
}
