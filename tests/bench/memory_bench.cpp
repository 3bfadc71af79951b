// Peak memory of the program's side of a download (engine, reader and transport library) for a
// 1 MiB and a 64 MiB image: the transfer works in fixed 512-byte buffers, so the peak must not
// grow with the image. Each size runs in a fresh process, since the peak is a high-water mark.
// Run: build/tests/bench/memory_bench   (takes about half a minute)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/DownloadEngine.h"
#include "engine/TargetRecord.h"
#include "tests/bench/BenchSupport.h"
#include "tests/bench/HeadlessDownload.h"
#include "tests/support/Quiet.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace vexil;

constexpr int kPort = 27101;

std::string MakeImage(const std::filesystem::path& dir, std::size_t bytes) {
    const auto path = dir / ("image-" + std::to_string(bytes >> 20) + ".bin");
    std::ofstream out(path, std::ios::binary);
    for (std::size_t address = 0; address < bytes; address += 32) {
        const auto record = test::DataRecord(static_cast<std::uint32_t>(address & 0xFFFFFF), 32,
                                             static_cast<std::uint8_t>(address >> 5));
        out.write(reinterpret_cast<const char*>(record.data()),
                  static_cast<std::streamsize>(record.size()));
    }
    const auto end = test::EndRecord();
    out.write(reinterpret_cast<const char*>(end.data()), 3);
    return path.string();
}

// In a child process: the whole transfer of `path`; returns the child's peak RSS in KiB.
long PeakOfTransfer(const std::string& path) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        long peak = -1;
        {
            bench::HeadlessDownload download(kPort);
            if (download.Ready() && download.Send(path) == 0) {
                rusage usage{};
                getrusage(RUSAGE_SELF, &usage);
                peak = usage.ru_maxrss;
            }
        }
        (void)!::write(pipeFds[1], &peak, sizeof peak);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    long peak = -1;
    (void)!::read(pipeFds[0], &peak, sizeof peak);
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return peak;
}

void PeakMemory(benchmark::State& state) {
    const auto bytes = static_cast<std::size_t>(state.range(0)) << 20;
    test::ScratchDir dir;
    const std::string path = MakeImage(dir.path(), bytes);
    test::SimProcess sim({"--quiet", "--download-port", std::to_string(kPort), "--vantrel-port",
                          "27131", "--bramble-port", "27121", "--ipx-tunnel-port", "0"});
    for (auto _ : state) {
        const long peak = PeakOfTransfer(path);
        if (peak < 0) {
            state.SkipWithError("the transfer failed");
            break;
        }
        state.counters["peak_rss_KiB"] = static_cast<double>(peak);
    }
}

BENCHMARK(PeakMemory)->Arg(1)->Arg(64)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
