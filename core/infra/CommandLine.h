#pragma once

// Reading a program's command line: options with and without a value, short
// aliases, options given more than once, positional arguments. The words are
// read in order, and each option's own reading of its value runs as it is
// met, so the first mistake on the line is the one reported. The error says
// what went wrong and with which word, in a short text ("unknown option
// --loud") that each program frames in its own way.

#include <functional>
#include <string>
#include <vector>

namespace korva
{

namespace infra
{

namespace commandline
{

struct Option
{
    const char* name;                // "--bars"
    const char* shortName = nullptr; // "-b"
    const char* valueName = nullptr; // "N" for an option that takes a value; nullptr for a flag
    const char* help = nullptr;      // its line in the program's --help

    // Called when the option is met, in command-line order, with its value
    // (empty for a flag). False, with a text naming the option, refuses the
    // value and ends the reading there.
    std::function<bool (const std::string& value, std::string& error)> read = {};

    // The words after it are not read (--help, --version).
    bool endsReading = false;
};

enum class Words
{
    // "--name=value" too; "--" ends the options; "-" and words that do not
    // start with a dash are positional arguments.
    kOptionsAndPositionals,
    // Every word is an option or the value of the one before it.
    kOptionsOnly
};

struct Given
{
    std::string name; // the option's name, even when its short alias was used
    std::string value;
};

struct Parsed
{
    std::vector<Given> options; // in command-line order
    std::vector<std::string> positionals;

    bool has (const std::string& name) const;
    // The value given last, or `fallback` when the option was not given.
    std::string valueOr (const std::string& name, const std::string& fallback) const;
};

enum class Problem
{
    kNone,
    kUnknownOption,     // "unknown option --loud"
    kMissingValue,      // "-o needs a value (FILE)"
    kUnexpectedValue,   // "--all takes no value" (--all=1)
    kBadValue,          // the option's own text
    kMissingPositionals, // "missing arguments"
    kTooManyPositionals  // "too many arguments"
};

struct Error
{
    Problem problem = Problem::kNone;
    std::string word;         // the option as written ("-o", "--loud"), without any "=value"
    bool lastWord = false;    // nothing followed the word on the command line
    std::string text;
};

// The arguments after the program's name.
std::vector<std::string> argumentsOf (int argc, const char* const* argv);

// Reads `args` into `out`; false with `error` at the first word that does not fit.
bool parse (const std::vector<Option>& options, Words words, const std::vector<std::string>& args, Parsed& out,
            Error& error);

// Between `minimum` and `maximum` positional arguments; false with `error` otherwise.
bool checkPositionals (const Parsed& parsed, int minimum, int maximum, Error& error);

// A whole number from `minimum` to `maximum`, as strtol reads it with base 0:
// decimal, 0x hexadecimal or 0 octal, with a sign and leading blanks. Nothing
// may follow the number; an empty text is no number.
bool readNumber (const std::string& text, long minimum, long maximum, long& value);

} // namespace commandline

} // namespace infra

} // namespace korva
