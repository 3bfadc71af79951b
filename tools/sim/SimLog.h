// What the simulator says on stderr, each line behind its name.
#pragma once

#include <cstdio>

namespace vexil::sim {

class SimLog {
  public:
    // `out` nullptr says nothing at all (for tests).
    explicit SimLog(bool quiet, std::FILE* out = stderr) : quiet_(quiet), out_(out) {}
    // The running commentary on every request, which --quiet leaves out.
    void Note(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // What --quiet keeps: where it listens, the summary of a finished download, failures.
    void Always(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  private:
    bool quiet_;
    std::FILE* out_;
};

}  // namespace vexil::sim
