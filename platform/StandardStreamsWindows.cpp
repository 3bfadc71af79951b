#include <io.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>

#include "platform/StandardStreams.h"

namespace vexil {

bool OpenStandardStreams() {
    // A program started without a console or with a stream closed has no handle behind that
    // stream (its number is negative, or the handle invalid): NUL takes its place.
    struct Stream {
        std::FILE* file;
        const char* mode;
    };
    for (const Stream& stream : {Stream{stdin, "rb"}, Stream{stdout, "wb"}, Stream{stderr, "wb"}}) {
        const int fd = ::_fileno(stream.file);
        if (fd >= 0 && ::_get_osfhandle(fd) >= 0) {
            continue;
        }
        // A stream without any descriptor (a detached process's, number -2) may refuse even
        // that; it then writes nowhere, just as NUL would, and no file the program opens can
        // take its place: the program goes on.
        if (std::freopen("NUL", stream.mode, stream.file) == nullptr && fd >= 0) {
            return false;
        }
    }
    return true;
}

void SurviveClosedPipes() {
    // Nothing to do: a write to a pipe whose reader has gone fails with an error, never a
    // signal.
}

void TakeHardDescriptorLimit() {}

bool SayOnDescriptor(int fd, const std::string& text, Reason& why) {
    const bool said = ::_write(fd, text.data(), static_cast<unsigned>(text.size())) ==
                      static_cast<int>(text.size());
    if (!said) {
        why = Reason::System(errno);
    }
    ::_close(fd);
    return said;
}

}  // namespace vexil
