#include "core/midi/MidiFitReport.h"

namespace korva
{

namespace
{

enum Subject
{
    kNotes,
    kControllers
};

struct ReasonInfo
{
    const char* key;
    const char* text; // "BAR" stands for the number of bars read
    Subject subject;
};

constexpr std::array<ReasonInfo, kFitReasonCount> kReasons{{
    {"notesAfterLastBar", "after bar BAR", kNotes},
    {"notesBeyondStepLimit", "beyond 8 notes in a step", kNotes},
    {"notesWithoutSlot", "with no free slot in their step", kNotes},
    {"notesReplaced", "replaced by the same note at the same position", kNotes},
    {"notesOutOfRange", "with a note number or velocity above 127", kNotes},
    {"notesInLaterTracks", "in tracks after the first one with notes", kNotes},
    {"controllersAfterLastBar", "after bar BAR", kControllers},
    {"controllersWithoutLane", "on a controller no lane takes", kControllers},
    {"controllersInLaterTracks", "in tracks after the first one with notes", kControllers},
}};

int lostOf (const MidiFitReport& report, Subject subject)
{
    int lost = 0;
    for (int r = 0; r < kFitReasonCount; ++r)
    {
        if (kReasons[(std::size_t)r].subject == subject)
            lost += report.losses[(std::size_t)r].count;
    }
    return lost;
}

juce::String sentence (const MidiFitReport& report, Subject subject, const char* one, const char* many)
{
    const int lost = lostOf (report, subject);
    if (lost == 0)
        return {};
    juce::StringArray parts;
    for (int r = 0; r < kFitReasonCount; ++r)
    {
        const int count = report.losses[(std::size_t)r].count;
        if (kReasons[(std::size_t)r].subject == subject && count > 0)
            parts.add (juce::String (count) + " " + fitReasonText ((FitReason)r, report.barCount));
    }
    return juce::String (lost) + " " + (lost == 1 ? one : many) + " did not fit: " + parts.joinIntoString (", ") + ".";
}

} // namespace

double MidiFitReport::ticksToMilliseconds (double ticks) const
{
    if (ticksPerQuarter <= 0)
        return 0.0;
    return ticks * (double)microsecondsPerQuarter / (double)ticksPerQuarter / 1000.0;
}

double MidiFitReport::beatsPerMinute() const
{
    return microsecondsPerQuarter == 0 ? 0.0 : 60000000.0 / (double)microsecondsPerQuarter;
}

int MidiFitReport::notesLost() const
{
    return lostOf (*this, kNotes);
}

int MidiFitReport::controllersLost() const
{
    return lostOf (*this, kControllers);
}

juce::String noteName (int note)
{
    // A file can hold note numbers no key has.
    if (note < 0 || note > 127)
        return juce::String (note);
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return juce::String (names[((note % 12) + 12) % 12]) + juce::String (note / 12 - 1);
}

juce::String positionText (const FitExample& example)
{
    // As a DAW counts: bar, beat (a quarter note), sixteenth, all from 1; a
    // start between sixteenths is given in the sixths of a step it sits on.
    const int step = juce::jlimit (1, 16, example.step);
    juce::String text = juce::String (example.bar) + "." + juce::String ((step - 1) / 4 + 1) + "."
                        + juce::String ((step - 1) % 4 + 1);
    if (example.subPosition > 1)
        text << "+" << (example.subPosition - 1) << "/6";
    return text;
}

bool isControllerReason (FitReason reason)
{
    return kReasons[(std::size_t)reason].subject == kControllers;
}

juce::String exampleSubject (FitReason reason, const FitExample& example)
{
    if (isControllerReason (reason))
        return "CC " + juce::String (example.number);
    return noteName (example.number);
}

const char* fitReasonKey (FitReason reason)
{
    return kReasons[(std::size_t)reason].key;
}

juce::String fitReasonText (FitReason reason, int barCount)
{
    return juce::String (kReasons[(std::size_t)reason].text).replace ("BAR", juce::String (barCount));
}

juce::String describeLosses (const MidiFitReport& report)
{
    const juce::String notes = sentence (report, kNotes, "note", "notes");
    const juce::String controllers = sentence (report, kControllers, "controller change", "controller changes");
    return (notes + " " + controllers).trim();
}

} // namespace korva
