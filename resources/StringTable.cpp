// The numbered messages, in the language the user chose: the catalogs' entries "msg.NUMBER",
// kept exactly as the user sees them, line breaks included ("\r\n" and the lone "\n" of some
// messages alike).
#include "resources/StringTable.h"

#include <string>

#include "resources/Text.h"

namespace vexil {

std::string_view LoadString(int id) {
    return LoadString(id, CurrentLanguage());
}

std::string_view LoadString(int id, Language language) {
    const std::string key = "msg." + std::to_string(id);
    return HasText(key) ? Tr(key, language) : std::string_view{};
}

std::string LoadLines(int id) {
    return LoadLines(id, CurrentLanguage());
}

std::string LoadLines(int id, Language language) {
    std::string lines;
    const std::string_view text = LoadString(id, language);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines += '\n';
            // The other half of a two-character break.
            if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') &&
                text[i + 1] != c) {
                ++i;
            }
            continue;
        }
        lines += c;
    }
    return lines;
}

}  // namespace vexil
