#pragma once

// Files and failures, shared by every command: one line on standard error that
// names the file and the reason, reading a payload of an exact size, and
// writing through a temporary file so that a failed command leaves nothing
// half-written behind.

#include <juce_core/juce_core.h>

#include <cstddef>
#include <functional>

namespace korva
{

namespace tool
{

// A command-line path, relative to the working folder unless absolute.
juce::File fileFromArgument (const juce::String& path);

// The name under which a file is shown in messages: as the user typed it.
juce::String displayName (const juce::File& file);

// Writes "korva: <subject>: <reason>" to standard error and returns `exitCode`.
int fail (const juce::String& subject, const juce::String& reason, int exitCode);

// Writes one line to standard error and returns `exitCode`.
int failLine (const juce::String& line, int exitCode);

// Reads a whole file that must be exactly `expectedSize` bytes; `what` names the
// payload in the reason ("a pattern payload").
bool readExactly (const juce::File& file, std::size_t expectedSize, const char* what, juce::MemoryBlock& data,
                  juce::String& reason);

// Lets `write` fill a temporary file beside `target`, then puts it in the
// target's place. When `write` fails (setting `reason`) or the file cannot be
// put in place, the target is untouched and the temporary file is removed.
using FileWriter = std::function<bool (const juce::File& temporary, juce::String& reason)>;
bool writeThroughTemporary (const juce::File& target, const FileWriter& write, juce::String& reason);

// writeThroughTemporary for bytes already in memory.
bool writeBytes (const juce::File& target, const void* data, std::size_t size, juce::String& reason);

} // namespace tool

} // namespace korva
