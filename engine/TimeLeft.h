// How long a job of many like parts has left, as its progress shows it: the time the parts done
// so far took on average, times the parts still to do. Simple on purpose: the parts of a fleet
// or a scan run side by side at a steady rate, and an estimate that moves with it is read more
// easily than one that smooths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vexil {

// Milliseconds left after `done` of `total` parts took `elapsedMs`: none before the first part
// is done (there is nothing to go by yet), 0 once all are.
inline std::optional<std::int64_t> TimeLeftMs(std::int64_t elapsedMs, std::size_t done,
                                              std::size_t total) {
    if (done == 0) {
        return std::nullopt;
    }
    if (done >= total) {
        return 0;
    }
    const auto left = static_cast<double>(elapsedMs) / static_cast<double>(done) *
                      static_cast<double>(total - done);
    return static_cast<std::int64_t>(left + 0.5);
}

}  // namespace vexil
