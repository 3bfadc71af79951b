// The shared reading of command lines and of the numbers on them.
#include "cmdline/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexil::cmdline {
namespace {

TEST(ReadNumber, EdgesAndForms) {
    constexpr std::uint64_t kMax = UINT64_MAX;
    const struct {
        const char* text;
        std::uint64_t low, high;
        Radix radix;
        bool taken;
        std::uint64_t value;
    } rows[] = {
        {"1", 1, 6, Radix::kDecimal, true, 1},
        {"6", 1, 6, Radix::kDecimal, true, 6},
        {"0", 1, 6, Radix::kDecimal, false, 0},
        {"7", 1, 6, Radix::kDecimal, false, 0},
        {"006", 1, 6, Radix::kDecimal, true, 6},
        {"+5", 1, 6, Radix::kDecimal, false, 0},
        {"-5", 0, 6, Radix::kDecimal, false, 0},
        {"-0", 0, 6, Radix::kDecimal, false, 0},
        {" 5", 1, 6, Radix::kDecimal, false, 0},
        {"5 ", 1, 6, Radix::kDecimal, false, 0},
        {"", 0, 6, Radix::kDecimal, false, 0},
        {"0x", 0, 6, Radix::kDecimal, false, 0},
        {"0x5", 0, 6, Radix::kDecimal, false, 0},
        {"5x", 0, 6, Radix::kDecimal, false, 0},
        {"0x", 0, 6, Radix::kDecimalOrHex, false, 0},
        {"0x5", 0, 6, Radix::kDecimalOrHex, true, 5},
        {"0X0a", 0, 10, Radix::kDecimalOrHex, true, 10},
        {"0xFFFFFF", 0, 0xFFFFFF, Radix::kDecimalOrHex, true, 0xFFFFFF},
        {"0x1000000", 0, 0xFFFFFF, Radix::kDecimalOrHex, false, 0},
        {"0x+5", 0, 6, Radix::kDecimalOrHex, false, 0},
        {"0x-5", 0, 6, Radix::kDecimalOrHex, false, 0},
        {"0x 5", 0, 6, Radix::kDecimalOrHex, false, 0},
        {"0x0x5", 0, 6, Radix::kDecimalOrHex, false, 0},
        {"a", 0, 16, Radix::kDecimalOrHex, false, 0},
        {"18446744073709551615", 0, kMax, Radix::kDecimal, true, kMax},
        {"18446744073709551616", 0, kMax, Radix::kDecimal, false, 0},
        {"0x10000000000000000", 0, kMax, Radix::kDecimalOrHex, false, 0},
    };
    for (const auto& row : rows) {
        std::uint64_t value = 99;
        const bool taken = ReadNumber(row.text, row.low, row.high, value, row.radix);
        EXPECT_EQ(taken, row.taken) << '"' << row.text << '"';
        EXPECT_EQ(value, taken ? row.value : 99) << '"' << row.text << "\" left changed";
    }
    // Into a signed type the bounds hold the same way, and a negative bound is no bound.
    int small = 0;
    EXPECT_TRUE(ReadNumber("1024", 1, 1024, small));
    EXPECT_EQ(small, 1024);
    EXPECT_FALSE(ReadNumber("1025", 1, 1024, small));
    EXPECT_FALSE(ReadNumber("0", -1, 5, small));
}

TEST(ReadSeconds, EdgesAndForms) {
    const struct {
        const char* text;
        bool taken;
        double value;
    } rows[] = {
        {"0", true, 0},     {"600", true, 600}, {"600.001", false, 0}, {"0.5", true, 0.5},
        {".5", true, 0.5},  {"5.", true, 5},    {"1e2", true, 100},    {"+1", false, 0},
        {"-0", false, 0},   {" 1", false, 0},   {"1 ", false, 0},      {"", false, 0},
        {"0x10", false, 0}, {"nan", false, 0},  {"inf", false, 0},     {"1e999", false, 0},
    };
    for (const auto& row : rows) {
        double value = -1;
        const bool taken = ReadSeconds(row.text, 0, 600, value);
        EXPECT_EQ(taken, row.taken) << '"' << row.text << '"';
        EXPECT_EQ(value, taken ? row.value : -1) << '"' << row.text << '"';
    }
}

// What the handlers saw, one entry a call, and where the reading stopped.
struct Reading {
    std::string seen;
    Stop stop;
};

Reading Read(std::vector<std::string> args, Style style, bool operands) {
    Reading reading;
    std::vector<std::string> kept;
    CommandLine line(style);
    line.Flag("--yes,-y", [&reading] { reading.seen += "yes;"; });
    line.Flag("--help,-h", [&reading] { reading.seen += "help;"; });
    line.Value("--dir", [&reading](const std::string& v) { reading.seen += "dir=" + v + ";"; });
    line.Value(
        "--tcp", [&reading](const std::string& v) { reading.seen += "tcp=" + v + ";"; }, 1);
    line.Value(
        "--ipx", [&reading](const std::string& v) { reading.seen += "ipx=" + v + ";"; }, 1);
    line.Value("--jobs", [&reading](const std::string& v) {
        if (v == "bad") {
            throw std::string("bad jobs");
        }
        reading.seen += "jobs=" + v + ";";
    });
    if (operands) {
        line.Operands(kept);
    }
    args.insert(args.begin(), "program");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    try {
        reading.stop = line.Read(static_cast<int>(argv.size()), argv.data());
    } catch (const std::string& refusal) {
        reading.seen += "refused " + refusal + ";";
    }
    for (const std::string& operand : kept) {
        reading.seen += "operand " + operand + ";";
    }
    return reading;
}

TEST(CommandLine, WordsHandlersAndStops) {
    using Kind = Stop::Kind;
    const Style once{.inlineValues = true, .eachOnce = true};
    const Style plain{.inlineValues = false, .eachOnce = false};
    const struct {
        std::vector<std::string> args;
        Style style;
        bool operands;
        std::string seen;
        Kind kind;
        std::string where;  // the word or the option of the stop
    } rows[] = {
        {{"-y", "--dir", "a", "--jobs=3"}, once, false, "yes;dir=a;jobs=3;", Kind::kNone, ""},
        {{"--dir", "-y", "--dir=", "x"}, once, false, "dir=-y;", Kind::kRepeated, "--dir"},
        {{"--dir=", "x"}, once, false, "dir=;", Kind::kUnexpected, "x"},
        {{"--dir", "--", "--jobs", ""}, once, false, "dir=--;jobs=;", Kind::kNone, ""},
        {{"--dir", "[a,b]"}, once, false, "dir=[a,b];", Kind::kNone, ""},
        {{"-y", "--yes"}, once, false, "yes;", Kind::kRepeated, "--yes"},
        {{"--tcp", "a", "--ipx", "b"}, once, false, "tcp=a;", Kind::kRepeated, "--ipx"},
        {{"--tcp", "a", "--ipx", "b"}, plain, false, "tcp=a;ipx=b;", Kind::kNone, ""},
        {{"-yh"}, once, false, "", Kind::kUnexpected, "-yh"},
        {{"-y5"}, once, false, "", Kind::kUnexpected, "-y5"},
        {{"-y", "--", "-h"}, once, false, "yes;", Kind::kUnexpected, "--"},
        {{"--yes=1"}, once, false, "", Kind::kValueNotTaken, "--yes"},
        {{"--dir=a"}, plain, false, "", Kind::kUnexpected, "--dir=a"},
        {{"-y", "--dir"}, once, false, "yes;", Kind::kNoValue, "--dir"},
        {{"--dir", "a", "--dir"}, once, false, "dir=a;", Kind::kRepeated, "--dir"},
        {{"--YES"}, once, false, "", Kind::kUnexpected, "--YES"},
        {{"yes"}, once, false, "", Kind::kUnexpected, "yes"},
        // A handler's refusal stops the reading where it stands: nothing after it is read, and
        // a later bad word is not the one reported.
        {{"--dir", "a", "--jobs", "bad", "-y", "--flood"},
         once,
         false,
         "dir=a;refused bad jobs;",
         Kind::kNone,
         ""},
        {{"--flood", "--jobs", "bad"}, once, false, "", Kind::kUnexpected, "--flood"},
        {{"in", "--dir", "a", "-", "[a,b]", "--ye"},
         plain,
         true,
         "dir=a;operand in;operand -;operand [a,b];",
         Kind::kUnexpected,
         "--ye"},
        {{"in", "-5"}, plain, true, "operand in;", Kind::kUnexpected, "-5"},
    };
    for (const auto& row : rows) {
        std::string shown;
        for (const std::string& arg : row.args) {
            shown += " '" + arg + "'";
        }
        SCOPED_TRACE(shown);
        const Reading reading = Read(row.args, row.style, row.operands);
        EXPECT_EQ(reading.seen, row.seen);
        EXPECT_EQ(reading.stop.kind, row.kind);
        EXPECT_EQ(row.kind == Kind::kUnexpected ? reading.stop.word : reading.stop.option,
                  row.where);
    }
}

}  // namespace
}  // namespace vexil::cmdline
