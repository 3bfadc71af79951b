// Feeds arbitrary bytes to what vexil-download reads from outside: a targets file (first byte
// even) and the report line a fleet's child hands its parent (first byte odd). Neither may
// crash or read out of bounds; an accepted targets file names no print server twice, and every
// accepted report writes out and reads back the same.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 1) {
        vexil::cli::Report report;
        if (vexil::cli::FromJson(text, report)) {
            vexil::cli::Report again;
            if (!vexil::cli::FromJson(vexil::cli::ToJson(report), again) ||
                vexil::cli::ToJson(again) != vexil::cli::ToJson(report)) {
                std::abort();
            }
        }
        return 0;
    }
    const int fd = ::memfd_create("targets", 0);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        std::abort();
    }
    std::vector<vexil::cli::Target> targets;
    if (!vexil::cli::ReadTargets("/proc/self/fd/" + std::to_string(fd), targets).Refused()) {
        for (std::size_t i = 0; i < targets.size(); ++i) {
            for (std::size_t j = i + 1; j < targets.size() && j < i + 64; ++j) {
                if (targets[i].SameAddress(targets[j])) {
                    std::abort();
                }
            }
        }
    }
    ::close(fd);
    return 0;
}
