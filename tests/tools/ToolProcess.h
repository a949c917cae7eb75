#pragma once

// Runs a program to its end, as a shell script would: arguments, a working
// folder, standard output and standard error collected apart, a time limit.

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace korvatest
{

struct ProcessResult
{
    int exitCode = -1; // 128 + signal when killed, -1 when it could not start or ran out of time
    std::string out;
    std::string err;
};

ProcessResult runProcess (const std::string& program, const std::vector<std::string>& args,
                          const juce::File& workingFolder, int timeoutMs = 60000);

} // namespace korvatest
