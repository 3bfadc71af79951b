#include "tools/sim/FaultPlan.h"

namespace vexil::sim {

namespace {

bool TakeOne(int& left) {
    if (left > 0) {
        --left;
        return true;
    }
    return false;
}

}  // namespace

FaultPlan::FaultPlan(const Options& options)
    : left_{options.ignoreModeSwitch, options.refuseModeSwitch, options.refuseConnections,
            options.failErase},
      blocks_{options.refuseBlock, options.dropBlock, options.lateBlock, options.nakBlock} {}

bool FaultPlan::Take(Fault fault) {
    return TakeOne(left_[static_cast<int>(fault)]);
}

bool FaultPlan::Take(BlockFault fault, int block) {
    auto& counts = blocks_[static_cast<int>(fault)];
    const auto found = counts.find(block);
    return found != counts.end() && TakeOne(found->second);
}

}  // namespace vexil::sim
