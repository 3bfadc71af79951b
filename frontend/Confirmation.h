// What the target confirmation shows before a print server is switched to download mode: the
// target as the user typed it, the version the print server runs now and the version of the
// download file, from the values the engine asks about. The windows' confirmation dialogs and
// the command line show the same texts, and the command line prints them with the dialog's
// labels as three lines.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "engine/DownloadRequest.h"  // ConfirmationValues

namespace vexil {

// What the dialog's three boxes show: the target, the print server's version or the text for
// none, and the file's version without its first character (01.10 shows as 1.10).
std::array<std::string, 3> ShownConfirmation(const ConfirmationValues& values);

// The dialog is where the user checks which printer is about to be erased, so a 15-character
// IPv4 address or a 12-digit MAC address must show whole in the template's 55 units: the
// dialog's font is narrowed in steps of 5% down to half its width until the line fits `room`.
// `widthAt` measures the line at a width in percent of the font's own; the result is the first
// width the line fits at (100: the font as it is), or 50.
int FittingStretch(int room, const std::function<int(int stretch)>& widthAt);

// The three lines as a text console shows them: each shown value between the dialog's labels,
// both versions in the one form of ShownVersion.
std::array<std::string, 3> ConfirmationLines(const ConfirmationValues& values);

}  // namespace vexil
