#include "cmdline/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace vexil::cmdline {

bool ReadNumber(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint64_t& out,
                Radix radix) {
    int base = 10;
    if (radix == Radix::kDecimalOrHex && text.size() >= 2 && text[0] == '0' &&
        (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    // from_chars takes no "+", no leading space and, into an unsigned number, no "-"; what it
    // leaves unread (a trailing space, a second "0x") refuses the whole.
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc{} || stop != end || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool ReadSeconds(std::string_view text, double low, double high, double& out) {
    // A sign, a space, "nan" and "inf" all fail this first check; general format reads no
    // hexadecimal.
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) {
        return false;
    }
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (error != std::errc{} || stop != end || !(value >= low && value <= high)) {
        return false;
    }
    out = value;
    return true;
}

namespace {

struct Entry {
    CLI::Option* option;
    std::string name;  // the long one
    bool flag;
    int group;
};

}  // namespace

struct CommandLine::Impl {
    Style style;
    CLI::App app;
    std::vector<Entry> entries;
    int privateGroups = 0;
    // Kept here rather than by CLI11, whose positional arguments take "[a,b]" for two.
    std::vector<std::string>* operands = nullptr;

    void Add(CLI::Option* option, bool flag, int group) {
        // The handlers run as each option is read, so that the first refusal is the one that
        // stands first on the command line. A value is never split or bracketed.
        option->trigger_on_parse()->allow_extra_args(false);
        entries.push_back({option, "--" + option->get_lnames().at(0), flag,
                           group != 0 ? group : --privateGroups});
    }

    const Entry* Find(const std::string& word) const {
        if (word.size() < 2 || word[0] != '-') {
            return nullptr;
        }
        const auto entry = std::find_if(entries.begin(), entries.end(), [&word](const Entry& e) {
            return e.option->check_name(word);
        });
        return entry == entries.end() ? nullptr : &*entry;
    }
};

CommandLine::CommandLine(Style style) : impl_(std::make_unique<Impl>()) {
    impl_->style = style;
    // Each program prints its own --help, the text its manual page is made from.
    impl_->app.set_help_flag();
}

CommandLine::~CommandLine() = default;

void CommandLine::Flag(const std::string& names, std::function<void()> given, int group) {
    impl_->Add(impl_->app.add_flag_callback(names, std::move(given)), true, group);
}

void CommandLine::Value(const std::string& names, std::function<void(const std::string&)> given,
                        int group) {
    impl_->Add(impl_->app.add_option_function<std::string>(names, std::move(given)), false, group);
}

void CommandLine::Operands(std::vector<std::string>& into) {
    impl_->operands = &into;
}

Stop CommandLine::Read(int argc, char** argv, int first) {
    Impl& d = *impl_;
    Stop stop;
    // What CLI11 is given: each option by its long name, then its value as a word of its own,
    // up to the word that stops the reading.
    std::vector<std::string> words;
    std::vector<int> groupsGiven;
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        std::string value;
        bool inlineValue = false;
        if (const std::size_t eq = word.find('=');
            d.style.inlineValues && word.starts_with("--") && eq != std::string::npos) {
            value = word.substr(eq + 1);
            word.resize(eq);
            inlineValue = true;
        }
        const Entry* entry = d.Find(word);
        if (entry == nullptr) {
            if (d.operands != nullptr && !(word.size() > 1 && word[0] == '-')) {
                d.operands->push_back(word);
                continue;
            }
            stop = {Stop::Kind::kUnexpected, word, {}};
            break;
        }
        if (entry->flag && inlineValue) {
            stop = {Stop::Kind::kValueNotTaken, {}, entry->name};
            break;
        }
        if (d.style.eachOnce && entry->group != kRepeatable) {
            if (std::find(groupsGiven.begin(), groupsGiven.end(), entry->group) !=
                groupsGiven.end()) {
                stop = {Stop::Kind::kRepeated, {}, entry->name};
                break;
            }
            groupsGiven.push_back(entry->group);
        }
        if (!entry->flag && !inlineValue) {
            if (i + 1 >= argc) {
                stop = {Stop::Kind::kNoValue, {}, entry->name};
                break;
            }
            value = argv[++i];
        }
        words.push_back(entry->name);
        if (!entry->flag) {
            words.push_back(std::move(value));
        }
    }
    std::reverse(words.begin(), words.end());
    try {
        d.app.parse(words);
    } catch (const CLI::ParseError& error) {
        // The words were checked against the options above: CLI11 has nothing left to refuse.
        throw std::logic_error(std::string("command line: ") + error.what());
    }
    return stop;
}

}  // namespace vexil::cmdline
