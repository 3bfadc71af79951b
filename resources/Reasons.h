// The one place where a reason made below the catalogs (platform/Reason.h) is put into words, in
// the reader's language: the platform and the formats say what went wrong, and every program
// (vexil-download, vexil-file, the simulator) words it here. The system's common errors have a
// text of their own in each catalog; any other keeps the C library's text.
#pragma once

#include <string>

#include "platform/ProgramMain.h"
#include "platform/Reason.h"
#include "resources/Text.h"

namespace vexil {

// The reason in words, in the current language or in `language`; empty when nothing went
// wrong.
std::string Words(const Reason& reason);
std::string Words(const Reason& reason, Language language);

// The system's error `error` (an errno value) in words.
std::string SystemWords(int error, Language language);

// The words of the line that an internal error ends a program with (platform/ProgramMain.h),
// in the current language; texts of the catalog that live as long as the program.
const char* InternalErrorWords(InternalText part);

}  // namespace vexil
