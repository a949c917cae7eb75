#pragma once

// What the request sequencer asks of the pattern side when the device hands
// over its current pattern or a dropped MIDI file is about to be sent to it.
// PatternDataManager implements it.

#include "core/conversion/PatternConverter.h"

#include <juce_core/juce_core.h>

namespace korva
{

class PatternConversions
{
public:
    virtual ~PatternConversions() = default;
    virtual void setPatternInfo (const juce::MemoryBlock& payload) = 0; // 20 bytes
    virtual juce::File makeMidiFile() = 0;
    virtual PatternToMidiResult convertPatternToMidiFile (const juce::MemoryBlock& payload, const juce::File& file) = 0;
    virtual bool convertMidiFileToPattern (const juce::File& file, juce::MemoryBlock& payload) = 0;
};

} // namespace korva
