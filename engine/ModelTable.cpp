#include "engine/ModelTable.h"

#include <array>

namespace vexil {

namespace {

using enum VersionQuery;

// clang-format off
constexpr std::array<ModelTraits, 6> kModels{{
    // main file  code    companion   TCP/IP    TCP only  failed switch ends it
    //                                query               TCP/IP  IPX
    {"RS.BIN",    "1601", nullptr,    kVantrel, false,    false,  false},
    {"PS1B.BIN",  "5101", "PS2B.BIN", kBramble, false,    false,  false},
    {"PS1B.BIN",  "5100", "PS2B.BIN", kBramble, false,    false,  false},
    {"PS1B.BIN",  "0601", "PS2B.BIN", kBramble, false,    false,  false},
    {"RS.BIN",    "2101", nullptr,    kVantrel, true,     true,   false},
    {"RS.BIN",    "aa01", nullptr,    kVantrel, false,    true,   true},
}};
// clang-format on

}  // namespace

const ModelTraits* FindModel(int modelIndex) {
    if (modelIndex < 1 || modelIndex > static_cast<int>(kModels.size())) {
        return nullptr;
    }
    return &kModels[static_cast<std::size_t>(modelIndex - 1)];
}

}  // namespace vexil
