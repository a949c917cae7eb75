#pragma once

// The command table of the korva tool. A command declares its options and the
// number of positional arguments; parsing, --help and usage errors are shared.
// Adding a command is one entry in Commands.cpp and its run function.

#include "core/infra/CommandLine.h"

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace korva
{

namespace tool
{

enum ExitCode
{
    kExitOk = 0,
    kExitFailure = 1, // the command ran and failed (file, conversion, device)
    kExitUsage = 2,   // the command line was wrong
    kExitInterrupted = 130 // stopped by Ctrl+C (128 + SIGINT, as shells report it)
};

// {"--bars", "-b", "N", help}: a short name and a value name where it has them.
using Option = infra::commandline::Option;

struct Arguments;

struct Command
{
    const char* name;
    const char* synopsis; // after "korva <name> "
    const char* summary;  // one line for the tool's --help
    const char* details;  // paragraphs for the command's --help, or nullptr
    std::vector<Option> options;
    int minPositionals;
    int maxPositionals;
    int (*run) (const Arguments&);
};

// Every command, in the order --help lists them.
const std::vector<Command>& commandTable();

} // namespace tool

} // namespace korva
