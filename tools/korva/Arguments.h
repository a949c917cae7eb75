#pragma once

// Command-line parsing shared by every command.

#include "tools/korva/Command.h"

namespace korva
{

namespace tool
{

struct Arguments
{
    const Command* command = nullptr;
    std::vector<juce::String> positionals;
    infra::commandline::Parsed line;

    bool has (const char* option) const;
    juce::String valueOr (const char* option, const juce::String& fallback) const;
};

// Reads the arguments after the command name. "--name value", "--name=value"
// and "-n value" are accepted; "--" ends the options. False with a one-line
// reason for an unknown option, a missing value or a wrong number of positionals
// (the positional count is not checked when --help is given).
bool parseArguments (const Command& command, const std::vector<std::string>& args, Arguments& out, juce::String& error);

// "korva <name> <synopsis>".
juce::String usageLine (const Command& command);

// The command's usage and options, for its --help.
juce::String commandHelp (const Command& command);

// The tool's own --help.
juce::String toolHelp();

// A bar count or project index: up to three decimal digits, blanks around them
// allowed; -1 for any other text.
int readSmallNumber (const juce::String& text);

// Reads a bar count option: absent gives `fallback`; false with a reason when
// the value is not one of `allowed`.
bool readBarCount (const Arguments& args, const char* option, const std::vector<int>& allowed, int fallback, int& bars,
                   juce::String& error);

} // namespace tool

} // namespace korva
