// What the target confirmation shows before a print server is switched to download mode: the
// target as the user typed it, the version the print server runs now and the version of the
// download file, from the values the engine asks about. The windows' confirmation dialogs and
// the command line show the same texts, and the command line prints them with the dialog's
// labels as three lines.
#pragma once

#include <array>
#include <string>

#include "engine/DownloadRequest.h"  // ConfirmationValues

namespace vexil {

// What the dialog's three boxes show: the target, the print server's version or the text for
// none, and the file's version without its first character (01.10 shows as 1.10).
std::array<std::string, 3> ShownConfirmation(const ConfirmationValues& values);

// The three lines as a text console shows them: each shown value between the dialog's labels.
std::array<std::string, 3> ConfirmationLines(const ConfirmationValues& values);

}  // namespace vexil
