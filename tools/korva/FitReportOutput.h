#pragma once

// The fit report of a MIDI file as korva prints it: lines for people, JSON for
// scripts; and the reader's refusal of a file, in the same two forms.

#include "core/midi/MidiFitReport.h"

#include <juce_core/juce_core.h>

namespace korva
{

namespace tool
{

juce::String fitReportText (const MidiFitReport& report);
juce::var fitReportJson (const MidiFitReport& report);

// "Failed to convert MIDI file into pattern. (SMPTE time division: only files in
// beats can be converted)"; the program's message alone without a reason.
juce::String midiRefusalText (const juce::String& reason);

// {"reason": "SMPTE time division: only files in beats can be converted"}
juce::var midiRefusalJson (const juce::String& reason);

} // namespace tool

} // namespace korva
