#pragma once

// Commands that work on pattern payloads and MIDI files, without a device
// (but fit, which asks the KORVA for its lanes when --info does not give them).

#include "core/patterns/PatternInfo.h"
#include "tools/korva/Arguments.h"

namespace korva
{

namespace tool
{

int runRender (const Arguments& args);
int runMidiToPattern (const Arguments& args);
int runFit (const Arguments& args);
int runDump (const Arguments& args);
int runShow (const Arguments& args);

// The --info option's pattern information (every lane controller 0 and no chord
// slots without it), and a 4096-byte pattern payload; false, with the failure
// reported and its exit code set, when a file is unfit.
bool readInfoOption (const Arguments& args, PatternInfo& info, int& exitCode);
bool readPatternPayload (const juce::String& path, juce::MemoryBlock& data, int& exitCode);

} // namespace tool

} // namespace korva
