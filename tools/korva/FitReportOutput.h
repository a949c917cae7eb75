#pragma once

// The fit report of a MIDI file as korva prints it: lines for people, JSON for
// scripts; and the reader's refusal of a file, in the same two forms.

#include "core/midi/MidiFitReport.h"
#include "core/patterns/PatternInfo.h"

#include <juce_core/juce_core.h>

namespace korva
{

namespace tool
{

// The controllers the five lanes of the pattern take, which decide what
// controller changes a file keeps, and where they came from.
struct LaneSource
{
    enum Kind
    {
        kAssumed, // controller 0 on every lane: nothing told them
        kInfoFile,
        kKorva // the KORVA's current pattern, asked for
    };

    Kind kind = kAssumed;
    CcNumbers controllers{};
    juce::String from; // kInfoFile: the file as given; kAssumed: why no KORVA told them
};

// The report for people, and for scripts: the lanes first, then what was
// kept and lost, with positions as a DAW counts (bar.beat.sixteenth).
juce::String fitReportText (const MidiFitReport& report, const LaneSource& lanes);
juce::var fitReportJson (const MidiFitReport& report, const LaneSource& lanes);

// "Failed to convert MIDI file into pattern. (SMPTE time division: only files in
// beats can be converted)"; the program's message alone without a reason.
juce::String midiRefusalText (const juce::String& reason);

// {"reason": "SMPTE time division: only files in beats can be converted"}
juce::var midiRefusalJson (const juce::String& reason);

} // namespace tool

} // namespace korva
