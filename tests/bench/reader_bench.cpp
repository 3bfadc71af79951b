// Reading a 64 MiB download file block by block with the reader, against a plain loop that
// freads the same file in block-sized pieces and sums the same bytes. And what the SHA-256 of
// the approved sums costs: the file pinned (read once, hashed, copied into a private file) and
// the reader's check of that copy, against a plain read of the file in large pieces.
// Run: build/tests/bench/reader_bench   (the ratio lines at the end are each / baseline)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "format/DownloadFileReader.h"
#include "platform/PinnedFile.h"
#include "tests/bench/BenchSupport.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace vexil;

const std::string& BenchFile() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() / "vexil-reader-bench.bin";
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        std::size_t written = 0;
        std::uint32_t address = 0;
        while (written < (64u << 20)) {
            const auto record =
                test::DataRecord(address & 0xFFFFFF, 32, static_cast<std::uint8_t>(address >> 5));
            out.write(reinterpret_cast<const char*>(record.data()),
                      static_cast<std::streamsize>(record.size()));
            written += record.size();
            address += 32;
        }
        const auto end = test::EndRecord();
        out.write(reinterpret_cast<const char*>(end.data()), 3);
        return file.string();
    }();
    return path;
}

void Baseline(benchmark::State& state) {
    const std::string& path = BenchFile();
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::uint8_t buffer[kBlockBufferSize];
        unsigned sum = 0;
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            for (std::size_t i = 0; i < got; ++i) {
                sum += buffer[i];
            }
        }
        std::fclose(file);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

void Reader(benchmark::State& state) {
    const std::string& path = BenchFile();
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::uint8_t buffer[kBlockBufferSize];
        std::uint32_t length = 0;
        std::uint64_t total = 0;
        int result = 0;
        while ((result = ReadRecordBlock(file, buffer, length)) == 0) {
            total += length;
        }
        if (result == 1) {
            std::fclose(file);
        } else {
            state.SkipWithError("the bench file did not read cleanly");
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

// One read of the file, as the system gives it, nothing done with the bytes.
void PlainRead(benchmark::State& state) {
    const std::string& path = BenchFile();
    std::vector<char> buffer(64 * 1024);
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::size_t total = 0;
        for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
            total += got;
        }
        std::fclose(file);
        benchmark::DoNotOptimize(total);
    }
}

// The pin alone: the read, the hash and the private copy a download with sums makes first.
void Pin(benchmark::State& state) {
    const std::string& path = BenchFile();
    for (auto _ : state) {
        PinnedFile pinned;
        FileRefusal refusal;
        if (!pinned.Pin(path, refusal)) {
            state.SkipWithError("the bench file did not pin");
        }
        benchmark::DoNotOptimize(pinned.Sha256Hex().data());
    }
}

// The whole file check of a download as it runs now: pinned, then every block read from the
// copy. Against Reader, the check of the file by its name alone, this is what the sums add.
void PinnedReader(benchmark::State& state) {
    const std::string& path = BenchFile();
    for (auto _ : state) {
        PinnedFile pinned;
        FileRefusal refusal;
        if (!pinned.Pin(path, refusal) || VerifyImageStream(pinned.Open(), kBlockBufferSize) != 0) {
            state.SkipWithError("the bench file did not check cleanly");
        }
    }
}

BENCHMARK(Baseline)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Pin)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PinnedReader)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Reader)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    return vexil::bench::RunWithRatio(argc, argv, "Baseline");
}
