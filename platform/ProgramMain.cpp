#include "platform/ProgramMain.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Console.h"

namespace vexil {

namespace {

const char* g_program = "";
std::FILE* g_report = stderr;
InternalWords g_words = nullptr;

// The line's words where no program gave its own (a test of this unit).
const char* English(InternalText part) {
    switch (part) {
        case InternalText::kLabel:
            return "internal error";
        case InternalText::kNoReason:
            return "an exception without a reason";
        case InternalText::kUnknownKind:
            return "an exception of an unknown kind";
        case InternalText::kNoException:
            return "the program was ended without an exception to tell of";
    }
    return "";
}

const char* Said(InternalText part) {
    return (g_words != nullptr ? g_words : English)(part);
}

// The exception's own words. Nothing here allocates: the reason of a std::bad_alloc must be
// said too.
const char* Reason(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        const char* what = caught.what();
        return what != nullptr && *what != '\0' ? what : Said(InternalText::kNoReason);
    } catch (...) {
        return Said(InternalText::kUnknownKind);
    }
}

int Report(const char* reason) {
    std::fprintf(g_report, "%s: %s: %s\n", g_program, Said(InternalText::kLabel), reason);
    std::fflush(g_report);
    return kExitInternalError;
}

// What std::terminate calls instead of abort: an exception thrown where none may leave (a
// destructor, a noexcept function) ends the program as one that reached main does, only
// without the unwinding that is no longer possible.
[[noreturn]] void OnTerminate() {
    const std::exception_ptr error = std::current_exception();
    Report(error ? Reason(error) : Said(InternalText::kNoException));
    std::_Exit(kExitInternalError);
}

}  // namespace

int RunGuarded(const char* program, const std::function<int()>& body, std::FILE* report,
               InternalWords words) {
    g_program = program;
    g_report = report;
    g_words = words;
    std::set_terminate(OnTerminate);
    try {
        return body();
    } catch (...) {
        return Report(Reason(std::current_exception()));
    }
}

int RunMain(const char* program, int argc, char** argv,
            const std::function<int(int argc, char** argv)>& body, InternalWords words) {
    return RunGuarded(
        program,
        [&] {
            std::vector<std::string> arguments = console::Arguments(argc, argv);
            std::vector<char*> pointers;
            for (std::string& argument : arguments) {
                pointers.push_back(argument.data());
            }
            pointers.push_back(nullptr);
            return body(static_cast<int>(arguments.size()), pointers.data());
        },
        stderr, words);
}

}  // namespace vexil
