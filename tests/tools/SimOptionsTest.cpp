#include "tools/sim/SimOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

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
        {{"--flash", "/dev/null"}, "is not a regular file"},
        {{"--ready-fd", "3"}, ""},
        {{"--ready-fd", "2"}, "--ready-fd needs a descriptor number from 3"},
        {{"--erase-seconds", "601"}, "--erase-seconds needs 0 to 600"},
        {{"--refuse-block", "0"}, "--refuse-block needs K or K:N"},
        {{"--late-ms"}, "--late-ms needs a count"},
        {{"--flood"}, "unknown option --flood"},
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
