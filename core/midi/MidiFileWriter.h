#pragma once

// Writes a rendered performance as a Standard MIDI File: format 0, one track,
// 480 ticks per quarter note, everything on channel 1, no running status.
//
// A step (a sixteenth) is 120 ticks, walked in 24 sub-ticks of 5 ticks; a
// sub-position (a sixth of a step) starts every fourth sub-tick, and a note
// lasts 15 ticks per eighth of a step.

#include "core/engine/Engine.h"
#include "core/patterns/PatternInfo.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

namespace korva
{

constexpr int kMidiDivision = 480;
constexpr int kMidiTicksPerStep = 120;
constexpr int kMidiTicksPerEighth = 15;

// The whole file for the first `barCount` bars (1 to 32) of `rendered`.
// Controller lane j sends controller ccNumbers[j]; a lane whose number is not a
// MIDI controller (above 127) is left out, and velocities and values above 127
// are sent as 127, so the file always stays a valid MIDI file.
std::vector<uint8_t> buildMidiFile (const engine::RenderedSteps& rendered, int barCount, const CcNumbers& ccNumbers);

// Replaces `file` with the MIDI file of buildMidiFile. False (and no partial
// file left) when the old file cannot be deleted or the new one not written.
bool writeMidiFile (const engine::RenderedSteps& rendered, int barCount, const CcNumbers& ccNumbers,
                    const juce::File& file);

} // namespace korva
