#include "cmdline/Ipv4Ranges.h"

#include <algorithm>

#include "cmdline/CommandLine.h"

namespace vexil::cmdline {

bool ReadIpv4(std::string_view text, std::uint32_t& address) {
    address = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? text.find('.') : text.size();
        unsigned octet = 0;
        if (dot == std::string_view::npos || dot == 0 || dot > 3 ||
            !ReadNumber(text.substr(0, dot), 0u, 255u, octet)) {
            return false;
        }
        address = (address << 8) | octet;
        text.remove_prefix(std::min(dot + 1, text.size()));
    }
    return true;
}

std::string DottedIpv4(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

Ipv4RangeText ReadIpv4Range(std::string_view text, bool blocks, bool addresses) {
    using Form = Ipv4RangeText::Form;
    using Fault = Ipv4RangeText::Fault;
    Ipv4RangeText read;
    Ipv4Range& range = read.range;
    if (const std::size_t slash = text.find('/'); blocks && slash != std::string_view::npos) {
        read.form = Form::kBlock;
        if (!ReadIpv4(text.substr(0, slash), range.first) ||
            !ReadNumber(text.substr(slash + 1), 0, 32, read.prefix)) {
            read.fault = Fault::kUnread;
            return read;
        }
        const std::uint64_t size = std::uint64_t{1} << (32 - read.prefix);
        if (range.first % size != 0) {
            read.fault = Fault::kNotBlockStart;
        }
        const std::uint64_t start = range.first - range.first % size;
        range = {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(start + size - 1)};
        return read;
    }
    if (const std::size_t dash = text.find('-'); dash != std::string_view::npos) {
        read.form = Form::kPair;
        if (!ReadIpv4(text.substr(0, dash), range.first) ||
            !ReadIpv4(text.substr(dash + 1), range.last)) {
            read.fault = Fault::kUnread;
        } else if (range.first > range.last) {
            read.fault = Fault::kFirstAboveLast;
        }
        return read;
    }
    if (addresses && ReadIpv4(text, range.first)) {
        read.form = Form::kAddress;
        range.last = range.first;
    }
    return read;
}

void Ipv4RangeSet::Add(Ipv4Range range) {
    ranges_.push_back(range);
    merged_ = false;
}

const std::vector<Ipv4Range>& Ipv4RangeSet::Merged() {
    if (merged_) {
        return ranges_;
    }
    std::sort(ranges_.begin(), ranges_.end(), [](const Ipv4Range& a, const Ipv4Range& b) {
        return a.first < b.first || (a.first == b.first && a.last > b.last);
    });
    std::vector<Ipv4Range> merged;
    for (const Ipv4Range& range : ranges_) {
        // A range that starts at most one past the last one's end continues it.
        if (!merged.empty() &&
            std::uint64_t{range.first} <= std::uint64_t{merged.back().last} + 1) {
            merged.back().last = std::max(merged.back().last, range.last);
        } else {
            merged.push_back(range);
        }
    }
    ranges_ = std::move(merged);
    merged_ = true;
    return ranges_;
}

std::uint64_t Ipv4RangeSet::Count() {
    std::uint64_t count = 0;
    for (const Ipv4Range& range : Merged()) {
        count += range.Size();
    }
    return count;
}

}  // namespace vexil::cmdline
