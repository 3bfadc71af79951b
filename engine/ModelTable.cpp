#include "engine/ModelTable.h"

#include <array>
#include <cstdint>

#include "engine/ProgramPayloads.h"
#include "format/HexText.h"

namespace vexil {

namespace {

using enum VersionQuery;

constexpr ModelTraits Row(int model, VersionQuery tcpQuery, bool tcpOnly, bool switchRequiredTcp,
                          bool switchRequiredIpx) {
    return {*FindModelFiles(model), tcpQuery, tcpOnly, switchRequiredTcp, switchRequiredIpx};
}

// clang-format off
constexpr std::array<ModelTraits, kModelFiles.size()> kModels{{
    //  model  TCP/IP    TCP only  failed switch ends it
    //         query               TCP/IP  IPX
    Row(1,     kVantrel, false,    false,  false),
    Row(2,     kBramble, false,    false,  false),
    Row(3,     kBramble, false,    false,  false),
    Row(4,     kBramble, false,    false,  false),
    Row(5,     kVantrel, true,     true,   false),
    Row(6,     kVantrel, false,    true,   true),
}};
// clang-format on

}  // namespace

bool CanVerifyOverTcp(int modelIndex) {
    const ModelTraits* model = FindModel(modelIndex);
    std::uint8_t reply[payload::kVersionReplySize] = {payload::kVantrelValid};
    return model != nullptr && ParseHexBytes(model->modelCode, reply + payload::kModelCodeAt, 2) &&
           payload::IsValidVersionReply(model->tcpQuery, reply, sizeof reply);
}

const ModelTraits* FindModel(int modelIndex) {
    if (FindModelFiles(modelIndex) == nullptr) {
        return nullptr;
    }
    return &kModels[static_cast<std::size_t>(modelIndex - 1)];
}

}  // namespace vexil
