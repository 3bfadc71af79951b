// What the target confirmation shows before a print server is switched to download mode: the
// target as the user typed it, the version the print server runs now and the version of the
// download file. The window's confirmation dialog and the command line show the same values,
// and the command line prints them with the dialog's labels as three lines.
#pragma once

#include <array>
#include <string>

#include "engine/DownloadRequest.h"

namespace vexil {

// The values as the engine has them.
struct ConfirmationValues {
    // The octets joined by "." without any check, or the MAC address alone: the IPX network
    // number is not shown.
    std::string target;
    std::string deviceVersion;  // as the print server reported it (1.10); empty when none
    std::string fileVersion;    // as the download file carries it (01.10)
    bool operator==(const ConfirmationValues&) const = default;
    // Whether the print server gave a valid version reply, so that its version and model code
    // were read (the engine sets the version from such a reply only). Without one nothing but
    // the address says what print server takes the download: a person at the confirmation can
    // judge that, a run that confirms unattended cannot.
    bool Verified() const { return !deviceVersion.empty(); }
};

ConfirmationValues MakeConfirmation(const DownloadRequest& request,
                                    const std::string& deviceVersion,
                                    const std::string& fileVersion);

// What the dialog's three boxes show: the target, the print server's version or the text for
// none, and the file's version without its first character (01.10 shows as 1.10).
std::array<std::string, 3> ShownConfirmation(const ConfirmationValues& values);

// The three lines as a text console shows them: each shown value between the dialog's labels,
// both versions in the one form of ShownVersion.
std::array<std::string, 3> ConfirmationLines(const ConfirmationValues& values);

}  // namespace vexil
