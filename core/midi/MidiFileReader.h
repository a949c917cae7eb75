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

// Reads the file's bytes into `record`, which normally holds the empty pattern.
// False when the file is rejected: shorter than 26 bytes, an SMPTE division or one
// below 4, a chunk or an event running past its end, an unknown status byte or a
// data byte where a status must be, or `dropBarCount` outside 1 to 4. The record
// may then be partly written.
//
// With a `report`, the reader also counts what it keeps, drops and moves
// (MidiFitReport.h); report->read tells whether the file was accepted. The
// record comes out the same with or without one.
bool readMidiFile (const uint8_t* data, std::size_t size, int dropBarCount, const CcNumbers& ccNumbers,
                   PatternRecord& record, MidiFitReport* report = nullptr);

// The same for a file on disk; an unreadable or oversized file is rejected.
bool readMidiFile (const juce::File& file, int dropBarCount, const CcNumbers& ccNumbers, PatternRecord& record,
                   MidiFitReport* report = nullptr);

} // namespace korva
