#include <cstdlib>

#include "platform/Environment.h"

namespace vexil {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string SystemLanguage() {
    return {};
}

}  // namespace vexil
