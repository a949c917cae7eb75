#pragma once

// Commands that talk to the KORVA (a real one or korva-sim) through the
// program's own device stack, and the one that renames a project file.

#include "tools/korva/Arguments.h"

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

} // namespace tool

} // namespace korva
