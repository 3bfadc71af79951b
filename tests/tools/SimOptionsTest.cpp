#include "tools/sim/SimOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestFiles.h"
#include "tests/support/TestPlatform.h"

namespace vexil::sim {
namespace {

// The simulator's command line, one row per option value at the edge of what it takes: an
// accepted row must leave no error, a refused one must name the option and what it needs.
TEST(SimOptionsTest, ValuesAtTheirEdges) {
    test::ScratchDir dir;
    const std::string folder = dir.path().string();
    struct Row {
        std::vector<std::string> args;
        std::string refusal;  // empty: accepted
    };
    const std::vector<Row> rows = {
        {{"--idle-seconds", "0.001"}, ""},
        {{"--idle-seconds", "86400"}, ""},
        {{"--idle-seconds", "0"}, "--idle-seconds needs more than 0"},
        {{"--idle-seconds", "-1"}, "--idle-seconds needs"},
        {{"--idle-seconds", "nan"}, "--idle-seconds needs"},
        {{"--idle-seconds", "86401"}, "--idle-seconds needs"},
        {{"--flash", folder + "/flash.bin"}, ""},
        {{"--flash", folder}, "--flash: " + folder + " is not a regular file"},
        {{"--flash", folder + "/missing/flash.bin"}, "--flash: cannot write"},
        {{"--flash", test::NullDevice()}, "is not a regular file"},
        {{"--ready-fd", "3"}, ""},
        {{"--ready-fd", "2"}, "--ready-fd needs a descriptor number from 3"},
        {{"--erase-seconds", "601"}, "--erase-seconds needs 0 to 600"},
        {{"--refuse-block", "0"}, "--refuse-block needs K or K:N"},
        {{"--late-ms"}, "--late-ms needs a count"},
        {{"--flood"}, "unknown option --flood"},
        // The number reader: no sign, no spaces, decimal only, each bound taken and the value
        // one past it refused.
        {{"--vantrel-port", "0"}, ""},
        {{"--vantrel-port", "65535"}, ""},
        {{"--vantrel-port", "65536"}, "--vantrel-port needs a port number"},
        {{"--vantrel-port", "+5"}, "--vantrel-port needs a port number"},
        {{"--vantrel-port", " 5"}, "--vantrel-port needs a port number"},
        {{"--vantrel-port", "5 "}, "--vantrel-port needs a port number"},
        {{"--vantrel-port", ""}, "--vantrel-port needs a port number"},
        {{"--vantrel-port", "0x"}, "--vantrel-port needs a port number"},
        {{"--vantrel-port", "0x10"}, "--vantrel-port needs a port number"},
        {{"--vantrel-port", "-0"}, "--vantrel-port needs a port number"},
        // One UDP port names one service; the download port is TCP's, and 0 lets the system pick.
        {{"--bramble-port", "5031"}, "--vantrel-port and --bramble-port name one UDP port, 5031"},
        {{"--vantrel-port", "16640"}, "--vantrel-port and --ipx-tunnel-port name one UDP port"},
        {{"--ipx-tunnel-port", "5021"}, "--bramble-port and --ipx-tunnel-port name one UDP port"},
        {{"--vantrel-port", "0", "--bramble-port", "0", "--ipx-tunnel-port", "0"}, ""},
        {{"--download-port", "5021"}, ""},
        {{"--fail-erase", "0"}, ""},
        {{"--fail-erase", "1000000"}, ""},
        {{"--fail-erase", "1000001"}, "--fail-erase needs a count"},
        {{"--late-ms", "+1"}, "--late-ms needs a count"},
        {{"--ready-fd", "1000000"}, ""},
        {{"--ready-fd", "1000001"}, "--ready-fd needs"},
        {{"--refuse-block", "1"}, ""},
        {{"--refuse-block", "1000000:1000"}, ""},
        {{"--refuse-block", "1000001"}, "--refuse-block needs K or K:N"},
        {{"--refuse-block", "1:0"}, "--refuse-block needs K or K:N"},
        {{"--refuse-block", "1:1001"}, "--refuse-block needs K or K:N"},
        {{"--refuse-block", "1:+1"}, "--refuse-block needs K or K:N"},
        {{"--refuse-block", "+1"}, "--refuse-block needs K or K:N"},
        {{"--erase-seconds", "0"}, ""},
        {{"--erase-seconds", "600"}, ""},
        {{"--erase-seconds", "-0"}, "--erase-seconds needs 0 to 600"},
        {{"--erase-seconds", "+1"}, "--erase-seconds needs 0 to 600"},
        {{"--erase-seconds", " 1"}, "--erase-seconds needs 0 to 600"},
        {{"--erase-seconds", "0x10"}, "--erase-seconds needs 0 to 600"},
        {{"--idle-seconds", "86400.001"}, "--idle-seconds needs"},
        // Options as they always were read: each word whole, the last value of one counting.
        {{"--late-ms=5"}, "unknown option --late-ms=5"},
        {{"--once", "--once", "--late-ms", "1", "--late-ms", "2"}, ""},
        {{"-"}, "unknown option -"},
        {{"--"}, "unknown option --"},
    };
    for (const Row& row : rows) {
        std::vector<char*> argv = {const_cast<char*>("vexil-printserver-sim")};
        std::string shown;
        for (const std::string& arg : row.args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
            shown += " " + arg;
        }
        SCOPED_TRACE(shown);
        Options options;
        std::string error;
        const bool parsed =
            ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
        if (row.refusal.empty()) {
            EXPECT_TRUE(parsed) << error;
        } else {
            EXPECT_FALSE(parsed);
            EXPECT_NE(error.find(row.refusal), std::string::npos) << error;
        }
    }
}

}  // namespace
}  // namespace vexil::sim
