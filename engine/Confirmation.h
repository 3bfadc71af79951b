// What the target confirmation shows before a print server is switched to download mode: the
// target as the user typed it, the version the print server runs now and the version of the
// download file, one line each. The window's confirmation dialog and the command line show the
// same three lines.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vexil {

struct ConfirmationEntry {
    bool tcp = true;                    // TCP/IP: the four octet texts; IPX: the MAC address text
    std::array<std::string, 4> octets;  // as typed, first octet first
    std::string mac;
    std::string deviceVersion;  // empty when the print server reported none
    std::string fileVersion;    // five characters such as 01.10
};

// The target (the octets joined by "." without any check, or the MAC address alone: the IPX
// network number is not shown), the print server's version or `noVersion`, and the file's
// version without its first character (01.10 shows as 1.10).
std::array<std::string, 3> ConfirmationLines(const ConfirmationEntry& entry,
                                             std::string_view noVersion);

}  // namespace vexil
