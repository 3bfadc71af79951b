// The checksums file of --checksums, read as sha256sum --strict -c reads it, and the rule that
// compares a file's sum with its lines.
#include <gtest/gtest.h>

#include "cli/Checksums.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

const bool kEnglishTexts = (SetLanguage(Language::kEnglish), true);

// The SHA-256 of "hello\n", as sha256sum wrote it.
const std::string kHello = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";
const std::string kHelloUpper = "5891B5B522D5DF086D0FF0B110FBD9D21BB4FC7163AF34D08286A2E846F6BE03";

TEST(Checksums, LinesAsSha256sumReadsThem) {
    const struct {
        std::string text;
        std::string refusal;  // empty: read, as RS.BIN with kHello
    } rows[] = {
        {kHello + "  RS.BIN\n", ""},
        {kHelloUpper + "  RS.BIN\n", ""},
        {kHello + " *RS.BIN\n", ""},
        {kHello + "  RS.BIN\r\n", ""},
        {kHello + " RS.BIN", ""},
        {kHello + "\tRS.BIN\n", ""},
        {kHello + "  ./RS.BIN\n", ""},
        {"# the release\n\n\r\n  " + kHello + "  RS.BIN\n", ""},
        {"SHA256 (RS.BIN) = " + kHello + "\n", ""},
        {"\\" + kHello + "  RS.BIN\n", ""},
        {"", "the checksums file SUMS lists no SHA-256"},
        {"# nothing but a comment\n\n", "the checksums file SUMS lists no SHA-256"},
        {kHello + "  RS.BIN\n \n", "SUMS:2: not a checksum line"},
        {kHello.substr(1) + "  RS.BIN\n", "SUMS:1: not a checksum line"},
        {"g" + kHello.substr(1) + "  RS.BIN\n", "SUMS:1: not a checksum line"},
        {kHello + "  \n", "SUMS:1: not a checksum line"},
        {kHello + "RS.BIN\n", "SUMS:1: not a checksum line"},
        {"RS.BIN  " + kHello + "\n", "SUMS:1: not a checksum line"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        std::vector<FileSum> sums;
        const cli::Refusal refusal = cli::ParseChecksums(row.text, "SUMS", sums);
        if (row.refusal.empty()) {
            EXPECT_FALSE(refusal.Refused()) << refusal.text;
            EXPECT_EQ(sums, (std::vector<FileSum>{{"RS.BIN", kHello}}));
        } else {
            EXPECT_EQ(refusal.text.substr(0, row.refusal.size()), row.refusal);
            EXPECT_TRUE(sums.empty());
        }
    }
}

TEST(Checksums, FileThatCannotBeReadAsOne) {
    ScratchDir dir;
    const std::string sums = dir.File("SUMS", {});
    std::vector<FileSum> read;
    EXPECT_EQ(cli::ReadChecksums(dir.path().string(), read).text,
              "cannot read the checksums file " + dir.path().string() + ": it is a folder");
    EXPECT_EQ(cli::ReadChecksums(sums, read).text,
              "the checksums file " + sums + " lists no SHA-256");
    EXPECT_NE(cli::ReadChecksums(sums + ".none", read).text.find("No such file"),
              std::string::npos);
}

TEST(Checksums, EachFileSentMustMatchEveryLineOfItsName) {
    const std::string other(64, '0');
    const struct {
        std::vector<FileSum> sums;
        SumVerdict verdict;
    } rows[] = {
        {{{"RS.BIN", kHello}}, SumVerdict::kMatches},
        {{{"PS1B.BIN", other}, {"RS.BIN", kHello}}, SumVerdict::kMatches},
        {{{"RS.BIN", other}}, SumVerdict::kOtherSum},
        {{{"RS.BIN", kHello}, {"RS.BIN", other}}, SumVerdict::kOtherSum},
        {{{"rs.bin", kHello}}, SumVerdict::kNotListed},
        {{{"PS1B.BIN", kHello}}, SumVerdict::kNotListed},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CheckSum(row.sums, "RS.BIN", kHello), row.verdict);
    }
}

}  // namespace
}  // namespace vexil::test
