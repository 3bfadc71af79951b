#include "resources/Text.h"

#include <algorithm>
#include <atomic>
#include <cstring>

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

}  // namespace vexil
