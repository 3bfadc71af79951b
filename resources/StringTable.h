#pragma once

#include <string>
#include <string_view>

namespace vexil {

// The text of string `id`, or an empty view when the table has no such string.
std::string_view LoadString(int id);

// The same text with each of its line breaks ("\r\n", a lone "\n" or, once, "\n\r") as one
// "\n", as a window label or a terminal shows them.
std::string LoadLines(int id);

}  // namespace vexil
