#pragma once

// The two conversions between the device's pattern and Standard MIDI Files,
// callable from any thread without a PatternDataManager (the command-line tool
// and the tests call them directly). They share the process-wide sequencer
// engine, so calls from several threads take turns.

#include "core/midi/MidiFileReader.h"
#include "core/midi/MidiFitReport.h"
#include "core/patterns/PatternInfo.h"
#include "core/patterns/PatternRecord.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>

namespace korva
{

// Outcomes of convertPatternToMidiFile. The device side gives them their
// result codes and the texts a user is told (HidSequenceManager,
// DeviceMessages).
enum PatternToMidiResult
{
    kMidiFileWritten = 0,
    kRenderNotFinished = 1,  // also for a payload too short to hold a pattern
    kMidiFileNotWritten = 2, // the file could not be deleted, created or written
    kPatternFormatOlder = 3, // the device's pattern format is older than ours
    kPatternFormatNewer = 4  // the device's pattern format is newer than ours
};

// Renders a 4096-byte pattern payload for `barCount` bars (1 to 32) through the
// sequencer engine with the chord slots of `info` and writes the performance to
// `file` with the controller numbers of `info`.
PatternToMidiResult convertPatternToMidiFile (const uint8_t* payload, std::size_t size, const PatternInfo& info,
                                              int barCount, const juce::File& file);

// Builds the 4096-byte pattern payload of the first `dropBarCount` bars (1, 2 or
// 4) of a MIDI file, starting from the empty pattern; controller lane j takes
// the values of controller ccNumbers[j]. A refused file leaves the payload as it
// was and says why (MidiFileReader.h). With a `report`, the reader fills it on
// the same pass (see MidiFitReport.h).
MidiReadResult convertMidiFileToPattern (const juce::File& file, int dropBarCount, const CcNumbers& ccNumbers,
                                         PatternPayload& payload, MidiFitReport* report = nullptr);

} // namespace korva
