// The print-server models' download files by model index (1 to 6): the file names and the model
// code each file's identification record must carry. Every file name and model code is written
// here and nowhere else; what sets the models apart in the download sequences is the engine's
// (engine/ModelTable.h).
#pragma once

#include <array>

namespace vexil {

struct ModelFiles {
    const char* mainFile;       // opened by this relative name from the working directory
    const char* modelCode;      // what the image's identification record must carry
    const char* companionFile;  // sent after the main file; nullptr for one-file models

    constexpr bool TwoFiles() const { return companionFile != nullptr; }
};

// clang-format off
inline constexpr std::array<ModelFiles, 6> kModelFiles{{
    // main file  code    companion
    {"RS.BIN",    "1601", nullptr},
    {"PS1B.BIN",  "5101", "PS2B.BIN"},
    {"PS1B.BIN",  "5100", "PS2B.BIN"},
    {"PS1B.BIN",  "0601", "PS2B.BIN"},
    {"RS.BIN",    "2101", nullptr},
    {"RS.BIN",    "aa01", nullptr},
}};
// clang-format on

// The files of model 1 to 6, or nullptr for any other index.
constexpr const ModelFiles* FindModelFiles(int modelIndex) {
    if (modelIndex < 1 || modelIndex > static_cast<int>(kModelFiles.size())) {
        return nullptr;
    }
    return &kModelFiles[static_cast<std::size_t>(modelIndex - 1)];
}

}  // namespace vexil
