// What the simulator says on stderr, each line behind its name.
#pragma once

#include <cstdio>

namespace vexil::sim {

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
