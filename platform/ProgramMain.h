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

// The parts of an internal error's line that are words: the program gives them in its language
// (the platform has no catalogs) as texts that live as long as the program, looked up only when
// the line is said, so that nothing is allocated then. Without them the line is English.
enum class InternalText { kLabel, kNoReason, kUnknownKind, kNoException };
using InternalWords = const char* (*)(InternalText part);

// Runs `body` and returns its status. An exception that escapes it, or that ends the program
// through std::terminate meanwhile (thrown from a destructor or a noexcept function), is said
// on `report` as "PROGRAM: internal error: REASON" (in `words`) and gives kExitInternalError.
int RunGuarded(const char* program, const std::function<int()>& body, std::FILE* report = stderr,
               InternalWords words = nullptr);

// A console program's main: RunGuarded over `body`, given the program's arguments in UTF-8.
int RunMain(const char* program, int argc, char** argv,
            const std::function<int(int argc, char** argv)>& body, InternalWords words = nullptr);

}  // namespace vexil
