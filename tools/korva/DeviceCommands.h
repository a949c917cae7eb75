#pragma once

// Commands that talk to the KORVA (a real one or korva-sim) through the
// program's own device stack, and the one that renames a project file.

#include "tools/korva/Arguments.h"
#include "tools/korva/FitReportOutput.h"

#include <functional>

namespace korva
{

namespace tool
{

int runDevices (const Arguments& args);
int runProjects (const Arguments& args);
int runPull (const Arguments& args);
int runPush (const Arguments& args);
int runRename (const Arguments& args);
int runDelete (const Arguments& args);
int runRenameFile (const Arguments& args);
int runPatternInfo (const Arguments& args);
int runPullPattern (const Arguments& args);
int runPushMidi (const Arguments& args);

// Renders the KORVA's current pattern for `bars` bars as pull-pattern does and
// hands the MIDI file to `use`, whose result is returned; the file is removed
// afterwards. A failure on the way is reported and its exit code returned.
int withCurrentPatternFile (int bars, const std::function<int (const juce::File&)>& use);

// The controllers of the lanes of the KORVA's current pattern, asked for
// quietly; controller 0 on every lane, and why, when no KORVA can be asked.
LaneSource lanesOfTheKorva();

} // namespace tool

} // namespace korva
