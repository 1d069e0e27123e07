#include "serial/open_cause.h"

#include <grp.h>
#include <pwd.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

LineCause PermissionCause(const std::string& device, const struct stat& st) {
  LineCause cause{.kind = CauseKind::kPermission, .device = device};
  cause.groupMayUse = (st.st_mode & S_IRGRP) != 0 && (st.st_mode & S_IWGRP) != 0;
  if (const group* g = ::getgrgid(st.st_gid)) cause.group = g->gr_name;
  const passwd* user = ::getpwuid(::geteuid());
  if (user == nullptr) return cause;
  cause.user = user->pw_name;
  // The groups the account database gives the user, which a new login gets:
  // a user added to the group since logging in is listed there but lacks it
  // in this session.
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    ::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count);
  }
  groups.resize(static_cast<size_t>(std::max(count, 0)));
  cause.inGroup = std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
  return cause;
}

LineCause BusyCause(const std::string& device, pid_t pid, const std::string& procDir) {
  LineCause cause{.kind = CauseKind::kBusy, .device = device, .pid = pid};
  if (pid > 0) {
    std::ifstream comm(procDir + "/" + std::to_string(pid) + "/comm");
    std::getline(comm, cause.program);
  }
  return cause;
}

// Lines of procDir/locks: "1: FLOCK  ADVISORY  WRITE 4711 00:05:1234 0 EOF",
// the file named by its file system's major:minor and its inode.
pid_t FlockHolder(const struct stat& st, const std::string& procDir) {
  std::ifstream locks(procDir + "/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string number, type, advisory, mode, file;
    long pid = 0;
    if (!(words >> number >> type >> advisory >> mode >> pid >> file) || type != "FLOCK") {
      continue;
    }
    unsigned int maj = 0, min = 0;
    unsigned long long inode = 0;
    if (std::sscanf(file.c_str(), "%x:%x:%llu", &maj, &min, &inode) != 3) continue;
    if (maj == major(st.st_dev) && min == minor(st.st_dev) && inode == st.st_ino &&
        pid != ::getpid()) {
      return static_cast<pid_t>(pid);
    }
  }
  return 0;
}
