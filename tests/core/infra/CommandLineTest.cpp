#include "core/infra/CommandLine.h"

#include <gtest/gtest.h>

namespace korva
{

namespace cl = infra::commandline;

namespace
{
// A command in the way the programs declare theirs: a value, a flag, a number
// read as it is met, and a --help that ends the reading.
struct Command
{
    std::vector<std::string> bars; // every value the reader of --bars was given
    std::vector<cl::Option> options = {
        {"--output", "-o", "FILE"},
        {"--all", "-a"},
        {"--bars", "-b", "N", nullptr,
         [this] (const std::string& value, std::string& error)
         {
             bars.push_back (value);
             long number = 0;
             if (! cl::readNumber (value, 1, 32, number))
                 error = "--bars takes 1 to 32, not '" + value + "'";
             return error.empty();
         }},
        {"--help", "-h", nullptr, nullptr, {}, true},
    };
};

// "--output=out.bin --all | in.mid": the options in order, then the positionals.
std::string describe (const cl::Parsed& parsed)
{
    std::string text;
    for (const auto& given : parsed.options)
        text += given.name + (given.value.empty() ? "" : "=" + given.value) + " ";
    text += "|";
    for (const auto& positional : parsed.positionals)
        text += " " + positional;
    return text;
}
} // namespace

TEST (CommandLine, AcceptedLinesGiveTheOptionsInOrderAndThePositionals)
{
    struct Case
    {
        std::vector<std::string> args;
        cl::Words words;
        std::string expected;
    };
    const auto both = cl::Words::kOptionsAndPositionals;
    const auto optionsOnly = cl::Words::kOptionsOnly;
    const std::vector<Case> cases = {
        {{}, both, "|"},
        {{"in.mid", "-o", "out.bin"}, both, "--output=out.bin | in.mid"},
        {{"--output=a=b", "-a"}, both, "--output=a=b --all |"},
        {{"-b", "4", "--bars", "8"}, both, "--bars=4 --bars=8 |"},
        {{"-o", "--all"}, both, "--output=--all |"}, // a value may start with a dash
        {{"--", "-o", "--all"}, both, "| -o --all"},
        {{"-", "", "--all"}, both, "--all | - "},
        {{"--help", "--loud", "-o"}, both, "--help |"}, // nothing after --help is read
        {{"-a", "-o", "x", "--bars", "2"}, optionsOnly, "--all --output=x --bars=2 |"},
        {{"-a", "-h", "stray"}, optionsOnly, "--all --help |"},
    };
    for (const auto& c : cases)
    {
        Command command;
        cl::Parsed parsed;
        cl::Error error;
        EXPECT_TRUE (cl::parse (command.options, c.words, c.args, parsed, error)) << error.text;
        EXPECT_EQ (describe (parsed), c.expected);
    }

    Command command;
    cl::Parsed parsed;
    cl::Error error;
    ASSERT_TRUE (cl::parse (command.options, both, {"-b", "4", "x", "--bars", "16"}, parsed, error));
    EXPECT_EQ (command.bars, (std::vector<std::string> {"4", "16"}));
    EXPECT_EQ (parsed.valueOr ("--bars", "1"), "16"); // the last one counts
    EXPECT_EQ (parsed.valueOr ("--output", "none"), "none");
    EXPECT_TRUE (parsed.has ("--bars"));
    EXPECT_FALSE (parsed.has ("-b")); // options go by their name
}

TEST (CommandLine, TheFirstMistakeIsReportedWithItsWord)
{
    struct Case
    {
        std::vector<std::string> args;
        cl::Words words;
        cl::Problem problem;
        std::string word;
        bool lastWord;
        std::string text;
    };
    const auto both = cl::Words::kOptionsAndPositionals;
    const auto optionsOnly = cl::Words::kOptionsOnly;
    using P = cl::Problem;
    const std::vector<Case> cases = {
        {{"--loud"}, both, P::kUnknownOption, "--loud", true, "unknown option --loud"},
        {{"--loud=1", "x"}, both, P::kUnknownOption, "--loud", false, "unknown option --loud"},
        {{"-o=x"}, both, P::kUnknownOption, "-o=x", true, "unknown option -o=x"}, // "=" only after a long name
        {{"x", "-o"}, both, P::kMissingValue, "-o", true, "-o needs a value (FILE)"},
        {{"--all=yes"}, both, P::kUnexpectedValue, "--all", true, "--all takes no value"},
        {{"--bars", "64", "x"}, both, P::kBadValue, "--bars", false, "--bars takes 1 to 32, not '64'"},
        {{"-b", "x", "--loud"}, both, P::kBadValue, "-b", false, "--bars takes 1 to 32, not 'x'"},
        {{"--loud", "-b", "x"}, both, P::kUnknownOption, "--loud", false, "unknown option --loud"},
        {{"-a", "in.mid"}, optionsOnly, P::kUnknownOption, "in.mid", true, "unknown option in.mid"},
        {{"--output=x", "-a"}, optionsOnly, P::kUnknownOption, "--output=x", false, "unknown option --output=x"},
        {{"--", "-a"}, optionsOnly, P::kUnknownOption, "--", false, "unknown option --"},
        {{"--bars"}, optionsOnly, P::kMissingValue, "--bars", true, "--bars needs a value (N)"},
    };
    for (const auto& c : cases)
    {
        Command command;
        cl::Parsed parsed;
        cl::Error error;
        EXPECT_FALSE (cl::parse (command.options, c.words, c.args, parsed, error)) << c.text;
        EXPECT_EQ (error.problem, c.problem) << c.text;
        EXPECT_EQ (error.word, c.word);
        EXPECT_EQ (error.lastWord, c.lastWord) << c.text;
        EXPECT_EQ (error.text, c.text);
    }
}

TEST (CommandLine, PositionalCountsAreChecked)
{
    struct Case
    {
        int count;
        cl::Problem problem;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0, cl::Problem::kMissingPositionals, "missing arguments"},
        {1, cl::Problem::kNone, ""},
        {2, cl::Problem::kNone, ""},
        {3, cl::Problem::kTooManyPositionals, "too many arguments"},
    };
    for (const auto& c : cases)
    {
        cl::Parsed parsed;
        parsed.positionals.assign ((std::size_t) c.count, "x");
        cl::Error error;
        EXPECT_EQ (cl::checkPositionals (parsed, 1, 2, error), c.problem == cl::Problem::kNone) << c.count;
        EXPECT_EQ (error.problem, c.problem) << c.count;
        EXPECT_EQ (error.text, c.text);
    }
}

TEST (CommandLine, NumbersAreReadWholeAndWithinTheirRange)
{
    struct Case
    {
        std::string text;
        long minimum, maximum;
        bool accepted;
        long value;
    };
    const std::vector<Case> cases = {
        {"0x7C4E", 0, 0xFFFF, true, 0x7C4E},
        {"0X0a31", 0, 0xFFFF, true, 0x0A31},
        {"010", 0, 100, true, 8}, // octal, as strtol reads it
        {" 7", 0, 100, true, 7},
        {"+5", 0, 100, true, 5},
        {"255", 0, 255, true, 255},
        {"256", 0, 255, false, 0},
        {"-1", 0, 255, false, 0},
        {"1", 1, 1000, true, 1},
        {"0", 1, 1000, false, 0},
        {"", 0, 100, false, 0},
        {"0x", 0, 100, false, 0},
        {"5x", 0, 100, false, 0},
        {"7 ", 0, 100, false, 0},
        {std::string ("12\0" "3", 4), 0, 10000, false, 0},
        {"99999999999999999999", 0, 100, false, 0},
    };
    for (const auto& c : cases)
    {
        long value = 0;
        EXPECT_EQ (cl::readNumber (c.text, c.minimum, c.maximum, value), c.accepted) << c.text;
        if (c.accepted)
        {
            EXPECT_EQ (value, c.value) << c.text;
        }
    }
}

} // namespace korva
