#pragma once

#include <string>
#include <string_view>

#include "resources/Text.h"

namespace vexil {

// The text of string `id`, or an empty view when the table has no such string.
std::string_view LoadString(int id);
std::string_view LoadString(int id, Language language);

// The same text with each of its line breaks ("\r\n", a lone "\n" or, once, "\n\r") as one
// "\n", as a window label or a terminal shows them.
std::string LoadLines(int id);
std::string LoadLines(int id, Language language);

}  // namespace vexil
