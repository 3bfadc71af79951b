// What the engine shows, recorded in order instead of shown.
#pragma once

#include <vector>

#include "engine/Ports.h"

namespace vexil::test {

struct RecordedMessage {
    int id;
    Icon icon;
    bool operator==(const RecordedMessage&) const = default;
};

}  // namespace vexil::test
