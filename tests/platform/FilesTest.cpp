// Paths as the programs compare them and make them absolute, the same rules on every platform
// with the platform's own file names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/RecordFile.h"
#include "platform/WidePath.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

TEST(Files, OneFileByItsNames) {
    namespace fs = std::filesystem;
    const ScratchDir scratch;
    const fs::path& folder = scratch.path();
    std::ofstream(folder / "Case.txt") << "x";
    // Whether this file system takes names that differ in letter case for one (Windows does).
    const bool foldsCase = fs::exists(folder / "CASE.TXT");
    const std::string dir = Utf8Text(folder);
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {dir + "/run.log", dir + "/run.log", true},
        {dir + "/run.log", dir + "/./run.log", true},  // neither exists yet
        {dir + "/run.log", dir + "/sub/../run.log", true},
        {dir + "/run.log", dir + "/failed", false},
        {dir + "/run.log", dir + "/RUN.LOG", foldsCase},    // neither exists yet
        {dir + "/Case.txt", dir + "/case.TXT", foldsCase},  // one exists
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NamesOneFile(c.a, c.b), c.same) << c.a << " and " << c.b;
    }
}

TEST(Files, AbsolutePaths) {
    namespace fs = std::filesystem;
    const std::string relative = "some folder/run.log";
    const std::string absolute = AbsolutePath(relative);
    EXPECT_TRUE(WidePath(absolute).is_absolute()) << absolute;
    EXPECT_TRUE(NamesOneFile(absolute, relative)) << absolute;
    EXPECT_EQ(AbsolutePath(absolute), absolute) << "an absolute path changed";
    EXPECT_EQ(AbsolutePath(""), "");
    // A share's path, where the platform has them, is kept whole: no drive put before it.
    for (const std::string share : {R"(\\server\share\firmware)", R"(\\?\C:\Firmware)"}) {
        if (WidePath(share).has_root_name()) {
            EXPECT_EQ(AbsolutePath(share), share);
        }
    }
}

}  // namespace
}  // namespace vexil::test
