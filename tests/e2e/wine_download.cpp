// One whole download through the engine and the Windows transport library, for the Windows
// build under Wine against the Linux simulator: `wine_download tcp A.B.C.D` or
// `wine_download ipx NETWORK:NODE`, in a folder that holds the model's download file. Prints
// every message and the result, and exits 0 only when the download succeeded.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "engine/Confirmation.h"
#include "engine/DownloadEngine.h"
#include "transport/TavdlTransport.h"

namespace {

using namespace vexil;

// Says what a window would show, confirms the target, and sleeps through the engine's waits.
class PrintingPort final : public DialogPort {
  public:
    void ShowMessage(int stringId, Icon icon) override {
        std::printf("message %d (icon %d)\n", stringId, static_cast<int>(icon));
    }
    void SetStatusText(int stringId) override { std::printf("status %d\n", stringId); }
    void ShowStatus(bool) override {}
    void DownloadStarted() override { std::printf("started\n"); }
    void DownloadEnded(const DownloadEnd& end) override { std::printf("ended %d\n", end.result); }
    void SetProgressRange(int, int) override {}
    void AdvanceProgress(int) override {}
    void SetProgressPosition(int) override {}
    bool ConfirmTarget(const ConfirmationValues& values) override {
        std::printf("confirm %s %s %s\n", values.target.c_str(), values.deviceVersion.c_str(),
                    values.fileVersion.c_str());
        return true;
    }
    void DispatchEvents(int maxWaitMs) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs));
    }
    std::int64_t NowMilliseconds() override { return SteadyMilliseconds(); }
    void* WindowHandle() override { return nullptr; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wine_download tcp A.B.C.D | ipx NETWORK:NODE\n");
        return 2;
    }
    DownloadRequest request;
    request.modelIndex = 6;
    request.firstListEntry = true;
    request.ipx = std::strcmp(argv[1], "ipx") == 0;
    SetAddressText(request, argv[2]);
    TavdlTransport transport;
    PrintingPort port;
    if (!transport.StartSockets()) {
        std::printf("no sockets\n");
        return 1;
    }
    DownloadEngine engine(transport, port);
    const DownloadOutcome outcome = engine.Run(request);
    std::printf("result %d\n", outcome.result);
    return outcome.result == result::kSuccess ? 0 : 1;
}
