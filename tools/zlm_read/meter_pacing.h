#pragma once

#include <map>
#include <string>
#include <vector>

// How often each meter on a line is asked, so that one that fails does not
// hold up the others. A meter is asked every pass while it answers; after
// failuresBeforeSlowing failures in a row, every 2nd pass, and after each
// further failure half as often, down to every kSlowestEvery-th pass. It is
// asked every pass again as soon as it answers. Within a pass the answering
// meters go first, so a failing meter's time-out does not shift their
// readings.
class MeterPacing {
 public:
  static constexpr int kSlowestEvery = 16;

  // failuresBeforeSlowing 0: every meter is asked every pass, whatever it does.
  MeterPacing(const std::vector<int>& addresses, int failuresBeforeSlowing);

  // The meters to ask in pass (0, 1, ...), in the order to ask them.
  std::vector<int> Pass(long pass) const;

  // The outcome of asking a meter in pass. One line for a person when its
  // pace changed ("address 4 failed 3 times in a row: asked every 2nd
  // cycle until it answers"), else empty.
  std::string Answered(int address, long pass);
  std::string Failed(int address, long pass);

  // Every how many passes the meter is asked now (1: every pass).
  int Every(int address) const { return m_meters.at(address).every; }

 private:
  struct Meter {
    int failures = 0;  // in a row
    int every = 1;
    long nextPass = 0;
  };

  std::vector<int> m_order;
  std::map<int, Meter> m_meters;
  int m_failuresBeforeSlowing;
};
