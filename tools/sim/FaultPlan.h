// The faults still to play in this run of the simulator, counted down as requests and blocks
// come in; the options they come from stay as given.
#pragma once

#include <map>

#include "tools/sim/SimOptions.h"

namespace vexil::sim {

enum class Fault { kIgnoreModeSwitch, kRefuseModeSwitch, kRefuseConnection, kFailErase };
enum class BlockFault { kRefuse, kDrop, kLate, kNak };

class FaultPlan {
  public:
    explicit FaultPlan(const Options& options);
    // Whether the fault applies to this request (or to this send of data block `block`); each
    // answer of true uses up one of its count.
    bool Take(Fault fault);
    bool Take(BlockFault fault, int block);

  private:
    int left_[4];
    std::map<int, int> blocks_[4];
};

}  // namespace vexil::sim
