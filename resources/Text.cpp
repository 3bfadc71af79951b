#include "resources/Text.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

#include "resources/CatalogData.h"

namespace vexil {

namespace {

std::atomic<Language> gLanguage{Language::kJapanese};

const catalog::Entry* Find(std::string_view key) {
    const catalog::Entry* begin = catalog::kEntries;
    const catalog::Entry* end = begin + catalog::kEntryCount;
    const catalog::Entry* found =
        std::lower_bound(begin, end, key, [](const catalog::Entry& entry, std::string_view wanted) {
            return std::string_view(entry.key) < wanted;
        });
    return found != end && std::string_view(found->key) == key ? found : nullptr;
}

// The language named by one locale value (ja_JP.UTF-8, en, C.UTF-8, de_DE@euro), or none for a
// value that names no language.
std::string_view LanguagePart(std::string_view value) {
    return value.substr(0, value.find_first_of("_.@"));
}

bool IsJapaneseOrPlain(std::string_view language) {
    return language == "ja" || language == "C" || language == "POSIX";
}

}  // namespace

void SetLanguage(Language language) {
    gLanguage = language;
}

Language CurrentLanguage() {
    return gLanguage;
}

std::string_view Tr(std::string_view key, Language language) {
    const catalog::Entry* entry = Find(key);
    if (entry == nullptr) {
        return key;
    }
    return language == Language::kJapanese ? entry->japanese : entry->english;
}

std::string_view Tr(std::string_view key) {
    return Tr(key, CurrentLanguage());
}

bool HasText(std::string_view key) {
    return Find(key) != nullptr;
}

std::string Format(std::string_view text, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
            out += c;
            ++i;
            continue;
        }
        if (c == '{') {
            const std::size_t close = text.find('}', i);
            const std::string_view number = close == std::string_view::npos
                                                ? std::string_view{}
                                                : text.substr(i + 1, close - i - 1);
            if (!number.empty() && number.size() <= 2 &&
                std::all_of(number.begin(), number.end(),
                            [](char d) { return d >= '0' && d <= '9'; })) {
                std::size_t index = 0;
                for (const char d : number) {
                    index = index * 10 + static_cast<std::size_t>(d - '0');
                }
                if (index < args.size()) {
                    out += *(args.begin() + index);
                    i = close;
                    continue;
                }
            }
        }
        out += c;
    }
    return out;
}

std::string Tr(std::string_view key, std::initializer_list<std::string_view> args) {
    return Format(Tr(key), args);
}

Language ChooseLanguage(const std::function<std::string(const char* name)>& value,
                        std::string_view system) {
    if (const std::string list = value("LANGUAGE"); !list.empty()) {
        // The first preference that names a language of ours decides; a list of only other
        // languages asks for a language that is not Japanese.
        std::string_view rest = list;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view language = LanguagePart(rest.substr(0, colon));
            if (IsJapaneseOrPlain(language)) {
                return Language::kJapanese;
            }
            if (language == "en") {
                return Language::kEnglish;
            }
            rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        }
        if (list.find_first_not_of(':') != std::string::npos) {
            return Language::kEnglish;
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const std::string locale = value(name); !locale.empty()) {
            return IsJapaneseOrPlain(LanguagePart(locale)) ? Language::kJapanese
                                                           : Language::kEnglish;
        }
    }
    if (!system.empty()) {
        return LanguagePart(system) == "ja" ? Language::kJapanese : Language::kEnglish;
    }
    return Language::kJapanese;
}

std::size_t DisplayWidth(std::string_view text) {
    // Code point ranges, first and last: the combining marks (among them the combining kana
    // voiced sound marks) before the wide ones, which hold U+3099 and U+309A.
    static constexpr char32_t kCombining[][2] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
        {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0x302A, 0x302F},
        {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
    static constexpr char32_t kWide[][2] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},  {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},  {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},  {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
    const auto in = [](char32_t c, const auto& ranges) {
        return std::any_of(std::begin(ranges), std::end(ranges),
                           [c](const auto& range) { return c >= range[0] && c <= range[1]; });
    };
    std::size_t columns = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4 && at + length <= text.size());
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[at + k]);
            valid = (byte & 0xC0) == 0x80;
            c = (c << 6) | (byte & 0x3F);
        }
        if (!valid) {
            columns += 1;  // a stray byte, shown as one replacement character
            at += 1;
            continue;
        }
        columns += in(c, kCombining) ? 0 : in(c, kWide) ? 2 : 1;
        at += length;
    }
    return columns;
}

}  // namespace vexil
