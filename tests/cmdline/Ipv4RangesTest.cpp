// The one reader of IPv4 addresses and ranges, and the merging of many ranges.
#include "cmdline/Ipv4Ranges.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexil::cmdline {
namespace {

using Form = Ipv4RangeText::Form;
using Fault = Ipv4RangeText::Fault;

TEST(Ipv4Ranges, FormsAndFaults) {
    const struct {
        const char* text;
        bool blocks, addresses;
        Form form;
        Fault fault;
        std::uint32_t first, last;
        int prefix;
    } rows[] = {
        {"192.0.2.7", false, true, Form::kAddress, Fault::kNone, 0xC0000207, 0xC0000207, 32},
        {"192.0.2.7", true, false, Form::kNone, Fault::kNone, 0, 0, 32},
        {"255.255.255.255", false, true, Form::kAddress, Fault::kNone, 0xFFFFFFFF, 0xFFFFFFFF, 32},
        {"10.0.0.1-10.0.1.0", false, false, Form::kPair, Fault::kNone, 0x0A000001, 0x0A000100, 32},
        {"10.0.0.9-10.0.0.8", false, true, Form::kPair, Fault::kFirstAboveLast, 0x0A000009,
         0x0A000008, 32},
        {"10.0.0.1-", false, true, Form::kPair, Fault::kUnread, 0x0A000001, 0, 32},
        {"10.0.0.0/16", true, false, Form::kBlock, Fault::kNone, 0x0A000000, 0x0A00FFFF, 16},
        {"10.0.3.0/16", true, false, Form::kBlock, Fault::kNotBlockStart, 0x0A000000, 0x0A00FFFF,
         16},
        {"0.0.0.0/0", true, false, Form::kBlock, Fault::kNone, 0, 0xFFFFFFFF, 0},
        {"10.0.0.0/16", false, true, Form::kNone, Fault::kNone, 0, 0, 32},
        {"10.0.0.0/33", true, false, Form::kBlock, Fault::kUnread, 0x0A000000, 0, 32},
        {"10.0.0/8", true, false, Form::kBlock, Fault::kUnread, 0, 0, 32},
        {"10.0.0.256", false, true, Form::kNone, Fault::kNone, 0, 0, 32},
        {"10.0.0.1.2", false, true, Form::kNone, Fault::kNone, 0, 0, 32},
        {"10.0..1", false, true, Form::kNone, Fault::kNone, 0, 0, 32},
        {"10.0.0.+1", false, true, Form::kNone, Fault::kNone, 0, 0, 32},
        {"::1", false, true, Form::kNone, Fault::kNone, 0, 0, 32},
        {"", false, true, Form::kNone, Fault::kNone, 0, 0, 32},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const Ipv4RangeText read = ReadIpv4Range(row.text, row.blocks, row.addresses);
        EXPECT_EQ(read.form, row.form);
        EXPECT_EQ(read.fault, row.fault);
        if (read.form != Form::kNone && read.fault != Fault::kUnread) {
            EXPECT_EQ(read.range, (Ipv4Range{row.first, row.last}));
            EXPECT_EQ(read.prefix, row.prefix);
        }
    }
    EXPECT_EQ(DottedIpv4(0xC0000207), "192.0.2.7");
}

// Ranges merge once, into the distinct addresses: copies, overlaps and neighbours join; a gap
// of one address keeps two ranges apart.
TEST(Ipv4Ranges, MergedOnce) {
    Ipv4RangeSet set;
    for (int i = 0; i < 400; ++i) {
        set.Add({0x0A000000, 0x0A00FFFF});
    }
    set.Add({0x0A010000, 0x0A010010});  // right after the /16
    set.Add({0x0A010005, 0x0A010008});  // inside the last
    set.Add({0x0A010012, 0x0A010012});  // one address after a gap of one
    set.Add({0xFFFFFFFE, 0xFFFFFFFF});
    set.Add({0, 0});
    EXPECT_EQ(
        set.Merged(),
        (std::vector<Ipv4Range>{
            {0, 0}, {0x0A000000, 0x0A010010}, {0x0A010012, 0x0A010012}, {0xFFFFFFFE, 0xFFFFFFFF}}));
    EXPECT_EQ(set.Count(), 1u + 65536u + 17u + 1u + 2u);
    set.Add({0x0A010011, 0x0A010011});  // fills the gap
    EXPECT_EQ(set.Merged().size(), 3u);
}

}  // namespace
}  // namespace vexil::cmdline
