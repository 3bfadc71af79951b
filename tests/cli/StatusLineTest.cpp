// The status line of a fleet and a scan: its text after each event, the estimate, the redraw
// limit on an injected clock, and what it leaves on the terminal at the end and at a cancel.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/StatusLine.h"
#include "resources/Text.h"

namespace vexil::test {
namespace {

// What takes a drawn line of `columns` off a file: the erase-line sequence on POSIX; on Windows,
// where a file has no console mode, spaces over it between carriage returns.
std::string Erased(std::size_t columns) {
#ifdef _WIN32
    std::string spaces(columns, ' ');
    return std::string("\r").append(spaces).append("\r");
#else
    (void)columns;
    return "\r\033[K";
#endif
}

std::string Written(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[256];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, got);
    }
    return text;
}

TEST(StatusLine, CountsAfterEachEventAndTheEstimate) {
    SetLanguage(Language::kEnglish);
    const struct {
        cli::FleetCounts counts;
        std::int64_t elapsedMs;
        const char* line;
    } rows[] = {
        // Started: nothing done, no estimate yet.
        {{3, 0, 0, 0}, 0, "[ 0/3 ] 0 ok · 0 failed · 0 running · 3 waiting · 0:00"},
        {{3, 0, 0, 2}, 1500, "[ 0/3 ] 0 ok · 0 failed · 2 running · 1 waiting · 0:01"},
        // The first done: 4 s for one, two to go.
        {{3, 1, 0, 2},
         4000,
         "[ 1/3 ] 1 ok · 0 failed · 2 running · 0 waiting · 0:04 · about 0:08 left"},
        {{3, 1, 1, 1},
         6000,
         "[ 2/3 ] 1 ok · 1 failed · 1 running · 0 waiting · 0:06 · about 0:03 left"},
        {{3, 2, 1, 0},
         9000,
         "[ 3/3 ] 2 ok · 1 failed · 0 running · 0 waiting · 0:09 · about 0:00 left"},
        {{1000, 398, 3, 11},
         72000,
         "[ 401/1000 ] 398 ok · 3 failed · 11 running · 588 waiting · 1:12 · about 1:47 left"},
        {{2, 1, 0, 1},
         3723000,
         "[ 1/2 ] 1 ok · 0 failed · 1 running · 0 waiting · 1:02:03 · about 1:02:03 left"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(cli::FleetStatus(row.counts, row.elapsedMs), row.line);
    }
    EXPECT_EQ(cli::ScanStatus({0, 254, 0, 0, std::nullopt}),
              "[ 0/254 ] print servers found: 0 · 0:00");
    EXPECT_EQ(cli::ScanStatus({127, 254, 3, 30000, 30000}),
              "[ 127/254 ] print servers found: 3 · 0:30 · about 0:30 left");
    SetLanguage(Language::kJapanese);
    EXPECT_EQ(cli::FleetStatus({1000, 398, 3, 11}, 72000),
              "[ 401/1000 ] 成功 398 · 失敗 3 · 実行中 11 · 待機中 588 · 1:12 · 残り約 1:47");
    EXPECT_EQ(cli::ScanStatus({127, 254, 3, 30000, 30000}),
              "[ 127/254 ] 見つかったプリントサーバ 3 台 · 0:30 · 残り約 0:30");
    SetLanguage(Language::kEnglish);
}

TEST(StatusLine, RedrawLimitLinesAboveAndTheEnd) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
    ASSERT_NE(file, nullptr);
    std::int64_t now = 1000;
    {
        cli::StatusLine line(file.get(), [&now] { return now; });
        EXPECT_TRUE(line.Due());  // nothing on the screen yet
        line.Draw("one");
        now += 100;
        EXPECT_FALSE(line.Due());
        EXPECT_EQ(line.MillisecondsUntilDue(), 150);
        now += 150;
        EXPECT_TRUE(line.Due());
        line.Draw("two");
        // A line written above it: taken off, and drawn below it again when due, not sooner.
        now += 10;
        line.Hide();
        std::fputs("[tcp 192.0.2.10] information 110\n", file.get());
        EXPECT_FALSE(line.Due());
        line.Hide();  // off already: nothing to take off
        now += 240;
        EXPECT_TRUE(line.Due());
        line.Draw("three!");
        // A cancel ends the job as its end does: the line taken off, the cursor at its start.
    }
    EXPECT_EQ(Written(file.get()), "one" + Erased(3) + "two" + Erased(3) +
                                       "[tcp 192.0.2.10] information 110\nthree!" + Erased(6));
}

}  // namespace
}  // namespace vexil::test
