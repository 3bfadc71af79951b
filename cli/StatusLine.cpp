#include "cli/StatusLine.h"

#include <algorithm>

#include "cli/Options.h"
#include "engine/TimeLeft.h"
#include "platform/Console.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

std::string TwoDigits(std::int64_t value) {
    std::string digits = std::to_string(value);
    if (digits.size() < 2) {
        digits.insert(digits.begin(), '0');
    }
    return digits;
}

std::string WithTimes(std::string line, std::int64_t elapsedMs,
                      const std::optional<std::int64_t>& leftMs) {
    line += " \u00b7 ";
    line += ShownDuration(elapsedMs);
    if (leftMs) {
        line += Tr("cli.status.left", {ShownDuration(*leftMs)});
    }
    return line;
}

// `text` up to `columns` terminal columns, whole characters only.
std::string CutToColumns(const std::string& text, std::size_t columns) {
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = 1;
        while (at + length < text.size() &&
               (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) {
            ++length;
        }
        const std::size_t width = DisplayWidth(std::string_view(text).substr(at, length));
        if (used + width > columns) {
            break;
        }
        used += width;
        at += length;
    }
    return text.substr(0, at);
}

}  // namespace

std::string ShownDuration(std::int64_t milliseconds) {
    const std::int64_t seconds = std::max<std::int64_t>(milliseconds, 0) / 1000;
    if (seconds >= 3600) {
        return std::to_string(seconds / 3600) + ":" + TwoDigits(seconds / 60 % 60) + ":" +
               TwoDigits(seconds % 60);
    }
    return std::to_string(seconds / 60) + ":" + TwoDigits(seconds % 60);
}

std::string FleetStatus(const FleetCounts& counts, std::int64_t elapsedMs) {
    const std::size_t done = counts.succeeded + counts.failed;
    const std::size_t waiting = counts.total - std::min(counts.total, done + counts.running);
    const std::string line =
        Tr("cli.status.fleet", {std::to_string(done), std::to_string(counts.total),
                                std::to_string(counts.succeeded), std::to_string(counts.failed),
                                std::to_string(counts.running), std::to_string(waiting)});
    return WithTimes(line, elapsedMs, TimeLeftMs(elapsedMs, done, counts.total));
}

std::string ScanStatus(const ScanProgress& progress) {
    const std::string line =
        Tr("cli.status.scan", {std::to_string(progress.asked), std::to_string(progress.total),
                               std::to_string(progress.found)});
    return WithTimes(line, progress.elapsedMs, progress.leftMs);
}

StatusLine::StatusLine(std::FILE* out, std::function<std::int64_t()> now)
    : out_(out), now_(std::move(now)) {}

StatusLine::~StatusLine() {
    Hide();
}

bool StatusLine::Due() const {
    return MillisecondsUntilDue() == 0;
}

int StatusLine::MillisecondsUntilDue() const {
    if (!lastDraw_) {
        return 0;
    }
    const std::int64_t left = *lastDraw_ + kRedrawMs - now_();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, kRedrawMs));
}

void StatusLine::Draw(const std::string& text) {
    // One column short of the width: a line that fills the last column leaves some terminals'
    // cursor on the next line.
    const int width = console::TerminalColumns(out_);
    const std::string shown =
        width > 1 ? CutToColumns(text, static_cast<std::size_t>(width - 1)) : text;
    std::string out = shown_ ? console::EraseLine(out_, shownColumns_) : std::string();
    out += shown;
    std::fputs(out.c_str(), out_);
    std::fflush(out_);
    shown_ = true;
    shownColumns_ = DisplayWidth(shown);
    lastDraw_ = now_();
}

void StatusLine::Hide() {
    if (shown_) {
        std::fputs(console::EraseLine(out_, shownColumns_).c_str(), out_);
        std::fflush(out_);
        shown_ = false;
    }
}

}  // namespace vexil::cli
