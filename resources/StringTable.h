#pragma once

#include <string_view>

namespace vexil {

// The text of string `id`, or an empty view when the table has no such string.
std::string_view LoadString(int id);

}  // namespace vexil
