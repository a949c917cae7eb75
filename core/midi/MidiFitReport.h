#pragma once

// What the MIDI file reader kept of a file and what it lost, counted by the
// reader itself as it reads (readMidiFile with a report), so the report cannot
// disagree with the pattern it made.
//
// Positions are written as a musician counts them, from 1: "bar.step.sub-position",
// a step being a sixteenth and a sub-position a sixth of a step ("5.1.1" is the
// first sixteenth of bar 5). Note names use sharps and MIDI note 60 = C4.

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace korva
{

enum FitReason
{
    kNotesAfterLastBar,       // starts at or after the end of the bars read
    kNotesBeyondStepLimit,    // a ninth (or later) note starting in one step
    kNotesWithoutSlot,        // the step's eight note slots were already taken
    kNotesReplaced,           // the same note again at the same sub-position took the earlier one's slot
    kNotesOutOfRange,         // a note number or velocity of 128 or more, which a pattern cannot hold
    kNotesInLaterTracks,      // in a track after the first one with notes, which is not read
    kControllersAfterLastBar, // controller changes at or after the end of the bars read
    kControllersWithoutLane,  // a controller number no lane takes
    kControllersInLaterTracks,
    kFitReasonCount
};

constexpr int kFitExampleCount = 3; // examples kept per reason

struct FitExample
{
    int64_t tick = 0;
    int bar = 1;         // 1-based
    int step = 1;        // 1 to 16
    int subPosition = 1; // 1 to 6
    int number = 0;      // the note, or the controller number

    bool operator== (const FitExample& other) const
    {
        return tick == other.tick && bar == other.bar && step == other.step && subPosition == other.subPosition &&
               number == other.number;
    }
};

struct FitLoss
{
    int count = 0;
    std::vector<FitExample> examples; // the first kFitExampleCount, in reading order
};

struct MidiFitReport
{
    bool read = false; // the reader accepted the file; nothing else is meaningful without it
    int barCount = 0;
    int ticksPerQuarter = 0;
    uint32_t microsecondsPerQuarter = 500000; // the first tempo event, 120 BPM without one

    int notesSeen = 0; // note-ons with a velocity above 0, in every track
    int notesKept = 0; // notes in the pattern
    int controllersSeen = 0;
    int controllersKept = 0; // changes stored in at least one lane

    std::array<FitLoss, kFitReasonCount> losses{};

    // The largest distance between an event and where the pattern puts it:
    // starts move back onto a sixth of a step, lengths onto eighths of a step
    // (a note still sounding at the end of its track is measured to the end of
    // the bar the reader ends it at).
    double largestStartErrorTicks = 0.0;
    double largestLengthErrorTicks = 0.0;

    double ticksToMilliseconds (double ticks) const;
    double beatsPerMinute() const;
    int notesLost() const;
    int controllersLost() const;
};

// "C4" for 60, "C#4" for 61, "C-1" for 0; "188" for a number above 127.
juce::String noteName (int note);

// Where an example starts, as a DAW counts: bar.beat.sixteenth ("5.2.3" is
// step 7 of bar 5), with the sixths of a step past the sixteenth when it
// starts between two ("5.2.3+2/6").
juce::String positionText (const FitExample& example);

// True for the reasons that count controller changes, whose examples carry a
// controller number in place of a note.
bool isControllerReason (FitReason reason);

// "C4" for a note, "CC 74" for a controller change.
juce::String exampleSubject (FitReason reason, const FitExample& example);

// A stable name for scripts: "notesAfterLastBar".
const char* fitReasonKey (FitReason reason);

// Why, as the report's lines say it: "after bar 4", "beyond 8 notes in a step".
juce::String fitReasonText (FitReason reason, int barCount);

// One sentence per kind of thing lost, for a notice after a drop:
// "12 notes did not fit: 8 after bar 4, 4 beyond 8 notes in a step." Empty when
// nothing was lost.
juce::String describeLosses (const MidiFitReport& report);

} // namespace korva
