#pragma once

// Commands that work on pattern payloads and MIDI files, without a device.

#include "tools/korva/Arguments.h"

namespace korva
{

namespace tool
{

int runRender (const Arguments& args);
int runMidiToPattern (const Arguments& args);
int runFit (const Arguments& args);
int runDump (const Arguments& args);

} // namespace tool

} // namespace korva
