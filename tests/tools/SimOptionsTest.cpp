#include "tools/sim/SimOptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "resources/Text.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPlatform.h"

namespace vexil::sim {
namespace {

// The rows match the English texts: this process reads them in English, whatever language the
// environment it runs in would choose.
class InEnglish : public ::testing::Environment {
  public:
    void SetUp() override { SetLanguage(Language::kEnglish); }
};
[[maybe_unused]] ::testing::Environment* const kInEnglish =
    ::testing::AddGlobalTestEnvironment(new InEnglish);

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
        // Several print servers: ranges inclusive, at most 65536 addresses in all, each once.
        {{"--listen", "127.0.0.2-127.0.0.4", "--listen", "127.0.0.9"}, ""},
        {{"--listen", "127.0.0.2-127.0.0.2"}, ""},
        {{"--listen", "10.0.0.0-10.0.255.255"}, ""},
        {{"--listen", "10.0.0.0-10.1.0.0"},
         "--listen: 65537 addresses in all, more than the 65536"},
        {{"--listen", "10.0.0.0-10.0.255.255", "--listen", "10.1.0.0"}, "65537 addresses in all"},
        {{"--listen", "127.0.0.4-127.0.0.2"},
         "--listen 127.0.0.4-127.0.0.2: the first address is above the last"},
        {{"--listen", "127.0.0.2-"}, "--listen needs an IPv4 address, or a range FIRST-LAST"},
        {{"--listen", "127.0.0.2-127.0.0"}, "--listen needs an IPv4 address"},
        {{"--listen", "127.0.0.0/24"}, "--listen needs an IPv4 address"},
        {{"--listen", "::1"}, "--listen needs an IPv4 address"},
        {{"--listen", "127.0.0.2", "--listen", "127.0.0.1-127.0.0.3"},
         "--listen: 127.0.0.2 is given twice"},
        {{"--listen", "127.0.0.2-127.0.0.3", "--flash", folder + "/flash.bin"},
         "--flash takes the image of one print server: with several addresses give --flash-dir"},
        {{"--flash", folder + "/flash.bin", "--flash-dir", folder}, "--flash and --flash-dir"},
        {{"--listen", "127.0.0.2-127.0.0.3", "--flash-dir", folder}, ""},
        {{"--listen", "127.0.0.2-127.0.0.3", "--flash-dir", folder + "/missing"},
         "--flash-dir: cannot write " + folder + "/missing"},
        {{"--printer", "127.0.0.1 --no-version-reply --fail-erase 2"}, ""},
        {{"--printer", "127.0.0.9 --no-version-reply"},
         "127.0.0.9 is not an address given to --listen"},
        {{"--listen", "127.0.0.2-127.0.0.4", "--printer", "127.0.0.3-127.0.0.5 --bad-finish"},
         "127.0.0.5 is not an address given to --listen"},
        {{"--printer", "127.0.0.1 --once"},
         "--once is an option of the whole simulator, not of one print server"},
        {{"--printer", "127.0.0.1 --fail-erase x"},
         "--printer \"127.0.0.1 --fail-erase x\": --fail-erase needs a count"},
        {{"--printer", "127.0.0.1 --late-ms"}, "--late-ms needs a count"},
        {{"--printer", "127.0.0.1 --flood"}, "unknown option --flood"},
        {{"--printer", "--no-version-reply"}, "it needs an address or range FIRST-LAST first"},
        // An empty name is no name: refused rather than taken as no flash file.
        {{"--flash", ""}, "--flash needs a value, not an empty one"},
        {{"--flash-dir", ""}, "--flash-dir needs a value, not an empty one"},
        {{"--printer", ""}, "it needs an address or range FIRST-LAST first"},
    };
    for (const Row& row : rows) {
        std::vector<char*> argv = {const_cast<char*>("vexil-printserver-sim")};
        std::string shown;
        for (const std::string& arg : row.args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
            shown += " " + arg;
        }
        SCOPED_TRACE(shown);
        std::vector<Options> printers;
        std::string error;
        const bool parsed =
            ParseOptions(static_cast<int>(argv.size()), argv.data(), printers, error);
        if (row.refusal.empty()) {
            EXPECT_TRUE(parsed) << error;
        } else {
            EXPECT_FALSE(parsed);
            EXPECT_NE(error.find(row.refusal), std::string::npos) << error;
        }
    }
}

// A refusal says each part of its place once.
TEST(SimOptionsTest, WholeRefusals) {
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Row> rows = {
        {{"--printer", "127.0.0.1 --fail-erase x"},
         "--printer \"127.0.0.1 --fail-erase x\": --fail-erase needs a count"},
        {{"--printer", "127.0.0.1 --model-code 12"},
         "--printer \"127.0.0.1 --model-code 12\": --model-code needs 4 hexadecimal digits"},
        {{"--printer", "127.0.0.1 --late-ms"},
         "--printer \"127.0.0.1 --late-ms\": --late-ms needs a count"},
        {{"--fail-erase", "x"}, "--fail-erase needs a count"},
    };
    for (const Row& row : rows) {
        std::vector<char*> argv = {const_cast<char*>("vexil-printserver-sim")};
        for (const std::string& arg : row.args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        SCOPED_TRACE(row.message);
        std::vector<Options> printers;
        std::string error;
        EXPECT_FALSE(ParseOptions(static_cast<int>(argv.size()), argv.data(), printers, error));
        EXPECT_EQ(error, row.message);
    }
}

// Faults that answer one request in different ways: of those given for one print server, on the
// command line and then in its --printer options, the last counts.
TEST(SimOptionsTest, TheLastOfConflictingFaultsCounts) {
    struct Row {
        std::vector<std::string> args;
        bool silent;
        bool invalid;
        std::vector<int> refused, naked, dropped, late;  // the blocks of each fault
    };
    const std::vector<Row> rows = {
        {{"--no-version-reply", "--bad-version-reply"}, false, true, {}, {}, {}, {}},
        {{"--bad-version-reply", "--no-version-reply"}, true, false, {}, {}, {}, {}},
        {{"--printer", "127.0.0.1 --no-version-reply", "--printer",
          "127.0.0.1 --bad-version-reply"},
         false,
         true,
         {},
         {},
         {},
         {}},
        {{"--bad-version-reply", "--printer", "127.0.0.1 --no-version-reply"},
         true,
         false,
         {},
         {},
         {},
         {}},
        {{"--refuse-block", "3", "--printer", "127.0.0.1 --drop-block 3"},
         false,
         false,
         {},
         {},
         {3},
         {}},
        {{"--printer", "127.0.0.1 --drop-block 3 --nak-block 3:2 --refuse-block 4"},
         false,
         false,
         {4},
         {3},
         {},
         {}},
        {{"--nak-block", "3", "--refuse-block", "3"}, false, false, {3}, {}, {}, {}},
        // A late answer is still one of those: it goes with any of them.
        {{"--late-block", "3", "--nak-block", "3", "--printer", "127.0.0.1 --late-block 3:2"},
         false,
         false,
         {},
         {3},
         {},
         {3}},
    };
    const auto blocks = [](const std::map<int, int>& faults) {
        std::vector<int> keys;
        for (const auto& entry : faults) {
            keys.push_back(entry.first);
        }
        return keys;
    };
    for (const Row& row : rows) {
        std::vector<char*> argv = {const_cast<char*>("vexil-printserver-sim")};
        std::string shown;
        for (const std::string& arg : row.args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
            shown += " " + arg;
        }
        SCOPED_TRACE(shown);
        std::vector<Options> printers;
        std::string error;
        ASSERT_TRUE(ParseOptions(static_cast<int>(argv.size()), argv.data(), printers, error))
            << error;
        const Options& o = printers.at(0);
        EXPECT_EQ(o.noVersionReply, row.silent);
        EXPECT_EQ(o.badVersionReply, row.invalid);
        EXPECT_EQ(blocks(o.refuseBlock), row.refused);
        EXPECT_EQ(blocks(o.nakBlock), row.naked);
        EXPECT_EQ(blocks(o.dropBlock), row.dropped);
        EXPECT_EQ(blocks(o.lateBlock), row.late);
    }
}

// --help gives each limit that a value is refused beyond (read as one text: a limit may be
// broken over two lines).
TEST(SimOptionsTest, HelpGivesTheLimits) {
    const std::string text = HelpText();
    std::string help;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\n') {
            help += text[at];
            continue;
        }
        help += ' ';
        while (at + 1 < text.size() && text[at + 1] == ' ') {
            ++at;
        }
    }
    for (const char* said : {"0 turns IPX off", "more than 0, at most 86400", "at most 65536"}) {
        EXPECT_NE(help.find(said), std::string::npos) << said;
    }
}

// --help and a refusal in each language: the option's own words stay as they are.
TEST(SimOptionsTest, HelpAndRefusalInEachLanguage) {
    struct Row {
        Language language;
        const char* help;
        const char* refusal;
    };
    const Row rows[] = {
        {Language::kJapanese,
         "  --download-port N        ダウンロードの接続の TCP ポート（既定は 5001）\n",
         "--download-port: ポート番号が必要です"},
        {Language::kEnglish,
         "  --download-port N        TCP port of the download connection (default 5001)\n",
         "--download-port needs a port number"},
    };
    for (const Row& row : rows) {
        SetLanguage(row.language);
        EXPECT_NE(HelpText().find(row.help), std::string::npos) << row.help;
        std::string args[] = {"vexil-printserver-sim", "--download-port", "x"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data()};
        std::vector<Options> printers;
        std::string error;
        EXPECT_FALSE(ParseOptions(3, argv, printers, error));
        EXPECT_EQ(error, row.refusal);
    }
    SetLanguage(Language::kEnglish);
}

// --flash-dir joins the folder and each flash file's name as the UTF-8 text every path is: a
// folder named beyond the narrow code page (Windows') stays that folder.
TEST(SimOptionsTest, FlashDirBeyondTheCodePage) {
    test::ScratchDir dir;
    const std::filesystem::path folder = dir.path() / u8"日本";
    std::filesystem::create_directory(folder);
    const std::u8string given = folder.u8string();
    std::string args[] = {"vexil-printserver-sim", "--flash-dir",
                          std::string(given.begin(), given.end())};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data()};
    std::vector<Options> printers;
    std::string error;
    ASSERT_TRUE(ParseOptions(3, argv, printers, error)) << error;
    const std::string file = printers.at(0).flashFile;
    EXPECT_EQ(std::filesystem::path(std::u8string(file.begin(), file.end())),
              folder / "127.0.0.1.bin");
}

// Each print server has its own options: those of all, then those --printer gives its address
// (in the order given), and its flash file named by its address.
TEST(SimOptionsTest, EachPrintServerItsOwnOptions) {
    test::ScratchDir dir;
    const std::string folder = dir.path().string();
    const std::vector<std::string> args = {"vexil-printserver-sim",
                                           "--listen",
                                           "127.0.0.2-127.0.0.4",
                                           "--listen",
                                           "127.0.0.9",
                                           "--flash-dir",
                                           folder,
                                           "--fail-erase",
                                           "1",
                                           "--printer",
                                           "127.0.0.3-127.0.0.4 --no-version-reply  --fail-erase 3",
                                           "--printer",
                                           "127.0.0.4 --model-code 1601 --nak-block 2"};
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    std::vector<Options> printers;
    std::string error;
    ASSERT_TRUE(ParseOptions(static_cast<int>(argv.size()), argv.data(), printers, error)) << error;
    ASSERT_EQ(printers.size(), 4u);
    struct Row {
        const char* address;
        bool silent;
        int failErase;
        std::uint8_t model;
        std::size_t nakBlocks;
    };
    const Row rows[] = {{"127.0.0.2", false, 1, 0xAA, 0},
                        {"127.0.0.3", true, 3, 0xAA, 0},
                        {"127.0.0.4", true, 3, 0x16, 1},
                        {"127.0.0.9", false, 1, 0xAA, 0}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(rows[i].address);
        EXPECT_EQ(printers[i].listen, rows[i].address);
        EXPECT_EQ(std::filesystem::path(printers[i].flashFile),
                  dir.path() / (std::string(rows[i].address) + ".bin"));
        EXPECT_EQ(printers[i].noVersionReply, rows[i].silent);
        EXPECT_EQ(printers[i].failErase, rows[i].failErase);
        EXPECT_EQ(printers[i].modelCode[0], rows[i].model);
        EXPECT_EQ(printers[i].nakBlock.size(), rows[i].nakBlocks);
    }
}

}  // namespace
}  // namespace vexil::sim
