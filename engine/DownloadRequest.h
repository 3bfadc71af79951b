// What a front end hands the engine for one download, and what it gets back. The request holds
// the target as the user entered it; the engine checks it, makes the target record from it and
// owns that record and the download socket for the whole run.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/DownloadResult.h"
#include "engine/Ports.h"
#include "tavdl/tavdl.h"

namespace vexil {

// One line of a checksums file: the SHA-256 (64 lowercase hexadecimal digits) that the file of
// that name must have.
struct FileSum {
    std::string name;
    std::string sha256;
    bool operator==(const FileSum&) const = default;
};

// What the sums say of a file read as `sha256`: listed under `name` with that sum alone (a
// name listed twice must match both lines, as sha256sum -c checks each), not listed, or listed
// with another sum.
enum class SumVerdict { kMatches, kNotListed, kOtherSum };
SumVerdict CheckSum(const std::vector<FileSum>& sums, std::string_view name,
                    std::string_view sha256);

struct DownloadRequest {
    bool ipx = false;
    // TCP/IP: the four octet texts as entered, first octet first. The first octet is tested
    // for a loopback address whatever the transport, as the download command does.
    std::array<std::string, 4> octets;
    // IPX: the network number and MAC address texts, hexadecimal.
    std::string network;
    std::string mac;
    int modelIndex = 0;
    // The model was picked as the model list's first entry, the LAN card option: a print server
    // that answers with another model code is then refused.
    bool firstListEntry = false;
    // A print server that already reports the download file's version is left alone: the run
    // ends after the version query, before the confirmation, with the outcome alreadyCurrent.
    bool skipCurrent = false;
    // The sums the administrator approved (--checksums): every file the download sends must be
    // listed with the SHA-256 of the bytes that are sent, before anything is sent. No value: no
    // sum is asked for (each file's is still reported).
    std::optional<std::vector<FileSum>> sums;
};

// The address checks of the download command on a request, in the order the user meets them: 0
// when the address can be used, else the message to show, or kSilentRefusal for an address of
// four zero bytes, which is refused without one.
inline constexpr int kSilentRefusal = -1;
int EntryRefusal(const DownloadRequest& request);

// The request's address from one text, as a command line gives it: A.B.C.D into the four octet
// texts, or NETWORK:NODE (request.ipx) into the network and MAC texts; nothing is checked.
void SetAddressText(DownloadRequest& request, std::string_view text);

// Writes the request's transport, address and model into a target record.
void FillTargetRecord(const DownloadRequest& request, TAVDL_ADDR& record);

struct ShownMessage {
    int stringId;
    Icon icon;
    bool operator==(const ShownMessage&) const = default;
};

struct DownloadOutcome {
    DownloadResult result = result::kSuccess;
    // The address was refused before anything ran: the refusal's message (if any) has been
    // shown, and there is no result to report.
    bool refused = false;
    std::string deviceVersion;    // empty when the print server reported none
    std::string deviceModelCode;  // with deviceVersion
    std::string fileVersion;      // the download file's, such as 01.10
    // The request's skipCurrent met a print server that reports the file's version: nothing
    // was sent after the version query, and the result is kSuccess (what was asked holds).
    bool alreadyCurrent = false;
    // The switch to download mode was sent, so the print server may no longer hold the firmware
    // it had, whatever the result: everything before it (the file check, the version query)
    // leaves the print server as it was.
    bool modeSwitchSent = false;
    // The SHA-256 of the download file and of its companion file as they were read for the
    // check and are sent, as sha256sum writes it; empty when the file was not read.
    std::string fileSha256;
    std::string companionSha256;
    // The file the sums refused (not listed, or listed with another sum) with its SHA-256, when
    // they refused one: the file check's result, which the front end names in its message.
    struct SumRefusal {
        std::string file;
        std::string sha256;
        SumVerdict verdict = SumVerdict::kNotListed;
    };
    std::optional<SumRefusal> sumRefusal;
    // Every message shown for this download, in order; ReportOutcome adds the result's.
    std::vector<ShownMessage> messages;

    // The first message shown with the error icon, 0 when none: the cause, where the last
    // message is only its consequence (no answer to the version query, then "another model").
    int FirstErrorMessage() const;
    // The last message shown, 0 when none.
    int LastMessage() const;
};

// What the target confirmation asks about before a print server is switched to download mode.
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

}  // namespace vexil
