#include "engine/DownloadEngine.h"

#include <sys/stat.h>

#include <cstring>
#include <initializer_list>

#include "engine/DownloadFile.h"
#include "engine/TargetRecord.h"

namespace vexil {

namespace {

constexpr std::size_t kReplySize = 512;
constexpr std::uint8_t kNoAnswer = 0xFF;
constexpr std::uint8_t kAck[3] = {0x70, 0x30, 0x03};  // "p0" and 0x03

bool IsTwoFileModel(int model) {
    return model >= 2 && model <= 4;
}

// The input controls that stay locked from the announcement to the end of the download.
constexpr std::initializer_list<int> kLockedDuringDownload = {
    control::kModelList,  control::kModelLabel,   control::kBrowse,  control::kWebPage,
    control::kTcpCheck,   control::kIpxCheck,     control::kOctet1,  control::kOctet2,
    control::kOctet3,     control::kOctet4,       control::kIpLabel, control::kNetworkAddress,
    control::kMacAddress, control::kNetworkLabel, control::kMacLabel};

}  // namespace

std::string DownloadEngine::FormatVersionBytes(std::uint8_t first, std::uint8_t second,
                                               bool withDot) {
    char text[16];
    std::snprintf(text, sizeof text, withDot ? "%x.%02x" : "%x%02x", first, second);
    return text;
}

int DownloadEngine::IdentifyDownloadFile(int modelIndex) {
    return vexil::IdentifyDownloadFile(modelIndex, *target, fileModelCode, fileVersion, port_);
}

void DownloadEngine::EnableControls(std::initializer_list<int> ids, bool enabled) {
    for (int id : ids) {
        port_.EnableControl(id, enabled);
    }
}

int DownloadEngine::RunTcpDownload() {
    return RunDownload(Kind::Tcp);
}
int DownloadEngine::RunIpxDownload() {
    return RunDownload(Kind::Ipx);
}

int DownloadEngine::QueryVersion(Kind kind, int model, std::uint8_t* reply) {
    const bool ipx = kind == Kind::Ipx;
    // Over TCP/IP models 2 to 4 answer the Bramble query on its own port; everything else,
    // and every model over IPX, answers the Vantrel query.
    const bool bramble = !ipx && IsTwoFileModel(model);
    const int attempts = ipx ? 5 : 3;
    deviceVersion.clear();
    if (!ipx) {
        target->waitSeconds = 2;
        target->mode = TAVDL_MODE_TCP_QUERY;
        SetInetPort(*target, bramble ? kBrambleQueryPort : kVantrelQueryPort);
    }
    int lastResult = 0;
    bool noAnswer = false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (Cancelled()) {
            port_.ShowMessage(msg::kCancelledDuringQuery, Icon::None);
            return result::kNotStarted;
        }
        if (ipx) {
            target->waitSeconds = 5;
        }
        lastResult =
            bramble ? transport_.BrambleGetVersion(target, mainWindowHandle, kReplySize, reply)
                    : transport_.VantrelGetVersion(target, mainWindowHandle, kReplySize, reply);
        if (reply[0] == kNoAnswer) {
            noAnswer = true;
            break;
        }
        if (lastResult == 0) {
            const bool valid = bramble ? reply[7] != 1 : reply[0] == 7;
            if (valid) {
                deviceVersion = FormatVersionBytes(reply[8], reply[9], true);
                deviceModelCode = FormatVersionBytes(reply[6], reply[7], false);
                if (deviceModelCode.size() < 4) {
                    deviceModelCode = "0" + deviceModelCode;
                }
                break;
            }
            port_.ShowMessage(msg::kVersionInvalid, Icon::Error);
        }
        // Over TCP/IP the one-file models start each further attempt with a clean buffer; the
        // two-file models and IPX keep the last reply.
        if (!ipx && !IsTwoFileModel(model)) {
            std::memset(reply, 0, kReplySize);
        }
    }
    if (lastResult != 0 || noAnswer) {
        port_.ShowMessage(msg::kVersionFailed, Icon::Error);
    }
    return 0;
}

int DownloadEngine::RunDownload(Kind kind) {
    const bool ipx = kind == Kind::Ipx;
    std::uint8_t reply[kReplySize] = {};
    mainWindowHandle = port_.WindowHandle();
    const int model = target->modelIndex;

    // File check, before any traffic with the print server.
    if (IdentifyDownloadFile(model) != 0 ||
        fileModelCode != std::string(target->modelCode, strnlen(target->modelCode, 5))) {
        port_.ShowMessage(msg::kFileMissing, Icon::Warning);
        return result::kNotStarted;
    }

    if (const int stopped = QueryVersion(kind, model, reply); stopped != 0) {
        return stopped;
    }

    // The first list entry is the LAN card option, which reports model code aa01.
    if (port_.ModelListSelection() == 0 && deviceModelCode != "aa01" && reply[0] != 0) {
        return result::kWrongModel;
    }

    if (port_.RunConfirmation() == 2) {
        return result::kNotStarted;
    }

    port_.ShowMessage(msg::kDownloadStarts, Icon::Information);
    port_.ShowMessage(msg::kDoNotSwitchOff, Icon::Warning);
    port_.SetStatusText(msg::kStatusModeSwitch);
    port_.ShowStatus(true);
    EnableControls(kLockedDuringDownload, false);

    // Download-mode switch.
    bool switched = false;
    for (int attempt = 0; attempt < (ipx ? 5 : 3); ++attempt) {
        if (Cancelled()) {
            return result::kCancelled;
        }
        if (ipx) {
            target->mode = TAVDL_MODE_IPX;
            SetIpxSocket(*target, kIpxDownloadSocket);
        } else {
            target->mode = TAVDL_MODE_TCP_QUERY;
            SetInetPort(*target, kBrambleQueryPort);
        }
        target->waitSeconds = 5;
        const int switchResult =
            transport_.BrambleJampEprom(target, mainWindowHandle, kReplySize, reply);
        if (reply[0] == kNoAnswer) {
            return result::kNoAnswerToModeSwitch;
        }
        if (switchResult == 0) {
            switched = true;
            break;
        }
        std::memset(reply, 0, kReplySize);
    }
    // Some models go on without a confirmed switch; these two cannot.
    if (!switched && (model == 6 || (!ipx && model == 5))) {
        return result::kModeSwitchFailed;
    }

    if (!Cancelled()) {
        PumpMessages(10);
    }
    if (!Cancelled()) {
        if (!ipx) {
            target->mode = TAVDL_MODE_TCP_CONNECTION;
            SetInetPort(*target, kDownloadPort);
        }
        target->waitSeconds = 10;
        if (transport_.OpenSocket(target, &downloadSocket) == 0) {
            port_.ShowMessage(msg::kSocketNotOpened, ipx ? Icon::Warning : Icon::Error);
        }
    }

    bool connected = false;
    for (int attempt = 0; attempt < (ipx ? 6 : 5); ++attempt) {
        if (Cancelled()) {
            return result::kCancelled;
        }
        target->waitSeconds = ipx ? 10 : 2;
        if (!ipx) {
            target->mode = TAVDL_MODE_TCP_CONNECTION;
        }
        if (transport_.DownloadConnection(target, mainWindowHandle, kReplySize, reply,
                                          &downloadSocket) == 0) {
            connected = true;
            break;
        }
        if (ipx) {
            std::memset(reply, 0, kReplySize);
        }
    }
    if (!connected) {
        port_.ShowMessage(msg::kConnectFailed, Icon::Error);
        return result::kConnectionFailed;
    }

    if (!Cancelled()) {
        PumpMessages(10);
    }

    port_.SetStatusText(msg::kStatusErasing);
    bool erased = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Cancelled()) {
            return result::kCancelled;
        }
        target->waitSeconds = ipx ? 40 : 60;
        if (!ipx) {
            target->mode = TAVDL_MODE_TCP_CONNECTION;
        }
        if (transport_.DownloadEraseFlash(target, mainWindowHandle, kReplySize, reply,
                                          &downloadSocket) == 0) {
            erased = true;
            break;
        }
    }
    if (!erased) {
        port_.ShowMessage(msg::kEraseError, Icon::Error);
        return result::kEraseFailed;
    }

    PumpMessages(5);
    std::memset(reply, 0, kReplySize);
    if (Cancelled()) {
        return result::kCancelled;
    }
    port_.SetStatusText(msg::kStatusDownloading);
    ipxSequence.high = 0;
    ipxSequence.low = 3;

    // Main file. Model 5 has no main file over IPX. A main file that does not open ends the
    // download here: the flash has just been erased, and going on to the finish step would
    // report an empty flash as a successful download.
    const ModelEntry* entry = FindModel(model);
    std::uint32_t size = 0;
    std::FILE* mainFile =
        Cancelled() ? nullptr : OpenImage(ipx && model == 5 ? "" : entry->mainFile, size);
    if (Cancelled()) {
        if (mainFile != nullptr) {
            std::fclose(mainFile);
        }
        return result::kCancelled;
    }
    const int mainResult = mainFile == nullptr ? -1 : SendAndClose(mainFile, size);
    if (mainResult != 0) {
        port_.ShowStatus(false);
        return mainResult == -1 ? result::kConnectionFailed : mainResult;
    }

    if (IsTwoFileModel(model) && !Cancelled()) {
        // A companion file that does not open, or whose transfer fails, leaves the image
        // incomplete: the download ends before the finish step.
        // SendAndClose closes the file on every result; it must not be closed here again.
        std::FILE* companion = OpenImage(entry->companionFile, size);
        if (companion == nullptr || SendAndClose(companion, size) != 0) {
            return result::kFinishFailed;
        }
    }

    if (Finish(kind, reply) != 0) {
        return result::kFinishFailed;
    }

    if (ipx) {
        transport_.CloseSocket(&downloadSocket);
        EnableControls(
            {control::kNetworkAddress, control::kMacAddress, control::kModelList,
             control::kModelLabel, control::kBrowse, control::kIpxCheck, control::kNetworkLabel,
             control::kMacLabel, control::kTcpCheck, control::kWebPage},
            true);
        port_.ShowStatus(false);
    } else if (model == 5) {
        // A model that loads over TCP/IP only gets its TCP/IP controls back at once.
        transport_.CloseSocket(&downloadSocket);
        EnableControls({control::kOctet1, control::kOctet2, control::kOctet3, control::kOctet4,
                        control::kModelList, control::kModelLabel, control::kBrowse},
                       true);
        EnableControls({control::kIpxCheck, control::kNetworkLabel, control::kMacLabel}, false);
        EnableControls({control::kTcpCheck, control::kIpLabel, control::kWebPage}, true);
        port_.ShowStatus(false);
    } else {
        port_.ShowStatus(false);
        transport_.CloseSocket(&downloadSocket);
    }
    return result::kSuccess;
}

// Opens an image file for binary reading and takes its size; shows message 106 when it does
// not open.
std::FILE* DownloadEngine::OpenImage(const char* name, std::uint32_t& size) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        port_.ShowMessage(msg::kCannotOpenFile, Icon::Error);
        return nullptr;
    }
    struct stat info {};
    size = fstat(fileno(file), &info) == 0 ? static_cast<std::uint32_t>(info.st_size) : 0;
    return file;
}

int DownloadEngine::SendAndClose(std::FILE* file, std::uint32_t size) {
    const int sent = SendImageFile(file, size);
    if (sent != -1) {
        std::fclose(file);  // after -1 the reader has closed it already
    }
    return sent;
}

int DownloadEngine::Finish(Kind kind, std::uint8_t* reply) {
    if (Cancelled()) {
        // The attempts are skipped; the reply buffer, cleared before the transfer, then holds
        // no acknowledgement and the download ends as not finished.
        return result::kFinishFailed;
    }
    int lastResult = 0;
    if (kind == Kind::Tcp) {
        std::uint8_t request[2] = {0x71, 0x03};
        for (int attempt = 0; attempt < 3; ++attempt) {
            target->waitSeconds = 2;
            lastResult = transport_.DownloadFinish(target, mainWindowHandle, sizeof request,
                                                   request, kReplySize, reply, &downloadSocket);
            if (lastResult == 0 && std::memcmp(reply, kAck, 3) == 0) {
                break;
            }
        }
        if (lastResult != 0 || std::memcmp(reply, kAck, 3) != 0 || reply[3] != 0) {
            return result::kFinishFailed;
        }
        return 0;
    }
    std::uint8_t request[11] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x71, 0x0A, 0x00};
    for (int attempt = 0; attempt < 6; ++attempt) {
        target->waitSeconds = 10;
        NextIpxSequence(request);
        lastResult = transport_.DownloadFinish(target, mainWindowHandle, sizeof request, request,
                                               kReplySize, reply, &downloadSocket);
        if (lastResult == 0 && reply[0] == 0x01 && reply[1] == 0x00) {
            break;
        }
    }
    if (lastResult != 0 || reply[0] != 0x01 || reply[1] != 0x00) {
        return result::kFinishFailed;
    }
    return 0;
}

int DownloadEngine::SendImageFile(std::FILE* file, std::uint32_t totalSize) {
    std::uint8_t block[kBlockBufferSize] = {};
    std::uint8_t send[kBlockBufferSize] = {};
    std::uint8_t reply[kReplySize] = {};
    const bool ipx = target->mode == TAVDL_MODE_IPX;
    target->waitSeconds = 30;
    port_.SetProgressRange(0, kProgressMax);

    int retries = 0;
    int readResult = 0;
    std::uint32_t length = 0;
    std::uint32_t sendLength = 0;
    bool lastBlock = false;
    for (;;) {
        if (Cancelled()) {
            return result::kCancelled;
        }
        std::memset(reply, 0, sizeof reply);
        if (retries == 0) {
            // A block is read once, however often it has to be sent.
            readResult = ReadRecordBlock(file, block, length, port_,
                                         ipx ? kIpxBlockLimit : kBlockBufferSize);
            lastBlock = readResult == 1;
            const std::uint32_t step =
                totalSize == 0 ? 0 : length * static_cast<std::uint32_t>(kProgressMax) / totalSize;
            if (step > 0) {
                port_.AdvanceProgress(static_cast<int>(step));
            }
        }
        if (readResult < 0 || readResult > 1) {
            port_.ShowMessage(msg::kFileUnreadable, Icon::Error);
            return -1;
        }
        if (retries == 0) {
            if (ipx) {
                const std::uint8_t prefix[kIpxPrefixSize] = {0x01, 0x00, 0x00, 0x00,
                                                             0x00, 0x00, 0x00, 0x00};
                std::memcpy(send, prefix, sizeof prefix);
                NextIpxSequence(send);
                std::memcpy(send + kIpxPrefixSize, block, length);
                sendLength = length + static_cast<std::uint32_t>(kIpxPrefixSize);
            } else {
                std::memcpy(send, block, length);
                sendLength = length;
            }
        }
        const int sent = transport_.DownloadSendData(target, mainWindowHandle, sendLength, send,
                                                     kReplySize, reply, &downloadSocket);
        if (sent != 0) {
            if (Cancelled()) {
                return result::kCancelled;
            }
            if (++retries == 5) {
                return result::kBlockRefused;
            }
            continue;
        }
        const bool acknowledged = ipx ? (std::memcmp(reply + 8, kAck, 3) == 0 || reply[1] == 0)
                                      : std::memcmp(reply, kAck, 3) == 0;
        if (!acknowledged) {
            if (++retries == 5) {
                return result::kBlockNotAcknowledged;
            }
            continue;
        }
        retries = 0;
        std::memset(send, 0, sizeof send);
        if (lastBlock) {
            port_.SetProgressPosition(kProgressMax);
            return 0;
        }
    }
}

void DownloadEngine::NextIpxSequence(std::uint8_t* message) {
    if (ipxSequence.low == 0xFF) {
        ipxSequence.high = static_cast<std::uint8_t>(ipxSequence.high + 1);
    }
    ipxSequence.low = static_cast<std::uint8_t>(ipxSequence.low + 1);
    message[4] = ipxSequence.high;
    message[5] = ipxSequence.low;
}

void DownloadEngine::PumpMessages(int seconds) {
    if (Cancelled()) {
        return;
    }
    const std::int64_t start = port_.NowMilliseconds() / 1000;
    while (!Cancelled()) {
        port_.DispatchEvents(kPumpWaitMs);
        const std::int64_t now = port_.NowMilliseconds() / 1000;
        if (now - start > seconds) {
            break;
        }
    }
}

void DownloadEngine::OnCancelCommand() {
    transport_.CloseSocket(&downloadSocket);
    cancelRequested = 1;
}

}  // namespace vexil
