#include "resources/Text.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

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

namespace {

struct Character {
    char32_t code;
    std::size_t length;  // in bytes: 1 for a byte that is no part of a UTF-8 character
    std::size_t columns;
};

Character Decode(std::string_view text, std::size_t at) {
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
        return {0xFFFD, 1, 1};  // a stray byte, shown as one replacement character
    }
    return {c, length, in(c, kCombining) ? 0u : in(c, kWide) ? 2u : 1u};
}

// Japanese line breaking's own rules: no line starts with a closing mark, a small kana or the
// long vowel mark, and none ends with an opening mark.
bool StartsNoLine(char32_t c) {
    static constexpr std::u32string_view kMarks =
        U"、。，．・：；？！）」』】〕｝〉》ーぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々),.:;!"
        U"?";
    return kMarks.find(c) != std::u32string_view::npos;
}

bool EndsNoLine(char32_t c) {
    static constexpr std::u32string_view kMarks = U"（「『【〔｛〈《([";
    return kMarks.find(c) != std::u32string_view::npos;
}

// Japanese punctuation, which takes no space beside it when two lines are joined.
bool IsJapanesePunctuation(char32_t c) {
    return (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF0F) ||
           (c >= 0xFF1A && c <= 0xFF20);
}

std::size_t Indent(std::string_view line) {
    const std::size_t first = line.find_first_not_of(' ');
    return first == std::string_view::npos ? line.size() : first;
}

// The word `number` (from 0) of `line`, words being parted by spaces; empty past the last.
std::string_view Word(std::string_view line, std::size_t number) {
    std::size_t at = line.find_first_not_of(' ');
    while (at != std::string_view::npos) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        if (number-- == 0) {
            return line.substr(at, end - at);
        }
        at = line.find_first_not_of(' ', end);
    }
    return {};
}

// The byte at which display column `column` of `line` starts, or npos past its end.
std::size_t ByteAtColumn(std::string_view line, std::size_t column) {
    std::size_t at = 0;
    for (std::size_t columns = 0; at < line.size() && columns < column;) {
        const Character c = Decode(line, at);
        columns += c.columns;
        at += c.length;
    }
    return at < line.size() ? at : std::string_view::npos;
}

// A usage form ("usage: PROGRAM ...", "or: PROGRAM ...", "PROGRAM COMMAND ..."): the column
// after its program's name, where its wrapped arguments continue; 0 for another line.
std::size_t FormColumn(std::string_view line, std::string_view program) {
    if (program.empty()) {
        return 0;
    }
    const std::string_view first = Word(line, 0);
    const std::size_t word = first == program                                   ? 0
                             : first.ends_with(':') && Word(line, 1) == program ? 1
                                                                                : 2;
    if (word == 2) {
        return 0;
    }
    const std::string_view name = Word(line, word);
    return DisplayWidth(line.substr(0, name.data() + name.size() - line.data())) + 1;
}

// The column at which the lines of line i's paragraph after it start: that of a usage form's
// arguments; that of the next line, deeper indented, where line i's own text after a tag starts
// there too (an option's or a status's description); after the first run of two spaces or more
// (a tag's description); else line i's indent.
std::size_t HangingColumn(const std::vector<std::string>& lines, std::size_t i,
                          std::string_view program) {
    const std::string& line = lines[i];
    if (const std::size_t column = FormColumn(line, program); column != 0) {
        return column;
    }
    if (i + 1 < lines.size() && !lines[i + 1].empty()) {
        const std::size_t next = Indent(lines[i + 1]);
        const std::size_t at = ByteAtColumn(line, next);
        if (next > Indent(line) && at != std::string::npos && at > 0 && line[at - 1] == ' ' &&
            line[at] != ' ') {
            return next;
        }
    }
    const std::size_t gap = line.find("  ", Indent(line));
    if (gap != std::string::npos && line.find_first_not_of(' ', gap) != std::string::npos) {
        return DisplayWidth(std::string_view(line).substr(0, line.find_first_not_of(' ', gap)));
    }
    return Indent(line);
}

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
    std::size_t columns = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Character c = Decode(text, at);
        columns += c.columns;
        at += c.length;
    }
    return columns;
}

std::string FitToWidth(std::string_view text, std::size_t columns) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    // The program that a usage names: "usage: PROGRAM" on the first line, or the first word of
    // the second after a "usage:" alone. Its forms are the lines of the help's first paragraph
    // that name it; it may be named at the start of a line further on too.
    std::string program(Word(lines[0], 0).ends_with(':') ? Word(lines[0], 1) : "");
    if (program.empty() && Word(lines[0], 0).ends_with(':') && Word(lines[0], 1).empty() &&
        lines.size() > 1) {
        program = Word(lines[1], 0);
    }
    const std::size_t usageEnd =
        static_cast<std::size_t>(std::find(lines.begin(), lines.end(), "") - lines.begin());
    const auto formsOf = [&](std::size_t i) {
        return i < usageEnd ? std::string_view(program) : std::string_view();
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string& line = lines[i];
        if (DisplayWidth(line) <= columns) {
            continue;
        }
        const std::size_t hanging = HangingColumn(lines, i, formsOf(i));
        // The last place to break at before the margin, after the hanging column: a run of
        // spaces outside brackets (one option of a usage) and quotes (one example), or between
        // two characters one of which is Japanese, as its rules allow.
        std::size_t headEnd = 0;
        std::size_t tailStart = 0;
        std::size_t column = 0;
        int brackets = 0;
        bool quoted = false;
        Character previous{0, 0, 0};
        for (std::size_t at = 0; at < line.size();) {
            const Character c = Decode(line, at);
            if (column > hanging && column <= columns && brackets == 0 && !quoted) {
                if (c.code == ' ' && previous.code != ' ') {
                    headEnd = at;
                    tailStart = line.find_first_not_of(' ', at);
                } else if (c.code != ' ' && previous.code != ' ' &&
                           (c.columns == 2 || previous.columns == 2) && !StartsNoLine(c.code) &&
                           !EndsNoLine(previous.code)) {
                    headEnd = tailStart = at;
                }
            }
            brackets += c.code == '[' ? 1 : c.code == ']' && brackets > 0 ? -1 : 0;
            quoted = c.code == '"' ? !quoted : quoted;
            column += c.columns;
            previous = c;
            at += c.length;
        }
        if (headEnd == 0 || tailStart == std::string::npos) {
            continue;  // nowhere to break: left as it is
        }
        const std::string tail = line.substr(tailStart);
        line.erase(headEnd);
        line.erase(line.find_last_not_of(' ') + 1);
        const std::string indent(hanging, ' ');
        std::string* next = i + 1 < lines.size() ? &lines[i + 1] : nullptr;
        if (next != nullptr && Indent(*next) == hanging && Indent(*next) < next->size() &&
            FormColumn(*next, formsOf(i + 1)) == 0) {
            // The words carried to the front of the paragraph's next line: a line break
            // between two Japanese characters, or beside Japanese punctuation, is no space.
            const std::string rest = next->substr(hanging);
            Character last{0, 0, 0};
            for (std::size_t at = 0; at < tail.size(); at += last.length) {
                last = Decode(tail, at);
            }
            const Character first = Decode(rest, 0);
            const bool space = !(last.columns == 2 && first.columns == 2) &&
                               !IsJapanesePunctuation(last.code) &&
                               !IsJapanesePunctuation(first.code);
            *next = indent + tail + (space ? " " : "") + rest;
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, indent + tail);
        }
    }
    std::string fitted;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        fitted += (i == 0 ? "" : "\n") + lines[i];
    }
    return fitted;
}

}  // namespace vexil
