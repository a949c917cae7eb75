#pragma once

// The fit report of a MIDI file as korva prints it: lines for people, JSON for scripts.

#include "core/midi/MidiFitReport.h"

#include <juce_core/juce_core.h>

namespace korva
{

namespace tool
{

juce::String fitReportText (const MidiFitReport& report);
juce::var fitReportJson (const MidiFitReport& report);

} // namespace tool

} // namespace korva
