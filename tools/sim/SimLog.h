// What the simulator says on stderr, each line behind its name.
#pragma once

#include <cstddef>
#include <cstdio>

namespace vexil::sim {

// A size as the log prints it, with %llu: the printf of Windows' C runtime, whose format the
// compiler checks there, has no %zu.
constexpr unsigned long long Count(std::size_t size) {
    return size;
}

class SimLog {
  public:
    // `out` nullptr says nothing at all (for tests).
    explicit SimLog(bool quiet, std::FILE* out = stderr) : quiet_(quiet), out_(out) {}
    // The running commentary: where it listens, every request, its limits. --quiet leaves it
    // out.
    void Note(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // What --quiet keeps: the summary of a finished download, and why it cannot go on.
    void Always(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  private:
    bool quiet_;
    std::FILE* out_;
};

}  // namespace vexil::sim
