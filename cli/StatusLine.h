// The status line of the long jobs on a terminal: one line kept at the bottom of standard error
// while a fleet or a scan runs, redrawn in place a few times a second, with the lines the job
// writes meanwhile scrolling above it (the line taken off, the lines written, the line drawn
// again when it is next due). Only on a terminal: the caller makes none otherwise, so
// that no control byte ever reaches a file or a pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "engine/VersionQuery.h"

namespace vexil::cli {

// A time as the status line shows it: m:ss, h:mm:ss from an hour on.
std::string ShownDuration(std::int64_t milliseconds);

// A fleet's targets as its status line counts them; those done have succeeded or failed, and
// those neither done nor running are waiting.
struct FleetCounts {
    std::size_t total = 0;
    std::size_t succeeded = 0;
    std::size_t failed = 0;
    std::size_t running = 0;
};

// "[ 412/1000 ] 398 ok · 3 failed · 11 running · 588 waiting · 1:12 · about 0:40 left", in the
// current language; the time left (TimeLeftMs) once a target is done.
std::string FleetStatus(const FleetCounts& counts, std::int64_t elapsedMs);
// "[ 1200/65534 ] print servers found: 3 · 0:12 · about 10:40 left".
std::string ScanStatus(const ScanProgress& progress);

class StatusLine {
  public:
    // How often the line is redrawn at most: a terminal that redraws a line more often than
    // this shows only a blur, and costs the job's loop a write each time.
    static constexpr std::int64_t kRedrawMs = 250;

    // On `out`, a terminal; `now` is a monotonic clock in milliseconds.
    StatusLine(std::FILE* out, std::function<std::int64_t()> now);
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    // Whether the line may be drawn: none has been yet, or the last draw is kRedrawMs old, also
    // when the line has been taken off since (lines that scroll past in a burst then cost one
    // draw per kRedrawMs, not one each). The caller makes the line's text only then.
    bool Due() const;
    // How long until Due, 0 when it is: what the job's wait may last at most.
    int MillisecondsUntilDue() const;
    // Draws `text` in place of the line on the screen, cut to the terminal's width so that it
    // never wraps onto a second line that the next draw could not take back.
    void Draw(const std::string& text);
    // Takes the line off the screen, leaving the cursor at the start of its line, before
    // anything else is written to the terminal (a line, the summary, a question); nothing when
    // it is off already.
    void Hide();

  private:
    std::FILE* out_;
    std::function<std::int64_t()> now_;
    bool shown_ = false;
    std::size_t shownColumns_ = 0;
    std::optional<std::int64_t> lastDraw_;
};

}  // namespace vexil::cli
