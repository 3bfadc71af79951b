#include "cli/Outcomes.h"

#include <algorithm>
#include <iterator>

namespace vexil::cli {

namespace {

constexpr std::string_view kQueryPrefix = "query-";

}  // namespace

const VerdictRow& RowOf(Verdict verdict) {
    return *std::find_if(std::begin(kVerdicts), std::end(kVerdicts),
                         [verdict](const VerdictRow& row) { return row.verdict == verdict; });
}

std::string OutcomeName(Verdict verdict, bool query) {
    return std::string(query ? kQueryPrefix : "") + RowOf(verdict).name;
}

std::optional<Verdict> VerdictNamed(std::string_view name) {
    if (name.starts_with(kQueryPrefix)) {
        name.remove_prefix(kQueryPrefix.size());
    }
    const auto row = std::find_if(std::begin(kVerdicts), std::end(kVerdicts),
                                  [name](const VerdictRow& r) { return name == r.name; });
    if (row == std::end(kVerdicts)) {
        return std::nullopt;
    }
    return row->verdict;
}

int ExitStatus(int result) {
    return result < 0 ? -result : result;
}

}  // namespace vexil::cli
