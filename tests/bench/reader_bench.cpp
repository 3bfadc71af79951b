// Reading a 64 MiB download file block by block with the reader, against a plain loop that
// freads the same file in block-sized pieces and sums the same bytes.
// Run: build/tests/bench/reader_bench   (the ratio line at the end is reader / baseline)
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "format/DownloadFileReader.h"
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

BENCHMARK(Baseline)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Reader)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    return vexil::bench::RunWithRatio(argc, argv, "Baseline");
}
