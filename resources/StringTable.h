#pragma once

#include <string_view>
#include <vector>

namespace vexil {

// The text of string `id`, or an empty view when the table has no such string.
std::string_view LoadString(int id);
// Every number the table holds, in ascending order.
std::vector<int> StringIds();

}  // namespace vexil
