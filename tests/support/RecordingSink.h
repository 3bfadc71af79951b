// What the engine shows, recorded in order instead of shown.
#pragma once

#include <vector>

#include "engine/DialogPort.h"

namespace vexil::test {

struct RecordedMessage {
    int id;
    Icon icon;
    bool operator==(const RecordedMessage&) const = default;
};

class RecordingSink : public MessageSink {
  public:
    void ShowMessage(int stringId, Icon icon) override { messages.push_back({stringId, icon}); }
    std::vector<RecordedMessage> messages;
};

}  // namespace vexil::test
