// From the notes a track's sequencer holds to note events: the per-track output
// set, then the output stage that compares it with what was last sent and emits
// note offs and note ons within a budget per tick.

#include "patterns/engine/EngineState.h"

namespace korva::engine
{

void computeTrackOutput (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];

    // What the output stage has not seen yet was struck since it last looked.
    t.startedThisTick = t.sounding & ~t.previousSounding;
    t.previousSounding = t.sounding;

    NoteSet output = t.sounding;
    NoteSet started = t.startedThisTick;
    output.forEach ([&] (int note) { t.outputVelocity[note] = t.noteVelocity[note]; });

    if (t.outputEnabled)
        t.outputRequested = output;
    else
        t.outputRequested.clear();
    t.outputRetrigger = started & t.outputRequested;

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
