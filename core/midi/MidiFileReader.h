#pragma once

// Reads a Standard MIDI File into a pattern: the notes and controller changes of
// the first `dropBarCount` bars are quantised onto steps (sixteenths), starts onto
// sub-positions (sixths of a step, truncated) and lengths onto eighths of a step.
//
// Tracks are read in order up to the end of the first track that holds a note
// event; controller changes of the tracks before it count too. Tempo, time
// signature, channels and everything else are ignored. Only what the file sets
// changes in the record: barCount, and the notes, noteMask and subPositionMasks
// of steps that receive notes, the ccMask and ccValues of steps that receive
// controller values.

#include "core/midi/MidiFitReport.h"
#include "core/patterns/PatternInfo.h"
#include "core/patterns/PatternRecord.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>

namespace korva
{

// Files above this size are not MIDI files a pattern can come from.
constexpr juce::int64 kMaxMidiFileSize = 64 * 1024 * 1024;

// What became of a read: accepted, or refused with the reason in a sentence
// that names what was wrong and where ("track 2 claims 401 bytes but the file
// ends after 120: cut short?"). Byte offsets count from 0 at the file's first
// byte; tracks count from 1 in the order of their chunks.
struct MidiReadResult
{
    bool ok = false;
    juce::String reason; // empty when ok

    explicit operator bool() const noexcept { return ok; }
};

// Reads the file's bytes into `record`, which normally holds the empty pattern.
// Refused: a file shorter than 26 bytes, an SMPTE division or one below 4, a
// chunk or an event running past the end of the file, a status byte other than
// a channel message, F0, F7 or FF, a data byte where a status must be, a
// variable-length number longer than 4 bytes, or `dropBarCount` outside 1 to 4.
// The record may then be partly written. The reason is put into words only
// when the file is refused.
//
// With a `report`, the reader also counts what it keeps, drops and moves
// (MidiFitReport.h); report->read tells whether the file was accepted. The
// record comes out the same with or without one.
MidiReadResult readMidiFile (const uint8_t* data, std::size_t size, int dropBarCount, const CcNumbers& ccNumbers,
                             PatternRecord& record, MidiFitReport* report = nullptr);

// The same for a file on disk; a file that cannot be read or is larger than
// kMaxMidiFileSize is refused too.
MidiReadResult readMidiFile (const juce::File& file, int dropBarCount, const CcNumbers& ccNumbers,
                             PatternRecord& record, MidiFitReport* report = nullptr);

} // namespace korva
