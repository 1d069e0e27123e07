#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// What one walk of /proc shows about who uses which terminal:
//  - the controlling terminal of every process (/proc/<pid>/stat, readable
//    for every process);
//  - the character devices other processes hold open (/proc/<pid>/fd, for
//    the processes this user may look into; every process as root), and the
//    pseudo-terminal masters among them (/proc/<pid>/fdinfo: tty-index).
// A port scan takes one walk for all its ports.
class TerminalUsers {
 public:
  // Walks procDir once. The descriptors of self are left out: this
  // process's own opens are judged by the device's flock.
  static TerminalUsers Walk(const std::string& procDir, pid_t self);

  // Whether dev is the controlling terminal of some session: someone's
  // shell or login, never a line to a meter.
  bool IsControllingTerminal(dev_t dev) const;

  // A process (other than self) that holds dev open, or 0 when none is
  // seen. The process serving the other end of a pseudo-terminal (it holds
  // the master as well) is the line's peer, not a competing user.
  pid_t OtherHolder(dev_t dev) const;

 private:
  struct Held {
    dev_t device;
    pid_t pid;
  };

  void ReadControllingTerminal(int procFd, const std::string& pid);
  void ReadDescriptors(int procFd, const std::string& pid, pid_t pidNumber);
  void ReadDescriptor(int procFd, int fdDir, const std::string& pid, const char* fd,
                      pid_t pidNumber);

  std::vector<dev_t> m_controlling;
  std::vector<Held> m_held;
  std::vector<std::pair<pid_t, unsigned int>> m_ptyMasters;  // pid, pty index
};
