// korva: the KORVA, its patterns and Standard MIDI Files from the command line.

#include "core/infra/Diagnostics.h"
#include "tools/korva/Arguments.h"
#include "tools/korva/Terminal.h"
#include "tools/korva/ToolFiles.h"

#include <juce_events/juce_events.h>

#include <cstdlib>
#include <iostream>

namespace korva
{

using namespace tool;

namespace
{

int runCommand (const std::vector<std::string>& args);

} // namespace

int runProgram (int argc, char** argv)
{
    // Before anything is written: the same bytes on every system.
    terminal::prepareStandardStreams();

    // The program's traces stay off the tool's standard error unless asked for.
    const bool traces = infra::diagnostics::tracesRequestedByEnvironment();
    infra::diagnostics::setStandardErrorEnabled (traces);
    infra::diagnostics::setTracesToStandardError (traces);

    const int exitCode = runCommand (terminal::arguments (argc, argv));

    // What the framework does at the end of the program: the at-exit
    // managers go newest first (their threads with them), then the message
    // manager a device command started.
    juce::DeletedAtShutdown::deleteAll();
    juce::MessageManager::deleteInstance();
    return exitCode;
}

namespace
{

int runCommand (const std::vector<std::string>& args)
{
    if (args.empty())
    {
        std::cerr << toolHelp();
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help")
    {
        std::cout << toolHelp();
        return kExitOk;
    }
    if (args[0] == "--version")
    {
        std::cout << "korva " << KORVA_VERSION_STRING << std::endl;
        return kExitOk;
    }

    for (const Command& command : commandTable())
    {
        if (args[0] != command.name)
            continue;

        Arguments parsed;
        juce::String error;
        if (!parseArguments (command, {args.begin() + 1, args.end()}, parsed, error))
            return failLine (error, kExitUsage);
        if (parsed.has ("--help"))
        {
            std::cout << commandHelp (command);
            return kExitOk;
        }
        return command.run (parsed);
    }

    return failLine ("korva: unknown command '" + juce::String::fromUTF8 (args[0].c_str()) + "' (see korva --help)",
                     kExitUsage);
}

} // namespace

} // namespace korva

int main (int argc, char** argv)
{
    return korva::runProgram (argc, argv);
}
