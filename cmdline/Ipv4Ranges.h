// The one reader of IPv4 addresses and ranges on the programs' command lines: an address
// A.B.C.D, a pair FIRST-LAST, a CIDR block A.B.C.D/PREFIX. And a set of such ranges, collected as
// they are given and merged once, so that ranges named many times, or overlapping, cost what
// their distinct addresses cost.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexil::cmdline {

// An IPv4 address in host order from A.B.C.D: four decimal numbers 0 to 255 of one to three
// digits each, nothing else.
bool ReadIpv4(std::string_view text, std::uint32_t& address);
std::string DottedIpv4(std::uint32_t address);

// The addresses from `first` to `last`, both included.
struct Ipv4Range {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint64_t Size() const { return std::uint64_t{last} - first + 1; }
    bool operator==(const Ipv4Range&) const = default;
};

// What a range's text turned out to be.
struct Ipv4RangeText {
    enum class Form {
        kNone,     // neither a pair nor (where taken) a block nor (where taken) an address
        kAddress,  // one address, a range of one
        kPair,     // FIRST-LAST
        kBlock,    // A.B.C.D/PREFIX
    };
    enum class Fault {
        kNone,
        kUnread,          // looks like its form (a '-' or a '/') but does not read as one
        kFirstAboveLast,  // a pair whose first address is above its last
        kNotBlockStart,   // a block whose address is not its first: `range` is the whole block
    };
    Form form = Form::kNone;
    Fault fault = Fault::kNone;
    Ipv4Range range;
    int prefix = 32;  // kBlock
};

// Reads a pair FIRST-LAST, with `blocks` a block A.B.C.D/PREFIX (the prefix 0 to 32), with
// `addresses` a single address. Each caller words its own refusals.
Ipv4RangeText ReadIpv4Range(std::string_view text, bool blocks, bool addresses);

// Ranges collected in any order and number, then sorted and merged once.
class Ipv4RangeSet {
  public:
    void Add(Ipv4Range range);
    // The distinct addresses as ranges in address order, none touching another.
    const std::vector<Ipv4Range>& Merged();
    // How many distinct addresses the ranges hold.
    std::uint64_t Count();

  private:
    std::vector<Ipv4Range> ranges_;
    bool merged_ = true;
};

}  // namespace vexil::cmdline
