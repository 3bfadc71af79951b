#include "frontend/Confirmation.h"

#include "engine/DownloadEngine.h"
#include "resources/ConfirmLabels.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"
#include "resources/Text.h"

namespace vexil {

std::array<std::string, 3> ShownConfirmation(const ConfirmationValues& values) {
    const std::string& file = values.fileVersion;
    return {values.target,
            values.deviceVersion.empty() ? std::string(LoadString(msg::kNoVersion))
                                         : values.deviceVersion,
            file.size() > 1 ? file.substr(1, 4) : std::string()};
}

int FittingStretch(int room, const std::function<int(int stretch)>& widthAt) {
    int stretch = 100;
    while (stretch > 50 && widthAt(stretch) > room) {
        stretch -= 5;
    }
    return stretch;
}

std::array<std::string, 3> ConfirmationLines(const ConfirmationValues& values) {
    std::array<std::string, 3> shown = ShownConfirmation(values);
    // A console's lines stand beside its log and JSON, which write versions in one form; the
    // window's cut of the file's first character would lose a digit of a version from 10.00 on.
    if (values.Verified()) {
        shown[1] = ShownVersion(values.deviceVersion);
    }
    shown[2] = ShownVersion(values.fileVersion);
    const confirm::Label labels[] = {confirm::kTarget, confirm::kCurrentVersion,
                                     confirm::kFileVersion};
    std::array<std::string, 3> lines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // A full stop follows its value directly ("1.10."), as a word follows it after a space.
        const std::string_view after = Tr(labels[i].after);
        lines[i] = std::string(Tr(labels[i].before)) + " " + shown[i] +
                   (after.starts_with('.') ? "" : " ") + std::string(after);
    }
    return lines;
}

}  // namespace vexil
