#include "tools/sim/SimLog.h"

#include <cstdarg>

namespace vexil::sim {

namespace {

void Line(std::FILE* out, const std::string& prefix, const char* format, std::va_list args) {
    if (out == nullptr) {
        return;
    }
    std::fputs(prefix.c_str(), out);
    std::vfprintf(out, format, args);
    std::fprintf(out, "\n");
}

}  // namespace

void SimLog::Note(const char* format, ...) const {
    if (quiet_) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    Line(out_, prefix_, format, args);
    va_end(args);
}

void SimLog::Always(const char* format, ...) const {
    std::va_list args;
    va_start(args, format);
    Line(out_, prefix_, format, args);
    va_end(args);
}

}  // namespace vexil::sim
