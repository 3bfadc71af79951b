#include "frontend/Confirmation.h"

#include "resources/ConfirmLabels.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

namespace vexil {

std::array<std::string, 3> ShownConfirmation(const ConfirmationValues& values) {
    const std::string& file = values.fileVersion;
    return {values.target,
            values.deviceVersion.empty() ? std::string(LoadString(msg::kNoVersion))
                                         : values.deviceVersion,
            file.size() > 1 ? file.substr(1, 4) : std::string()};
}

std::array<std::string, 3> ConfirmationLines(const ConfirmationValues& values) {
    const std::array<std::string, 3> shown = ShownConfirmation(values);
    const confirm::Label labels[] = {confirm::kTarget, confirm::kCurrentVersion,
                                     confirm::kFileVersion};
    std::array<std::string, 3> lines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i] = std::string(labels[i].before) + " " + shown[i] + " " + labels[i].after;
    }
    return lines;
}

}  // namespace vexil
