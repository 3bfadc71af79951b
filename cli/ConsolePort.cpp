#include "cli/ConsolePort.h"

#include <algorithm>
#include <vector>

#include "platform/Console.h"
#include "resources/ConfirmLabels.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

constexpr int kBarWidth = 30;
// The columns of the bar's line: the bar, the percentage and the elapsed time.
constexpr std::size_t kBarLineColumns = kBarWidth + sizeof " 100% 00:00" - 1;

}  // namespace

const char* KindName(Icon icon) {
    switch (icon) {
        case Icon::Error:
            return "error";
        case Icon::Warning:
            return "warning";
        case Icon::Information:
            return "information";
        case Icon::None:
            break;
    }
    return "message";
}

std::string FormatMessage(const char* kind, int stringId) {
    std::string head = std::string(kind) + " " + std::to_string(stringId) + " ";
    const std::string indent(head.size(), ' ');
    std::string out = head;
    for (const char c : LoadLines(stringId)) {
        out += c;
        if (c == '\n') {
            out += indent;  // a continued line stands under the text's first
        }
    }
    return out + "\n";
}

Answer AskYesNo() {
    std::string answer;
    switch (console::ReadLine(answer)) {
        case console::LineRead::kCancelled:
            return Answer::Cancelled;
        case console::LineRead::kEnd:
            return Answer::No;
        case console::LineRead::kLine:
            break;
    }
    return answer == "y" || answer == "Y" || answer == "yes" ? Answer::Yes : Answer::No;
}

ConsolePort::ConsolePort(bool assumeYes, std::FILE* out)
    : assumeYes_(assumeYes), out_(out), terminal_(console::IsTerminal(out)) {}

ConsolePort::~ConsolePort() {
    EndProgressLine();
}

void ConsolePort::Print(const std::string& lines) {
    // A message in the middle of a transfer ends the bar's line; the next step draws it anew.
    EndProgressLine();
    std::fputs(lines.c_str(), out_);
    std::fflush(out_);
}

void ConsolePort::ShowMessage(int stringId, Icon icon) {
    Print(FormatMessage(KindName(icon), stringId));
}

void ConsolePort::SetStatusText(int stringId) {
    const bool changed = stringId != statusText_;
    statusText_ = stringId;
    if (changed && statusVisible_) {
        Print(FormatMessage("status", stringId));
    }
}

void ConsolePort::ShowStatus(bool visible) {
    const bool appears = visible && !statusVisible_;
    statusVisible_ = visible;
    if (appears && statusText_ != 0) {
        Print(FormatMessage("status", statusText_));
    }
}

void ConsolePort::SetProgressRange(int low, int high) {
    low_ = low;
    high_ = std::max(high, low + 1);
    position_ = std::clamp(position_, low_, high_);
    if (transferStart_ < 0) {
        transferStart_ = NowMilliseconds();
    }
}

void ConsolePort::AdvanceProgress(int delta) {
    SetProgressPosition(std::min(std::max(position_, low_) + delta, high_));
}

void ConsolePort::SetProgressPosition(int position) {
    position_ = std::clamp(position, low_, high_);
    if (position_ == low_) {
        // The bar goes back to zero when a download has ended; nothing is drawn for it, also
        // when nothing was sent at all.
        EndProgressLine();
        shownPercent_ = -1;
        transferStart_ = -1;
        return;
    }
    DrawProgress();
}

void ConsolePort::DrawProgress() {
    const int percent =
        static_cast<int>(static_cast<std::int64_t>(position_ - low_) * 100 / (high_ - low_));
    const std::int64_t now = NowMilliseconds();
    if (!terminal_) {
        // One line per tenth reached.
        const int tenth = percent / 10 * 10;
        if (tenth > std::max(shownPercent_, 0)) {
            std::fprintf(out_, "%s\n", Tr("cli.progress", {std::to_string(tenth)}).c_str());
            std::fflush(out_);
        }
        shownPercent_ = std::max(shownPercent_, tenth);
        return;
    }
    // Redrawn when the percentage moves, and at most twice a second for the elapsed time; a
    // bar that has reached 100 % has ended its line.
    if (percent == shownPercent_ && (percent == 100 || now - lastDraw_ < 500)) {
        return;
    }
    shownPercent_ = percent;
    lastDraw_ = now;
    const int filled = percent * kBarWidth / 100;
    std::string bar;
    for (int i = 0; i < kBarWidth; ++i) {
        bar += i < filled ? "\u2588" : "\u2591";
    }
    const std::int64_t seconds = transferStart_ < 0 ? 0 : (now - transferStart_) / 1000;
    std::fprintf(out_, "%s%s %3d%% %02lld:%02lld",
                 console::EraseLine(out_, kBarLineColumns).c_str(), bar.c_str(), percent,
                 static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    std::fflush(out_);
    barOnScreen_ = true;
    if (percent == 100) {
        EndProgressLine();
    }
}

void ConsolePort::EndProgressLine() {
    if (barOnScreen_) {
        std::fputs("\n", out_);
        std::fflush(out_);
        barOnScreen_ = false;
    }
}

void ConsolePort::PrintValues(const ConfirmationValues& values) {
    std::string lines;
    for (const std::string& line : ConfirmationLines(values)) {
        lines += line + "\n";
    }
    Print(lines);
}

void ConsolePort::ReportAlreadyCurrent(const ConfirmationValues& values) {
    PrintValues(values);
    Print("vexil-download: " + std::string(Tr("cli.download.already-current")) + "\n");
}

bool ConsolePort::ConfirmTarget(const ConfirmationValues& values) {
    PrintValues(values);
    if (assumeYes_) {
        if (!values.Verified() && !allowUnverified) {
            // --yes answers for a print server that the administrator named and that answered
            // as a print server of the model; one whose model was never read is not it.
            declinedAsUnverified_ = true;
            Print("vexil-download: " + std::string(Tr("cli.download.unverified")) + "\n");
            return false;
        }
        return true;
    }
    if (!console::IsTerminal(stdin)) {
        Print("vexil-download: " + std::string(Tr("cli.download.no-terminal")) + "\n");
        return false;
    }
    Print(std::string(Tr(confirm::kDownload)) + " (y) / " +
          std::string(Tr(confirm::kDoNotDownload)) + " (N)? ");
    const Answer answer = AskYesNo();
    if (answer == Answer::Cancelled) {
        Print("\n");
        if (onCancel) {
            onCancel();
        }
    }
    return answer == Answer::Yes;
}

void ConsolePort::TakeSignals() {
    if (console::TakeCancel() && onCancel) {
        onCancel();
    }
}

void ConsolePort::DispatchEvents(int maxWaitMs) {
    TakeSignals();
    if (maxWaitMs <= 0) {
        return;
    }
    // Sleep until a cancel arrives or the bound is reached, never longer: the engine asks for
    // the time its wait has left, and the console's one event, the cancel command, ends this
    // wait at once. So a wait of 10 s wakes once rather than the 2,000 times of a window's 5 ms
    // passes, and a fleet of a thousand downloads costs its processes' wakes nothing to speak of.
    if (console::WaitForCancel(maxWaitMs)) {
        TakeSignals();
    }
}

std::int64_t ConsolePort::NowMilliseconds() {
    return SteadyMilliseconds();
}

void ConsolePort::WaitHook(void* window) {
    if (window != nullptr) {
        static_cast<ConsolePort*>(window)->TakeSignals();
    }
}

}  // namespace vexil::cli
