// The checks of the files that take records and outputs, made by a user who may not write them.
// Every test and CI run as root, who may write any file, so each check runs in a child that has
// dropped to the unprivileged user 65534 (as a run of an administrator's scheduler would be),
// on a read-only file and in a read-only folder, appended to and replaced.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/RecordFile.h"
#include "platform/RegularFile.h"
#include "resources/Reasons.h"
#include "tests/support/Deadline.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

constexpr uid_t kUnprivileged = 65534;
constexpr char kNotRun[] = "\x01";  // the child could not become the user

// What `check` returns, as the user 65534 gets it in a child of its own; kNotRun when this
// process cannot become that user (not root, or a user namespace that does not map it).
std::string AsUnprivileged(const std::function<std::string()>& check) {
    int pipe[2];
    if (::geteuid() != 0 || ::pipe(pipe) != 0) {
        return kNotRun;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe[0]);
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(kUnprivileged) == 0 &&
                             ::setuid(kUnprivileged) == 0;
        const std::string said = dropped ? check() : kNotRun;
        const bool written =
            ::write(pipe[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipe[1]);
    int status = -1;
    Eventually([&] { return pid < 0 || ::waitpid(pid, &status, WNOHANG) == pid; }, 10,
               "the unprivileged check to end");
    std::string said;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
        said.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipe[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child did not report";
    return said;
}

TEST(Permissions, RecordsAndOutputsTheUserCannotWriteAreRefused) {
    namespace fs = std::filesystem;
    if (AsUnprivileged([] { return std::string(); }) == kNotRun) {
        GTEST_SKIP() << "this process cannot run a child as user " << kUnprivileged;
    }
    const ScratchDir scratch;
    const fs::path& root = scratch.path();
    // A folder the user may write, holding a read-only file and one it may write, and a folder
    // it may only read, holding one file it may write. The scratch folder itself must be
    // reachable by the user.
    const fs::path open = root / "open";
    const fs::path closed = root / "closed";
    fs::create_directories(open);
    fs::create_directories(closed);
    for (const fs::path& file : {open / "ro.log", open / "rw.log", closed / "rw.log"}) {
        std::ofstream(file) << "kept\n";
    }
    ::chmod(root.c_str(), 0755);
    ::chmod(open.c_str(), 0777);
    ::chmod(closed.c_str(), 0555);
    ::chmod((open / "ro.log").c_str(), 0444);
    ::chmod((open / "rw.log").c_str(), 0666);
    ::chmod((closed / "rw.log").c_str(), 0666);
    if (AsUnprivileged([&] { return ::access(root.c_str(), X_OK) == 0 ? "" : "no"; }) != "") {
        ::chmod(closed.c_str(), 0755);
        GTEST_SKIP() << "user " << kUnprivileged << " cannot reach " << root;
    }

    const std::string denied = "Permission denied";
    using Mode = RecordMode;
    const struct {
        fs::path path;
        Mode mode;
        std::string reason;  // "" when it may be written
    } records[] = {
        {open / "ro.log", Mode::kAppend, denied},
        {open / "ro.log", Mode::kReplace, denied},
        {open / "rw.log", Mode::kAppend, ""},
        {open / "rw.log", Mode::kReplace, ""},
        {open / "new.log", Mode::kAppend, ""},
        {open / "new.log", Mode::kReplace, ""},
        // A file it may write in a folder it may not: appended in place, but never replaced,
        // whose new text is made beside it.
        {closed / "rw.log", Mode::kAppend, ""},
        {closed / "rw.log", Mode::kReplace, "its folder " + closed.string() + ": " + denied},
        {closed / "new.log", Mode::kAppend, "its folder " + closed.string() + ": " + denied},
        {closed / "new.log", Mode::kReplace, "its folder " + closed.string() + ": " + denied},
    };
    for (const auto& row : records) {
        SCOPED_TRACE(row.path.string() + (row.mode == Mode::kAppend ? ", appended" : ", replaced"));
        EXPECT_EQ(AsUnprivileged([&] {
                      return Words(CheckRecordFile(row.path.string(), row.mode),
                                   Language::kEnglish);
                  }),
                  row.reason);
    }
    // The tools' outputs (vexil-file's, the simulator's flash): written from the start.
    const struct {
        fs::path path;
        std::string reason;
    } outputs[] = {
        {open / "ro.log", "cannot write " + (open / "ro.log").string() + ": " + denied},
        {open / "rw.log", ""},
        {open / "new.bin", ""},
        {closed / "rw.log", ""},
        {closed / "new.bin", "cannot write " + (closed / "new.bin").string() + ": " + denied},
    };
    for (const auto& row : outputs) {
        SCOPED_TRACE(row.path.string());
        EXPECT_EQ(AsUnprivileged(
                      [&] { return Words(OutputRefusal(row.path.string()), Language::kEnglish); }),
                  row.reason);
    }
    EXPECT_EQ(
        AsUnprivileged([&] { return Words(CheckFolder(closed.string()), Language::kEnglish); }),
        denied);
    EXPECT_EQ(AsUnprivileged([&] { return Words(CheckFolder(open.string()), Language::kEnglish); }),
              "");
    // The checks created and changed nothing.
    EXPECT_FALSE(fs::exists(open / "new.log") || fs::exists(open / "new.bin") ||
                 fs::exists(closed / "new.log") || fs::exists(closed / "new.bin"));
    std::ifstream kept(open / "ro.log");
    std::string line;
    EXPECT_TRUE(std::getline(kept, line) && line == "kept");
    ::chmod(closed.c_str(), 0755);  // for the scratch folder's removal
}

}  // namespace
}  // namespace vexil::test
