// From the notes a track's sequencer holds to note events: the per-track output
// set, then the output stage that compares it with what was last sent and emits
// note offs and note ons within a budget per tick.

#include "core/engine/EngineState.h"
#include "core/engine/Tables.h"

namespace korva::engine
{

int gridLengthOfArpRate (uint32_t rate)
{
    return rate < kArpRateCount ? kArpRateGridLength[rate] : kGridLengthCount;
}

void computeTrackOutput (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const PatternRecord& pattern = *e.trackPatterns[track];
    const PatternSettings& settings = pattern.settings;
    const bool playing = e.transportState == kPlaying;

    // What the output stage has not seen yet was struck since it last looked.
    t.startedThisTick = t.sounding & ~t.previousSounding;
    t.previousSounding = t.sounding;

    // Each stage carries the velocity along with its notes.
    NoteSet set{};
    NoteSet started{};
    uint8_t velocity[kNoteCount];

    // Transposition.
    const int transpose = t.liveTranspose != 0 ? t.liveTranspose : playing ? t.recordedTranspose : 0;
    t.sounding.forEach (
        [&] (int note)
        {
            const int shifted = note + transpose;
            if (shifted < 0 || shifted >= kNoteCount)
                return;
            set.set (shifted);
            velocity[shifted] = t.noteVelocity[note];
            if (t.startedThisTick.test (note))
                started.set (shifted);
        });

    // Chords: the step's chord slot built on the lowest note, at the root's velocity.
    const int root = set.lowest();
    const bool rootIsNew = root >= 0 && (root != t.chordRoot || started.test (root));
    t.chordRoot = root;
    if (playing && root >= 0)
    {
        const int tag = stepword::tag (pattern.block.steps[t.play.stepIndex() % kStepCount]);
        if (tag != 0)
        {
            const uint16_t chord = e.chordMemory[track][tag - 1];
            int count = set.count();
            for (int i = 0; i < 4; ++i)
            {
                const int interval = (chord >> (4 * i)) & 0xF;
                const int note = root + interval;
                if (interval == 0 || note >= kNoteCount || set.test (note) || count >= kMaxSoundingNotes)
                    continue;
                set.set (note);
                velocity[note] = velocity[root];
                ++count;
                if (rootIsNew)
                    started.set (note);
            }
        }
    }

    // Arpeggiator: one note of the held set at a time, while its gate is open.
    if (settings.arpEnabled != 0)
    {
        bool chosen = false;
        if (t.arpChoiceRequested)
        {
            t.arpChoiceRequested = false;
            if (!set.any())
            {
                resetArpeggiator (t);
            }
            else
            {
                const int note = chooseArpeggiatorNote (t, settings, set);
                t.arpVelocity = velocity[note];
                const GridPoint next = gridReload (gridLengthOfArpRate (settings.arpRate), t.arpFireFraction);
                t.arpGateLeft =
                    ((float)next.wait + next.threshold - t.arpFireFraction) * (float)settings.arpGate / 100.0f;
                t.arpGateOpen = true;
                chosen = true;
            }
        }
        set.clear();
        started.clear();
        if (t.arpGateOpen && t.arpLastNote != kArpNoNote)
        {
            int note = t.arpLastNote + 12 * t.arpOctave;
            while (note >= kNoteCount)
                note -= 12;
            set.set (note);
            velocity[note] = t.arpVelocity;
            if (chosen)
                started.set (note);
        }
    }

    // Scale correction.
    if (t.scaleCode != 0)
    {
        NoteSet corrected{};
        NoteSet correctedStarted{};
        uint8_t correctedVelocity[kNoteCount];
        set.forEach (
            [&] (int note)
            {
                const int moved = note + kScaleShifts[t.scaleActions[note]];
                if (moved < 0 || moved >= kNoteCount)
                    return;
                if (!corrected.test (moved))
                {
                    corrected.set (moved);
                    correctedVelocity[moved] = velocity[note];
                }
                if (started.test (note))
                    correctedStarted.set (moved);
            });
        set = corrected;
        started = correctedStarted;
        set.forEach ([&] (int note) { velocity[note] = correctedVelocity[note]; });
    }

    if (t.mono && set.any())
    {
        const int lowest = set.lowest();
        set.clear();
        set.set (lowest);
    }

    if (t.outputEnabled)
        t.outputRequested = set;
    else
        t.outputRequested.clear();
    t.outputRetrigger = started & t.outputRequested;
    t.outputRequested.forEach ([&] (int note) { t.outputVelocity[note] = velocity[note]; });

    if (((t.outputRequested ^ t.outputSent) | t.outputRetrigger).any())
        e.outputPendingTracks |= (uint16_t)(1u << track);
}

void runOutputStage (EngineState& e)
{
    const bool playing = e.transportState == kPlaying;
    const int start = e.outputStartTrack;
    int work = 0;

    for (int visited = 0; visited < kOutputTracksPerTick; ++visited)
    {
        const int track = (start + visited) % kTrackCount;
        if ((e.outputPendingTracks & (1u << track)) == 0)
            continue;
        TrackState& t = e.tracks[track];
        const NoteSet pending = (t.outputRequested ^ t.outputSent) | t.outputRetrigger;

        for (int w = 0; w < 4 && work < kOutputBudget; ++w)
        {
            for (uint32_t bits = pending.words[w]; bits != 0 && work < kOutputBudget; bits &= bits - 1)
            {
                const int note = w * 32 + __builtin_ctz (bits);
                const bool requested = t.outputRequested.test (note);
                const bool sent = t.outputSent.test (note);
                if (requested && sent)
                {
                    // Struck again while sounding: release before striking, in the same tick.
                    queueNoteEvent (e, track, note, 0);
                    if (playing)
                        queueNoteEvent (e, track, note, t.outputVelocity[note]);
                    work += 2;
                }
                else if (requested)
                {
                    if (playing)
                        queueNoteEvent (e, track, note, t.outputVelocity[note]);
                    t.outputSent.set (note);
                    work += 1;
                }
                else if (sent)
                {
                    queueNoteEvent (e, track, note, 0);
                    t.outputSent.reset (note);
                    work += 1;
                }
                t.outputRetrigger.reset (note);
            }
        }

        if (work >= kOutputBudget)
        {
            e.outputStartTrack = (uint8_t)track;
            if (!((t.outputRequested ^ t.outputSent) | t.outputRetrigger).any())
                e.outputPendingTracks &= (uint16_t) ~(1u << track);
            return;
        }
        e.outputPendingTracks &= (uint16_t) ~(1u << track);
    }
    e.outputStartTrack = (uint8_t)((start + kOutputTracksPerTick) % kTrackCount);
}

} // namespace korva::engine
