// Feeds arbitrary bytes to the identification of a download file, as main and companion file,
// for every model index including invalid ones. It must never read past a record or crash, and
// must leave no file open.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "format/DownloadFileReader.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int fd = memfd_create("vexil-fuzz", 0);
    if (fd < 0) {
        return 0;
    }
    if (write(fd, data + 1, size - 1) == static_cast<ssize_t>(size - 1)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const int model = data[0] % 8;
        const vexil::Identification found = vexil::IdentifyDownloadFiles(model, path, path);
        if (found.result == 0 && found.identity.modelCode.size() != 4) {
            __builtin_trap();  // a sound identification always yields a four-digit code
        }
    }
    close(fd);
    return 0;
}
