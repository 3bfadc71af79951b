// Downloads to a whole fleet of print servers: every target of a targets file in a process of
// its own, up to a number at once, each child's lines passed on behind its target, and a
// summary table at the end.
#pragma once

#include <vector>

#include "cli/Checksums.h"
#include "cli/Options.h"
#include "engine/Transport.h"

namespace vexil::cli {

// Returns the exit status: 0 when every target succeeded, else that of the first target in the
// file's order that did not. The download file's check, before any child starts, runs over the
// program's `transport` (it sends nothing).
int RunFleet(const Options& options, const std::vector<Target>& targets, Transport& transport,
             const ApprovedSums* approved = nullptr);

}  // namespace vexil::cli
