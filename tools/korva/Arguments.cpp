#include "tools/korva/Arguments.h"

#include <algorithm>

namespace korva
{

namespace tool
{

namespace
{

const Option kHelpOption{"--help", "-h", nullptr, "show this help"};

const Option* findOption (const Command& command, const juce::String& text)
{
    if (text == kHelpOption.name || text == kHelpOption.shortName)
        return &kHelpOption;
    for (const Option& option : command.options)
    {
        if (text == option.name || (option.shortName != nullptr && text == option.shortName))
            return &option;
    }
    return nullptr;
}

juce::String optionColumn (const Option& option)
{
    juce::String text = "  ";
    text << (option.shortName != nullptr ? juce::String (option.shortName) + ", " : juce::String ("    "))
         << option.name;
    if (option.valueName != nullptr)
        text << " " << option.valueName;
    return text;
}

} // namespace

juce::String usageLine (const Command& command)
{
    return juce::String ("korva ") + command.name + (*command.synopsis != 0 ? " " : "") + command.synopsis;
}

bool Arguments::has (const char* option) const
{
    return values.count (option) != 0 || std::find (flags.begin(), flags.end(), option) != flags.end();
}

juce::String Arguments::valueOr (const char* option, const juce::String& fallback) const
{
    const auto it = values.find (option);
    return it != values.end() ? it->second : fallback;
}

bool parseArguments (const Command& command, const std::vector<juce::String>& args, Arguments& out, juce::String& error)
{
    out = {};
    out.command = &command;
    const juce::String prefix = juce::String ("korva ") + command.name + ": ";

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const juce::String& arg = args[i];
        if (optionsEnded || !arg.startsWith ("-") || arg == "-")
        {
            out.positionals.push_back (arg);
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }

        const bool hasInlineValue = arg.startsWith ("--") && arg.containsChar ('=');
        const juce::String name = hasInlineValue ? arg.upToFirstOccurrenceOf ("=", false, false) : arg;
        const Option* option = findOption (command, name);
        if (option == nullptr)
        {
            error = prefix + "unknown option " + name + " (see korva " + command.name + " --help)";
            return false;
        }
        if (option->valueName == nullptr)
        {
            if (hasInlineValue)
            {
                error = prefix + name + " takes no value";
                return false;
            }
            out.flags.push_back (option->name);
            continue;
        }
        if (hasInlineValue)
        {
            out.values[option->name] = arg.fromFirstOccurrenceOf ("=", false, false);
        }
        else if (i + 1 < args.size())
        {
            out.values[option->name] = args[++i];
        }
        else
        {
            error = prefix + name + " needs a value (" + option->valueName + ")";
            return false;
        }
    }

    if (out.has (kHelpOption.name))
        return true;

    const int count = (int)out.positionals.size();
    if (count < command.minPositionals || count > command.maxPositionals)
    {
        error = prefix + (count < command.minPositionals ? "missing arguments" : "too many arguments") +
                " (usage: " + usageLine (command) + ")";
        return false;
    }
    return true;
}

juce::String commandHelp (const Command& command)
{
    juce::String text;
    text << "Usage: " << usageLine (command) << "\n\n" << command.summary << "\n";
    if (command.details != nullptr)
        text << "\n" << command.details << "\n";

    std::vector<Option> options = command.options;
    options.push_back (kHelpOption);
    text << "\nOptions:\n";
    for (const Option& option : options)
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

bool readBarCount (const Arguments& args, const char* option, const std::vector<int>& allowed, int fallback, int& bars,
                   juce::String& error)
{
    bars = fallback;
    if (!args.has (option))
        return true;

    const juce::String text = args.valueOr (option, {}).trim();
    const bool isNumber = text.isNotEmpty() && text.containsOnly ("0123456789") && text.length() <= 3;
    const int value = isNumber ? text.getIntValue() : -1;
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
