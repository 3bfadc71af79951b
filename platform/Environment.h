// What the environment says about the user: a variable's value, and the language of the
// system's user interface where the system keeps one beside the environment.
#pragma once

#include <string>

namespace vexil {

// The value of environment variable `name` in UTF-8; empty when it is not set.
std::string EnvironmentValue(const char* name);

// The language of the user's interface as a tag ("ja", "en"): on Windows the user's interface
// language; empty on POSIX, where the environment's variables are the only say.
std::string SystemLanguage();

}  // namespace vexil
