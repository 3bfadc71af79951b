// What the simulator says on stderr, each line behind its name, and when it plays several print
// servers, a print server's lines behind that one's address as well.
// The lines of its work (every exchange, a finished download, the connections it closes) are
// English in every language, as scripts and tests read them; the lines a person reads when it
// starts, or cannot start or go on, come from the catalogs (docs/printserver-sim.md).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace vexil::sim {

// A size as the log prints it, with %llu: the printf of Windows' C runtime, whose format the
// compiler checks there, has no %zu.
constexpr unsigned long long Count(std::size_t size) {
    return size;
}

class SimLog {
  public:
    // `out` nullptr says nothing at all (for tests). A `name` goes before each line.
    explicit SimLog(bool quiet, std::FILE* out = stderr, std::string name = {})
        : quiet_(quiet), out_(out), prefix_("vexil-printserver-sim: ") {
        if (!name.empty()) {
            prefix_.append(name).append(": ");
        }
    }
    // The running commentary: where it listens, every request, its limits. --quiet leaves it
    // out.
    void Note(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // What --quiet keeps: the summary of a finished download, and why it cannot go on.
    void Always(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  private:
    bool quiet_;
    std::FILE* out_;
    std::string prefix_;
};

}  // namespace vexil::sim
