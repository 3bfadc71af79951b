// Every text a person reads, in the language the user chose: the catalogs (po/ja.po, po/en.po)
// compiled into the program, looked up by key. Japanese is the system's own language; English
// is the other. What scripts read (message numbers, JSON, log lines, exit statuses) never comes
// from here.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vexil {

enum class Language { kJapanese, kEnglish };

// The language of every text from here on; Japanese until a program chooses.
void SetLanguage(Language language);
Language CurrentLanguage();

// The text of `key` in the current language, or in `language`. A key that no catalog holds
// gives the key itself, so that a missing text shows what is missing rather than nothing.
std::string_view Tr(std::string_view key);
std::string_view Tr(std::string_view key, Language language);
// The text with its placeholders {0}, {1}, ... replaced by `args` in order of their numbers; a
// placeholder without an argument stays as it is, and "{{" and "}}" give one brace.
std::string Tr(std::string_view key, std::initializer_list<std::string_view> args);
std::string Format(std::string_view text, std::initializer_list<std::string_view> args);
bool HasText(std::string_view key);

// The columns `text` (UTF-8) takes on a terminal, as a table pads it: two for an East Asian
// Wide or Fullwidth character (kana, kanji, fullwidth forms), none for a combining mark, one
// for every other character, halfwidth katakana too, and for a byte that is no part of a
// UTF-8 character.
std::size_t DisplayWidth(std::string_view text);

// `text` (a help) with each line wider than `columns` broken to fit a terminal that wide: the
// words past the margin go to the front of the next line of their paragraph (one indented to
// the paragraph's hanging column), or to a new line there. A paragraph hangs at the column where
// a usage form's arguments, an option's or a status's description, or the text after a tag and
// two spaces start, else at its indent. Lines break at spaces outside brackets and quotes, and
// between Japanese characters as Japanese allows.
std::string FitToWidth(std::string_view text, std::size_t columns);
// The width a program's help fits: the terminal's that nobody has made narrower.
inline constexpr std::size_t kHelpColumns = 80;

// How a program chooses its language, as gettext programs do, from the values of LANGUAGE (a
// colon-separated list of preferences), LC_ALL, LC_MESSAGES and LANG, the first set and not
// empty deciding; where none is, from the system's interface language (`system`, as a language
// tag such as "ja" or "en_US"; empty where the system has none to say, as on POSIX). Japanese
// for a Japanese language, for C and POSIX, and when nothing is set; English for every other.
Language ChooseLanguage(const std::function<std::string(const char* name)>& value,
                        std::string_view system);

}  // namespace vexil
