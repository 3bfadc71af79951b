// The print-server models by model index (1 to 6): their download files (format/ModelFiles.h)
// and what sets each apart in the download sequences. Every model trait is written here and
// nowhere else.
#pragma once

#include "format/DevicePayloads.h"
#include "format/ModelFiles.h"

namespace vexil {

struct ModelTraits : ModelFiles {
    VersionQuery tcpQuery;  // the query over TCP/IP (over IPX every model takes Vantrel)
    // Loads over TCP/IP only: over IPX it has no main file, and after a download the TCP/IP
    // controls come back whichever transport was chosen.
    bool tcpOnly;
    // Whether a download-mode switch that fails every attempt ends the download (otherwise the
    // sequence goes on as if the print server had taken it), over TCP/IP and over IPX.
    bool switchRequiredTcp;
    bool switchRequiredIpx;
};

// The row of model 1 to 6, or nullptr for any other index.
const ModelTraits* FindModel(int modelIndex);

// Whether a print server of model 1 to 6 can ever send a valid reply to its TCP/IP version
// query: the validity rule of that query applied to a reply that carries the model's own code
// in bytes 6 and 7, all else as a valid reply has it. A Bramble reply is not valid when byte 7
// is 1, which is the last byte of some models' own codes (5101, 0601): every reply of theirs
// reads as not valid. The rule is kept, so that no reply it calls invalid is ever trusted; for
// those models the version cannot be verified over TCP/IP, `--yes` downloads only with
// `--allow-unverified`, and `--skip-current` never skips. False for any other index.
bool CanVerifyOverTcp(int modelIndex);

// The model that the model list's first (and only) entry, "LANｶｰﾄﾞｵﾌﾟｼｮﾝ", chooses.
inline constexpr int kLanCardModel = 6;

}  // namespace vexil
