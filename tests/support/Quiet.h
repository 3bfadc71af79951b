// A dialog port that shows nothing, for harnesses and benchmarks that only need the engine to
// run.
#pragma once

#include "engine/DialogPort.h"

namespace vexil::test {

class HeadlessPort : public DialogPort {
  public:
    void ShowMessage(int, Icon) override {}
    void SetStatusText(int) override {}
    void ShowStatus(bool) override {}
    void DownloadStarted() override {}
    void DownloadEnded(const DownloadEnd&) override {}
    void SetProgressRange(int, int) override {}
    void AdvanceProgress(int) override {}
    void SetProgressPosition(int) override {}
    bool ConfirmTarget(const ConfirmationValues&) override { return true; }
    void DispatchEvents(int) override {}
    std::int64_t NowMilliseconds() override { return 0; }
    void* WindowHandle() override { return nullptr; }
};

}  // namespace vexil::test
