#include "tools/korva/Arguments.h"

#include <algorithm>

namespace korva
{

namespace tool
{

namespace
{

const Option kHelpOption{"--help", "-h", nullptr, "show this help"};

juce::String optionColumn (const Option& option)
{
    juce::String text = "  ";
    text << (option.shortName != nullptr ? juce::String (option.shortName) + ", " : juce::String ("    "))
         << option.name;
    if (option.valueName != nullptr)
        text << " " << option.valueName;
    return text;
}

// The command's options and --help, which every command takes.
std::vector<Option> optionsOf (const Command& command)
{
    std::vector<Option> options = command.options;
    options.push_back (kHelpOption);
    return options;
}

} // namespace

juce::String usageLine (const Command& command)
{
    return juce::String ("korva ") + command.name + (*command.synopsis != 0 ? " " : "") + command.synopsis;
}

bool Arguments::has (const char* option) const
{
    return line.has (option);
}

juce::String Arguments::valueOr (const char* option, const juce::String& fallback) const
{
    return line.has (option) ? juce::String::fromUTF8 (line.valueOr (option, {}).c_str()) : fallback;
}

bool parseArguments (const Command& command, const std::vector<std::string>& args, Arguments& out, juce::String& error)
{
    namespace cl = infra::commandline;
    out = {};
    out.command = &command;

    cl::Error problem;
    const bool read = cl::parse (optionsOf (command), cl::Words::kOptionsAndPositionals, args, out.line, problem) &&
                      (out.line.has (kHelpOption.name) ||
                       cl::checkPositionals (out.line, command.minPositionals, command.maxPositionals, problem));
    if (!read)
    {
        error = juce::String ("korva ") + command.name + ": " + juce::String::fromUTF8 (problem.text.c_str());
        if (problem.problem == cl::Problem::kUnknownOption)
            error << " (see korva " << command.name << " --help)";
        else if (problem.problem == cl::Problem::kMissingPositionals ||
                 problem.problem == cl::Problem::kTooManyPositionals)
            error << " (usage: " << usageLine (command) << ")";
        return false;
    }

    for (const std::string& positional : out.line.positionals)
        out.positionals.push_back (juce::String::fromUTF8 (positional.c_str()));
    return true;
}

juce::String commandHelp (const Command& command)
{
    juce::String text;
    text << "Usage: " << usageLine (command) << "\n\n" << command.summary << "\n";
    if (command.details != nullptr)
        text << "\n" << command.details << "\n";

    text << "\nOptions:\n";
    for (const Option& option : optionsOf (command))
        text << optionColumn (option).paddedRight (' ', 24) << " " << option.help << "\n";
    return text;
}

juce::String toolHelp()
{
    juce::String text;
    text << "Usage: korva COMMAND [ARGUMENTS]\n\n"
         << "Talks to the KORVA step sequencer (projects and the current pattern) and converts\n"
         << "its patterns and Standard MIDI Files, as KORVA Manager does.\n\n"
         << "Commands:\n";
    for (const Command& command : commandTable())
        text << "  " << juce::String (command.name).paddedRight (' ', 14) << command.summary << "\n";
    text << "\n"
         << "Every command but render, midi2pattern, dump and rename-file talks to the first KORVA\n"
         << "that korva devices lists (one plugged in comes before a virtual one, korva-sim), never\n"
         << "while KORVA Manager or another korva command uses it. Failures print KORVA Manager's own\n"
         << "messages (\"KORVA is busy.\", \"Communication Error (0009)\", ...).\n\n"
         << "korva COMMAND --help shows a command's arguments and options.\n"
         << "korva --version shows the version.\n"
         << "Exit status: 0 done, 1 the command failed, 2 the command line was wrong,\n"
         << "130 stopped by Ctrl+C.\n\n"
         << "Environment:\n"
         << "  KORVA_VIRTUAL_DIR  where virtual KORVAs (korva-sim) are looked for\n"
         << "  KORVA_TRACE        when set (and not 0), the device traces go to standard error\n";
    return text;
}

int readSmallNumber (const juce::String& text)
{
    const juce::String trimmed = text.trim();
    const bool isNumber = trimmed.isNotEmpty() && trimmed.containsOnly ("0123456789") && trimmed.length() <= 3;
    return isNumber ? trimmed.getIntValue() : -1;
}

bool readBarCount (const Arguments& args, const char* option, const std::vector<int>& allowed, int fallback, int& bars,
                   juce::String& error)
{
    bars = fallback;
    if (!args.has (option))
        return true;

    const int value = readSmallNumber (args.valueOr (option, {}));
    if (std::find (allowed.begin(), allowed.end(), value) != allowed.end())
    {
        bars = value;
        return true;
    }

    juce::StringArray names;
    for (int n : allowed)
        names.add (juce::String (n));
    error = juce::String ("korva ") + args.command->name + ": " + option + " must be one of " +
            names.joinIntoString (", ") + ", not '" + args.valueOr (option, {}) + "'";
    return false;
}

} // namespace tool

} // namespace korva
