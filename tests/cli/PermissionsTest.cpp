// vexil-download as a user who may not write its log: refused before anything is sent. It runs
// outside the network namespaces of the other end-to-end tests, for only the machine's own root
// can start a command as another user; the command gets a network namespace of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/cli/Command.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

TEST(VexilDownload, LogTheUserCannotWriteIsRefusedBeforeAnythingIsSent) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can run the command as another user";
    }
    const ScratchDir dir;
    const std::filesystem::path log = dir.path() / "readonly.log";
    std::ofstream(log) << "kept\n";
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(log.c_str(), 0444);
    CommandSetup setup;
    setup.unprivileged = true;
    // Nothing could reach the address: no device is up where the command runs. A download
    // that went ahead would end with its own status (no answer, 13), not with the refusal.
    Command download({"--model", "6", "--tcp", "192.0.2.9", "--dir", VEXIL_SAMPLE_DIR, "--yes",
                      "--log", log.string()},
                     setup, dir.path(), "readonly");
    const int status = download.Wait(30);
    if (status == 126) {
        GTEST_SKIP() << "the command could not be run as user 65534";
    }
    EXPECT_EQ(status, 64) << download.Err();
    EXPECT_NE(download.Err().find("cannot write the log " + log.string() + ": Permission denied"),
              std::string::npos)
        << download.Err();
    // In Japanese, the reason whole: a new log in a folder the user may not write.
    const std::filesystem::path closed = dir.path() / "closed";
    std::filesystem::create_directory(closed);
    ::chmod(closed.c_str(), 0555);
    setup.env = kJapaneseByLang;
    const std::string newLog = (closed / "new.log").string();
    Command japanese({"--model", "6", "--tcp", "192.0.2.9", "--log", newLog}, setup, dir.path(),
                     "readonly.ja");
    EXPECT_EQ(japanese.Wait(30), 64) << japanese.Err();
    EXPECT_NE(japanese.Err().find("ログ " + newLog + " に書き込めません: フォルダ " +
                                  closed.string() + ": アクセス権がありません\n"),
              std::string::npos)
        << japanese.Err();
    for (const char* sent : {"error 112 ", "information 121 "}) {
        EXPECT_EQ(download.Err().find(sent), std::string::npos) << "the run went on: " << sent;
    }
    EXPECT_EQ(Slurp(log.string()), "kept\n");
}

}  // namespace
}  // namespace vexil::test
