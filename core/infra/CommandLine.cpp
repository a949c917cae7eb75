#include "core/infra/CommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace korva
{

namespace infra
{

namespace commandline
{

namespace
{
const Option* findOption (const std::vector<Option>& options, const std::string& word)
{
    for (const Option& option : options)
        if (word == option.name || (option.shortName != nullptr && word == option.shortName))
            return &option;
    return nullptr;
}

bool startsWith (const std::string& text, const char* prefix)
{
    return text.rfind (prefix, 0) == 0;
}

bool fail (Error& error, Problem problem, std::string word, bool lastWord, std::string text)
{
    error = { problem, std::move (word), lastWord, std::move (text) };
    return false;
}
} // namespace

bool Parsed::has (const std::string& name) const
{
    for (const Given& given : options)
        if (given.name == name)
            return true;
    return false;
}

std::string Parsed::valueOr (const std::string& name, const std::string& fallback) const
{
    for (auto given = options.rbegin(); given != options.rend(); ++given)
        if (given->name == name)
            return given->value;
    return fallback;
}

std::vector<std::string> argumentsOf (int argc, const char* const* argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back (argv[i]);
    return args;
}

bool parse (const std::vector<Option>& options, Words words, const std::vector<std::string>& args, Parsed& out,
            Error& error)
{
    out = {};
    error = {};
    const bool positionals = words == Words::kOptionsAndPositionals;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& word = args[i];
        const bool lastWord = i + 1 == args.size();
        if (positionals && (optionsEnded || ! startsWith (word, "-") || word == "-"))
        {
            out.positionals.push_back (word);
            continue;
        }
        if (positionals && word == "--")
        {
            optionsEnded = true;
            continue;
        }

        const auto equals = positionals && startsWith (word, "--") ? word.find ('=') : std::string::npos;
        const bool inlineValue = equals != std::string::npos;
        const std::string name = word.substr (0, equals);
        const Option* option = findOption (options, name);
        if (option == nullptr)
            return fail (error, Problem::kUnknownOption, name, lastWord, "unknown option " + name);

        std::string value;
        if (option->valueName == nullptr)
        {
            if (inlineValue)
                return fail (error, Problem::kUnexpectedValue, name, lastWord, name + " takes no value");
        }
        else if (inlineValue)
        {
            value = word.substr (equals + 1);
        }
        else if (! lastWord)
        {
            value = args[++i];
        }
        else
        {
            return fail (error, Problem::kMissingValue, name, lastWord,
                         name + " needs a value (" + option->valueName + ")");
        }

        std::string refusal;
        if (option->read && ! option->read (value, refusal))
            return fail (error, Problem::kBadValue, name, i + 1 == args.size(), refusal);
        out.options.push_back ({ option->name, value });
        if (option->endsReading)
            break;
    }
    return true;
}

bool checkPositionals (const Parsed& parsed, int minimum, int maximum, Error& error)
{
    const auto count = (int) parsed.positionals.size();
    if (count < minimum)
        return fail (error, Problem::kMissingPositionals, {}, true, "missing arguments");
    if (count > maximum)
        return fail (error, Problem::kTooManyPositionals, {}, true, "too many arguments");
    return true;
}

bool readNumber (const std::string& text, long minimum, long maximum, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol (text.c_str(), &end, 0);
    if (errno != 0 || end != text.c_str() + text.size() || number < minimum || number > maximum)
        return false;
    value = number;
    return true;
}

} // namespace commandline

} // namespace infra

} // namespace korva
