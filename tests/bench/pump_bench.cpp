// CPU used by the message pump while it waits with an idle event queue, as a share of one
// core, beside a pump that polls without waiting (what the wait saves).
// Run: build/tests/bench/pump_bench   (takes about 12 seconds)
#include <sys/resource.h>

#include <QApplication>
#include <chrono>

#include "tests/bench/BenchSupport.h"
#include "tests/support/EngineFakes.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"

namespace {

using namespace vexil;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs `wait` and reports the CPU it used as a share of the wall time.
template <typename Wait>
void MeasureShare(benchmark::State& state, Wait wait) {
    for (auto _ : state) {
        const double cpuBefore = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        wait();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.counters["cpu_share_%"] = 100.0 * (CpuSeconds() - cpuBefore) / wall;
        state.counters["wall_s"] = wall;
    }
}

struct Window {
    test::ScriptedTransport transport;
    DialogServices services;
    MainDialog dialog{transport, services};
    Window() { dialog.show(); }
};

Window& TheWindow() {
    static Window window;
    return window;
}

void PumpTenSeconds(benchmark::State& state) {
    MeasureShare(state, [] { TheWindow().dialog.Logic().Engine().PumpMessages(10); });
}

void PollWithoutWaiting(benchmark::State& state) {
    MeasureShare(state, [] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < end) {
            TheWindow().dialog.Logic().DispatchEvents(0);
        }
    });
}

BENCHMARK(PumpTenSeconds)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PollWithoutWaiting)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
