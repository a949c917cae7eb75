// The master clock, the gate timers and step play.

#include "core/engine/EngineState.h"

#include <algorithm>

namespace korva::engine
{

namespace
{

// Steps per tick for one beat per minute: a 2 ms tick is 1/7500 of a minute,
// and a step a quarter of a beat. Single precision, as on the device.
constexpr float kStepsPerTickPerBpm = 0.00013333333f;

void startNote (EngineState& e, int track, int note, int velocity, float gate)
{
    TrackState& t = e.tracks[track];
    if (t.sequencerOutputOff || t.noteOnsThisPlay >= kMaxNoteOnsPerPlay)
        return;
    const bool alreadySounding = t.sounding.test (note);
    if ((t.soundingCount >= kMaxSoundingNotes && !alreadySounding) || t.startedThisTick.test (note))
        return;

    ++t.noteOnsThisPlay;
    if (!alreadySounding)
    {
        t.sounding.set (note);
        ++t.soundingCount;
    }
    // Taking it out of the previous set makes the output stage strike it again
    // (note off, then note on) even when it was sounding already.
    t.previousSounding.reset (note);
    t.gateTimer[note] = gate;
    t.noteVelocity[note] = (uint8_t)velocity;
}

// Note probability: the quotient in double precision, rounded to single before scaling.
bool passesProbability (const PatternSettings& settings)
{
    if (settings.probabilityEnabled == 0)
        return true;
    const float quotient = (float)((double)nextRandom() / 32767.0);
    const int percent = (int)(100.0f * quotient);
    return settings.probability >= percent;
}

} // namespace

void runMasterClock (EngineState& e)
{
    MasterClock& c = e.clock;
    float increment = (float)(c.fine + e.tempoTenths) / 10.0f * kStepsPerTickPerBpm;
    if (c.syncPending)
    {
        increment = c.syncIncrement;
        c.syncPending = false;
    }
    c.increment = increment;

    if (c.restartPending && increment > 0.0f)
    {
        for (auto& t : e.tracks)
        {
            t.restartPlay = true;
            t.restartMotion = true;
            t.play.firstPending = true;
            t.motion.firstPending = true;
            t.arpDue = true;
        }
        c.trackGroupFirst = 0;
        c.trackGroupLast = kTrackGroupSize - 1;
        c.restartPending = false;
    }

    if (e.transportState != kPlaying)
    {
        c.phase = 0.0f;
        c.step = 0;
        c.bar = 0;
        c.subPosition = 0;
        c.eighth = 0;
        return;
    }

    bool stepChanged = false;
    while (c.phase + increment >= 1.0f)
    {
        ++c.step;
        c.phase = c.phase - 1.0f;
        if (c.step > kStepsPerBar - 1)
        {
            c.step = 0;
            ++c.bar;
        }
        stepChanged = true;
    }
    c.phase = c.phase + increment;
    if (c.phase < 0.0f)
        c.phase = 0.0f;
    c.subPosition = (uint8_t)std::min (5, (int)(6.0f * c.phase));
    c.eighth = (uint8_t)std::min (7, (int)(8.0f * c.phase));

    if (stepChanged && c.step == 0)
        recorderBarBoundary (e);
}

void runGateTimers (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    if (!t.sounding.any())
        return;

    const bool playing = e.transportState == kPlaying;
    const float delta = playing ? t.play.delta : 4.0f * e.clock.increment;
    const StepBlock& block = e.trackPatterns[track]->block;
    const int current = t.play.stepIndex();

    const NoteSet sounding = t.sounding;
    sounding.forEach (
        [&] (int note)
        {
            float gate = t.gateTimer[note] - delta;
            if (gate < 0.0f)
            {
                if (playing)
                {
                    // The note runs into the step that just began, or else into the one that follows.
                    const int next = t.play.backward ? t.backwardLinks[current] : t.forwardLinks[current];
                    const int into = (t.play.flags & kNewUnit) != 0 ? current : next;
                    if (stepword::tie (block.steps[into % kStepCount]))
                    {
                        t.gateTimer[note] = gate + 1.0f;
                        return;
                    }
                }
                t.sounding.reset (note);
                --t.soundingCount;
            }
            t.gateTimer[note] = gate;
        });
}

void runStepPlay (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    if ((t.play.flags & kNewSubPosition) == 0 || !t.playable)
        return;

    const PatternRecord& pattern = *e.trackPatterns[track];
    const StepBlock& block = pattern.block;
    const int k = t.play.subPosition;
    const int i = t.play.stepIndex() % kStepCount;
    const uint32_t word = block.steps[i];
    const bool playing = e.transportState == kPlaying;
    t.noteOnsThisPlay = 0;

    if ((t.play.flags & kNewStep) != 0)
    {
        const uint8_t lanes = stepword::ccMask (word);
        for (int lane = 0; lane < kLaneCount; ++lane)
        {
            if ((lanes & (1u << lane)) == 0)
                continue;
            t.ccOut[lane] = block.ccValues[i][lane];
            if (playing)
                queueCcEvent (e, track, lane, block.ccValues[i][lane]);
        }
    }

    if (stepword::noteMask (word) == 0)
    {
        t.glidePending = false;
    }
    else
    {
        const uint8_t startsHere = block.subPositionMasks[i][k];
        for (int slot = 0; slot < kSlotCount; ++slot)
        {
            if ((startsHere & (1u << slot)) == 0)
                continue;
            const NoteSlot& note = block.notes[i][slot];
            if (!passesProbability (pattern.settings))
                continue;
            if (note.note >= kNoteCount)
                continue;
            // A note noticed late (the track is served every fourth tick) is shortened by its lateness,
            // so it still ends where it should.
            const float gate = (float)(note.length + 1) / 8.0f - (t.play.fraction - (float)k / 6.0f);
            startNote (e, track, note.note, note.velocity, gate);
        }
    }

    if (stepword::glide (word))
    {
        queueGlideEvent (e, track);
        t.glidePending = true; // only control-voltage outputs glide
    }
}

} // namespace korva::engine
