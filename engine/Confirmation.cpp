#include "engine/Confirmation.h"

namespace vexil {

std::array<std::string, 3> ConfirmationLines(const ConfirmationEntry& entry,
                                             std::string_view noVersion) {
    std::string target = entry.mac;
    if (entry.tcp) {
        target = entry.octets[0];
        for (std::size_t i = 1; i < entry.octets.size(); ++i) {
            target += "." + entry.octets[i];
        }
    }
    return {target, entry.deviceVersion.empty() ? std::string(noVersion) : entry.deviceVersion,
            entry.fileVersion.size() > 1 ? entry.fileVersion.substr(1, 4) : std::string()};
}

}  // namespace vexil
