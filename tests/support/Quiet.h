// A front end in every role of the engine that shows nothing: for harnesses
// and benchmarks that only need the engine to run.
#pragma once

#include "engine/Ports.h"

namespace vexil::test {

class HeadlessPort : public MessageSink,
                     public ProgressDisplay,
                     public Confirmer,
                     public EventPump {
  public:
    void ShowMessage(int, Icon) override {}
    void SetStatusText(int) override {}
    void ShowStatus(bool) override {}
    void DownloadStarted() override {}
    void SetProgressRange(int, int) override {}
    void AdvanceProgress(int) override {}
    void SetProgressPosition(int) override {}
    bool ConfirmTarget(const ConfirmationValues&) override { return true; }
    void DispatchEvents(int) override {}
    std::int64_t NowMilliseconds() override { return 0; }
    void* WindowHandle() override { return nullptr; }
};

}  // namespace vexil::test
