// The arpeggiator: its clock, which fires on the grid of its rate in the play
// position's time, and its choice of the next note among the held notes.

#include "core/engine/EngineState.h"
#include "core/engine/Tables.h"

namespace korva::engine
{

namespace
{

// Whether sub-position k of grid position x lies on the grid of the rate.
bool onRateGrid (uint32_t rate, int k, int x)
{
    switch (rate)
    {
        case 0:
            return k == 0 && x % 8 == 0;
        case 1:
            return k == 0 && x % 4 == 0;
        case 2:
        case 5:
            return k == 0;
        case 3:
            return k == 0 && x % 2 == 0;
        case 4:
            return (k == 0 && x % 4 == 0) || (k == 2 && x % 4 == 1) || (k == 4 && x % 4 == 2);
        case 6:
            return (x % 2 == 0 && (k == 0 || k == 4)) || (x % 2 == 1 && k == 2);
        case 7:
            return k == 0 || k == 3;
        default:
            return false;
    }
}

int lowestAbove (const NoteSet& held, int note)
{
    for (int n = note + 1; n < kNoteCount; ++n)
    {
        if (held.test (n))
            return n;
    }
    return -1;
}

int highestBelow (const NoteSet& held, int note)
{
    for (int n = note - 1; n >= 0; --n)
    {
        if (held.test (n))
            return n;
    }
    return -1;
}

int nthHeld (const NoteSet& held, int index)
{
    int found = -1;
    held.forEach (
        [&] (int note)
        {
            if (index-- == 0)
                found = note;
        });
    return found;
}

} // namespace

int arpOctavesOf (const PatternSettings& settings)
{
    // The octave is taken modulo the range: a range of 0 counts as 1.
    return settings.arpOctaves == 0 ? 1 : settings.arpOctaves;
}

void resetArpeggiator (TrackState& t)
{
    t.arpLastNote = kArpNoNote;
    t.arpOctave = 0;
    t.arpDescending = false;
}

void runArpeggiatorClock (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const PatternSettings& settings = e.trackPatterns[track]->settings;
    if (settings.arpEnabled == 0)
        return;
    const PlayPosition& q = t.play;

    if (t.arpGateOpen)
    {
        t.arpGateLeft -= q.delta;
        if (t.arpGateLeft < 0.0f)
        {
            t.arpGateLeft = 0.0f;
            t.arpGateOpen = false;
        }
    }

    if ((q.flags & kNewUnit) != 0 && t.arpWaitCount > 0)
        --t.arpWaitCount;
    if (t.arpWaitCount == 0 && q.fraction >= t.arpThreshold)
        t.arpDue = true;

    // Once due it waits for a new sub-position on its grid.
    if (!t.arpDue || (q.flags & kNewSubPosition) == 0 || !onRateGrid (settings.arpRate, q.subPosition, q.gridX))
        return;
    const GridPoint next = gridReload (gridLengthOfArpRate (settings.arpRate), q.fraction);
    t.arpWaitCount = next.wait;
    t.arpThreshold = next.threshold;
    t.arpGateLeft = 0.0f;
    t.arpDue = false;
    t.arpChoiceRequested = true;
    t.arpFireFraction = q.fraction;
}

int chooseArpeggiatorNote (TrackState& t, const PatternSettings& settings, const NoteSet& held)
{
    const int octaves = arpOctavesOf (settings);
    const int last = t.arpLastNote;
    const bool none = last == kArpNoNote;
    auto nextOctave = [&t, octaves] { t.arpOctave = (uint8_t)((t.arpOctave + 1) % octaves); };

    const int count = held.count();
    int note = -1;
    uint32_t mode = settings.arpMode;
    if (mode == 2 && count < 3)
        mode = 0;

    switch (mode)
    {
        case 1: // down
            // No held note lies below "none" (-50): the first choice wraps like
            // any other, so the octave moves on before the first note too.
            note = highestBelow (held, last);
            if (note < 0)
            {
                note = held.highest();
                nextOctave();
            }
            break;
        case 2: // up and down, each end note once
            if (!t.arpDescending || none)
            {
                t.arpDescending = false;
                note = none ? held.lowest() : lowestAbove (held, last);
                if (note < 0)
                {
                    t.arpDescending = true;
                    note = highestBelow (held, held.highest());
                }
            }
            else
            {
                note = highestBelow (held, last);
                if (note < 0)
                {
                    t.arpDescending = false;
                    note = lowestAbove (held, held.lowest());
                }
                else if (note == held.lowest())
                {
                    nextOctave();
                }
            }
            break;
        case 3: // random
            note = nthHeld (held, (nextRandom() % 256) % count);
            t.arpOctave = (uint8_t)(nextRandom() % octaves);
            break;
        default: // up
            note = none ? -1 : lowestAbove (held, last);
            if (note < 0)
            {
                note = held.lowest();
                if (!none)
                    nextOctave();
            }
            break;
    }
    t.arpLastNote = note;
    return note;
}

} // namespace korva::engine
