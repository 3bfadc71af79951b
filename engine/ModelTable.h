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

// The model that the model list's first (and only) entry, "LANｶｰﾄﾞｵﾌﾟｼｮﾝ", chooses.
inline constexpr int kLanCardModel = 6;

}  // namespace vexil
