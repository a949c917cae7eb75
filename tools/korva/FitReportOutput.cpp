#include "tools/korva/FitReportOutput.h"

#include "core/device/DeviceMessages.h"

namespace korva
{

namespace tool
{

namespace
{

juce::String ticksAndMilliseconds (const MidiFitReport& report, double ticks)
{
    return juce::String (ticks, 1) + " ticks (" + juce::String (report.ticksToMilliseconds (ticks), 1) + " ms)";
}

// "  8 after bar 4: 5.1.1 C4, 5.2.1 D4, 5.3.1 E4, ..." for every reason with a count.
void addLossLines (const MidiFitReport& report, FitReason first, FitReason last, juce::StringArray& lines)
{
    for (int r = first; r <= last; ++r)
    {
        const FitLoss& loss = report.losses[(std::size_t)r];
        if (loss.count == 0)
            continue;
        juce::StringArray examples;
        for (const FitExample& example : loss.examples)
            examples.add (positionText (example) + " " + exampleSubject ((FitReason)r, example) + " (step "
                          + juce::String (example.step) + ")");
        if (loss.count > (int)loss.examples.size())
            examples.add ("...");
        lines.add ("  " + juce::String (loss.count) + " " + fitReasonText ((FitReason)r, report.barCount) + ": " +
                   examples.joinIntoString (", "));
    }
}

juce::String countsLine (const char* what, int seen, int kept, int lost)
{
    return juce::String (what) + ": " + juce::String (seen) + " in the file, " + juce::String (kept) + " kept, " +
           juce::String (lost) + " lost";
}

juce::var errorJson (const MidiFitReport& report, double ticks)
{
    auto* error = new juce::DynamicObject();
    error->setProperty ("ticks", ticks);
    error->setProperty ("milliseconds", report.ticksToMilliseconds (ticks));
    return juce::var (error);
}

juce::var countsJson (int seen, int kept, int lost)
{
    auto* counts = new juce::DynamicObject();
    counts->setProperty ("inFile", seen);
    counts->setProperty ("kept", kept);
    counts->setProperty ("lost", lost);
    return juce::var (counts);
}

juce::String controllersText (const CcNumbers& controllers)
{
    juce::StringArray numbers;
    for (const int cc : controllers)
        numbers.add (juce::String (cc));
    return numbers.joinIntoString (" ");
}

// "Lanes: controllers 74 71 1 10 91 (the KORVA's current pattern)"
juce::String lanesLine (const LaneSource& lanes)
{
    switch (lanes.kind)
    {
        case LaneSource::kKorva:
            return "Lanes: controllers " + controllersText (lanes.controllers) + " (the KORVA's current pattern)";
        case LaneSource::kInfoFile:
            return "Lanes: controllers " + controllersText (lanes.controllers) + " (from " + lanes.from + ")";
        case LaneSource::kAssumed:
        default:
            return "Lanes: controller 0 on every lane, assumed (" + lanes.from
                   + "); give the KORVA's with --info INFO, which korva pattern-info -o INFO writes";
    }
}

const char* lanesSourceKey (LaneSource::Kind kind)
{
    switch (kind)
    {
        case LaneSource::kKorva: return "korva";
        case LaneSource::kInfoFile: return "info";
        case LaneSource::kAssumed:
        default: return "assumed";
    }
}

} // namespace

juce::String fitReportText (const MidiFitReport& report, const LaneSource& lanes)
{
    juce::StringArray lines;
    lines.add (juce::String (report.barCount) + (report.barCount == 1 ? " bar, " : " bars, ") +
               juce::String (report.ticksPerQuarter) + " ticks per quarter note, " +
               juce::String (report.beatsPerMinute(), 1) + " BPM");
    lines.add (lanesLine (lanes));
    lines.add (countsLine ("Notes", report.notesSeen, report.notesKept, report.notesLost()));
    addLossLines (report, kNotesAfterLastBar, kNotesInLaterTracks, lines);
    lines.add (
        countsLine ("Controller changes", report.controllersSeen, report.controllersKept, report.controllersLost()));
    addLossLines (report, kControllersAfterLastBar, kControllersInLaterTracks, lines);
    lines.add ("Largest timing error: starts " + ticksAndMilliseconds (report, report.largestStartErrorTicks) +
               ", lengths " + ticksAndMilliseconds (report, report.largestLengthErrorTicks));
    return lines.joinIntoString ("\n");
}

juce::var fitReportJson (const MidiFitReport& report, const LaneSource& lanes)
{
    auto* losses = new juce::DynamicObject();
    for (int r = 0; r < kFitReasonCount; ++r)
    {
        const FitLoss& loss = report.losses[(std::size_t)r];
        juce::Array<juce::var> examples;
        for (const FitExample& example : loss.examples)
        {
            auto* item = new juce::DynamicObject();
            item->setProperty ("position", positionText (example));
            item->setProperty ("step", example.step);
            item->setProperty ("subPosition", example.subPosition);
            item->setProperty ("tick", (juce::int64)example.tick);
            if (isControllerReason ((FitReason)r))
                item->setProperty ("controller", example.number);
            else
                item->setProperty ("note", noteName (example.number));
            examples.add (juce::var (item));
        }
        auto* entry = new juce::DynamicObject();
        entry->setProperty ("count", loss.count);
        entry->setProperty ("examples", examples);
        losses->setProperty (fitReasonKey ((FitReason)r), juce::var (entry));
    }

    auto* errors = new juce::DynamicObject();
    errors->setProperty ("start", errorJson (report, report.largestStartErrorTicks));
    errors->setProperty ("length", errorJson (report, report.largestLengthErrorTicks));

    auto* laneObject = new juce::DynamicObject();
    juce::Array<juce::var> controllers;
    for (const int cc : lanes.controllers)
        controllers.add (cc);
    laneObject->setProperty ("controllers", controllers);
    laneObject->setProperty ("source", lanesSourceKey (lanes.kind));
    if (lanes.from.isNotEmpty())
        laneObject->setProperty (lanes.kind == LaneSource::kAssumed ? "why" : "file", lanes.from);

    auto* root = new juce::DynamicObject();
    root->setProperty ("bars", report.barCount);
    root->setProperty ("lanes", juce::var (laneObject));
    root->setProperty ("ticksPerQuarter", report.ticksPerQuarter);
    root->setProperty ("beatsPerMinute", report.beatsPerMinute());
    root->setProperty ("notes", countsJson (report.notesSeen, report.notesKept, report.notesLost()));
    root->setProperty ("controllerChanges",
                       countsJson (report.controllersSeen, report.controllersKept, report.controllersLost()));
    root->setProperty ("losses", juce::var (losses));
    root->setProperty ("largestError", juce::var (errors));
    return juce::var (root);
}

juce::String midiRefusalText (const juce::String& reason)
{
    const juce::String failed = devicemessages::kMidiToPatternFailed;
    return reason.isEmpty() ? failed : failed + " (" + reason + ")";
}

juce::var midiRefusalJson (const juce::String& reason)
{
    auto* root = new juce::DynamicObject();
    root->setProperty ("reason", reason);
    return juce::var (root);
}

} // namespace tool

} // namespace korva
