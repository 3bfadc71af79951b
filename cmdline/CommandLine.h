// The command lines of the programs, read one way. CLI11 holds each program's options and hands
// each value to its option's handler in the order given. What CLI11 would read more freely than
// the programs ever have (bundled short flags, "--" ending the options, a flag given a value, a
// value eaten by the empty --name=) ends the reading instead, at the word where it stands. And
// the one reader of the numbers the options take.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vexil::cmdline {

enum class Radix { kDecimal, kDecimalOrHex };

// A whole number from `low` to `high`: decimal digits, or with kDecimalOrHex hexadecimal digits
// after 0x or 0X. Nothing else (no sign, no spaces, no octal); false out of bounds.
bool ReadNumber(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint64_t& out,
                Radix radix = Radix::kDecimal);

template <std::integral T>
bool ReadNumber(std::string_view text, T low, T high, T& out, Radix radix = Radix::kDecimal) {
    std::uint64_t value = 0;
    if (low < 0 || !ReadNumber(text, static_cast<std::uint64_t>(low),
                               static_cast<std::uint64_t>(high), value, radix)) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

// Seconds from `low` to `high` in decimal, fractions and an exponent allowed ("0.5", ".5",
// "1e2"); no sign, no spaces, no hexadecimal, no "nan" or "inf".
bool ReadSeconds(std::string_view text, double low, double high, double& out);

// Where and why the reading of a command line stopped on its own rules. A handler's refusal of
// a value is not one of these: it leaves Read() as the handler threw it.
struct Stop {
    enum class Kind {
        kNone,
        kUnexpected,     // a word that is no option (nor an operand, where a program takes them)
        kValueNotTaken,  // --flag=VALUE
        kRepeated,       // a second use of an option, or of another of its group
        kNoValue,        // the command line ends where the option's value should be
    };
    Kind kind = Kind::kNone;
    std::string word;    // kUnexpected: the word as given
    std::string option;  // the others: the option's long name, even when its short one was used
    explicit operator bool() const { return kind != Kind::kNone; }
};

// The group of an option that may be given again, even with Style::eachOnce (each value handed
// to its handler in turn).
inline constexpr int kRepeatable = -(1 << 30);

struct Style {
    bool inlineValues = false;  // --name=VALUE as well as --name VALUE
    bool eachOnce = false;      // an option (or its group) may be given once
};

class CommandLine {
  public:
    explicit CommandLine(Style style);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // `names` as CLI11 takes them, the long name first: "--yes,-y". Options given the same
    // `group` count as one for Style::eachOnce; 0 is a group of its own.
    void Flag(const std::string& names, std::function<void()> given, int group = 0);
    void Value(const std::string& names, std::function<void(const std::string&)> given,
               int group = 0);
    // The operands, in their order, wherever they stand among the options. Without them, a word
    // that is no option is refused.
    void Operands(std::vector<std::string>& into);

    // Reads argv from argv[first]. Each handler runs in the order of the command line; the first
    // word that breaks the rules stops the reading there, after the handlers of the words
    // before it.
    Stop Read(int argc, char** argv, int first = 1);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vexil::cmdline
