// How every program of the project starts and ends: its arguments in UTF-8 (on Windows from the
// UTF-16 command line, so that a name outside the console's code page, résumé.bin or a Japanese
// one, arrives whole), and one last handler for an exception that nothing else caught. Such an
// exception is a fault of the program; it must still end the program with its reason said and
// a status of its own, never by the runtime's abort, which says nothing a script can act on.
#pragma once

#include <cstdio>
#include <exception>
#include <functional>

namespace vexil {

// The status of a usage error in every program: a bad option or operand, or an input or output
// refused before anything was done (sysexits' EX_USAGE). Scripts tell it from a failure of the
// work itself by this one number, whichever program they run.
inline constexpr int kExitUsage = 64;

// The status of a program ended by an internal error: no program uses it for anything else
// (sysexits' EX_SOFTWARE, beside kExitUsage and vexil-download's 74).
inline constexpr int kExitInternalError = 70;

// Runs `body` and returns its status. An exception that escapes it, or that ends the program
// through std::terminate meanwhile (thrown from a destructor or a noexcept function), is said
// on `report` as "PROGRAM: internal error: REASON" and gives kExitInternalError.
int RunGuarded(const char* program, const std::function<int()>& body, std::FILE* report = stderr);

// A console program's main: RunGuarded over `body`, given the program's arguments in UTF-8.
int RunMain(const char* program, int argc, char** argv,
            const std::function<int(int argc, char** argv)>& body);

}  // namespace vexil
