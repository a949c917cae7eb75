#pragma once

// Commands that work on pattern payloads and MIDI files, without a device.

#include "tools/korva/Arguments.h"

namespace korvatool
{

int runRender (const Arguments& args);
int runMidiToPattern (const Arguments& args);
int runDump (const Arguments& args);

} // namespace korvatool
