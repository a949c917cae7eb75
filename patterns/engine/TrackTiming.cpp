// Track timing: where each track is in its pattern. The master time is copied
// into the track's own time, from which the motion position M and the play
// position Q are integrated along the track's step chain; step play reads Q.

#include "patterns/engine/EngineState.h"

#include <algorithm>
#include <cstring>

namespace korva::engine
{

namespace
{

constexpr int kChainTries = 127;

// Advance between two positions in steps: forward across the bar end when the
// new step is smaller; jumps of more than 16 steps count as none.
float positionDelta (const Position& old, int newStep, float newFraction)
{
    float d = newFraction - old.fraction;
    if (newStep == old.step)
    {
        if (d < 0.0f)
            d = 0.0f;
    }
    else if (newStep < old.step)
    {
        d = d + 1.0f + (float)(newStep - old.step + 15);
    }
    else
    {
        d = d + (float)(newStep - old.step);
    }
    if (d < -16.0f || d > 16.0f)
        d = 0.0f;
    return d;
}

void storePosition (Position& p, int step, float fraction, uint16_t bar)
{
    p.delta = positionDelta (p, step, fraction);
    p.fraction = fraction;
    p.step = (uint8_t)step;
    p.bar = bar;
    p.subPosition = (uint8_t)std::min (5, (int)(6.0f * fraction));
}

bool stepPlayable (const PatternRecord& pattern, int index)
{
    return index < playedBarCount (pattern) * kStepsPerBar && stepword::enabled (pattern.block.steps[index]);
}

void setStep (PlayPosition& q, int index)
{
    q.bar = (uint8_t)(index / kStepsPerBar);
    q.stepY = (uint8_t)(index % kStepsPerBar);
    q.gridX = q.stepY;
}

void walkChain (const TrackState& t, PlayPosition& q)
{
    setStep (q, t.forwardLinks[q.stepIndex() % kStepCount]);
}

void loadRatio (PlayPosition& q)
{
    q.unitsLeft = 1;
    q.ratio = 1.0f;
}

// A disabled step, or one beyond the pattern's bars, is passed over at once.
void enterStep (const EngineState& e, int track, PlayPosition& q)
{
    const TrackState& t = e.tracks[track];
    if (!stepPlayable (*e.trackPatterns[track], q.stepIndex()))
        walkChain (t, q);
    loadRatio (q);
}

void restartPosition (const EngineState& e, int track, PlayPosition& q)
{
    q.fraction = 0.0f;
    q.subPosition = 0;
    q.backward = false;
    setStep (q, 0);
    q.flags |= kNewStep | kNewUnit | kNewSubPosition;
    enterStep (e, track, q);
}

// Integrates a play position by the track's advance: every whole unit passed
// ends a repeat of the step; the last repeat moves the position along the chain.
void integrate (const EngineState& e, int track, PlayPosition& q, float advance, bool restart)
{
    q.flags = 0;
    if (restart)
        restartPosition (e, track, q);
    const int oldSubPosition = q.subPosition;

    float dq = advance * q.ratio;
    if (restart || dq > 64.0f)
        dq = 0.0f;

    float f = q.fraction + dq;
    while (f >= 1.0f && f < 64.0f)
    {
        q.flags |= kNewUnit;
        f = f - 1.0f;
        if (q.unitsLeft > 0)
            --q.unitsLeft;
        if (q.unitsLeft == 0)
        {
            q.flags |= kNewStep;
            walkChain (e.tracks[track], q);
            enterStep (e, track, q);
        }
    }
    if (f >= 1.0f)
        f = 0.0f;

    q.fraction = f;
    q.delta = dq;
    q.subPosition = (uint8_t)std::min (5, (int)(6.0f * f));
    if (q.subPosition != oldSubPosition || q.firstPending)
        q.flags |= kNewSubPosition;
    if (q.firstPending)
        q.flags |= kNewUnit | kNewStep;
    q.firstPending = false;
}

} // namespace

void applyTrackSettings (EngineState&, int) {}

void buildStepChain (PatternRecord& pattern)
{
    const int barCount = playedBarCount (pattern);
    auto& next = pattern.settings.nextLinks;
    auto& prev = pattern.settings.prevLinks;
    const uint16_t* masks = pattern.block.stepPresentMasks;
    const bool anyPresent = (masks[0] | masks[1] | masks[2] | masks[3]) != 0;
    auto usable = [&] (int bar) { return bar < barCount && masks[bar] != 0; };
    auto enabled = [&] (int index) { return stepword::enabled (pattern.block.steps[index]); };

    for (int s = 0; s < kStepCount; ++s)
    {
        next[s] = prev[s] = (uint8_t)s;
        if (!anyPresent || barCount == 0)
            continue;

        int bar = s / kStepsPerBar;
        int x = s % kStepsPerBar;
        for (int attempt = 0; attempt < kChainTries; ++attempt)
        {
            x = usable (bar) ? x + 1 : kStepsPerBar;
            if (x >= kStepsPerBar)
            {
                bar = bar + 1 < barCount ? bar + 1 : 0;
                x = 0;
            }
            const int candidate = bar * kStepsPerBar + x;
            if (enabled (candidate) && bar < barCount)
            {
                next[s] = (uint8_t)candidate;
                break;
            }
        }

        bar = s / kStepsPerBar;
        x = s % kStepsPerBar;
        for (int attempt = 0; attempt < kChainTries; ++attempt)
        {
            x = usable (bar) ? x - 1 : -1;
            if (x < 0)
            {
                bar = (bar == 0 || bar - 1 >= barCount) ? barCount - 1 : bar - 1;
                x = kStepsPerBar - 1;
            }
            const int candidate = bar * kStepsPerBar + x;
            if (enabled (candidate) && bar < barCount)
            {
                prev[s] = (uint8_t)candidate;
                break;
            }
        }
    }
}

void loadStepChain (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const PatternRecord& pattern = *e.trackPatterns[track];
    std::memcpy (t.forwardLinks, pattern.settings.nextLinks, kStepCount);
    std::memcpy (t.backwardLinks, pattern.settings.prevLinks, kStepCount);
    for (int i = 0; i < kStepCount; ++i)
    {
        t.forwardLinks[i] %= kStepCount;
        t.backwardLinks[i] %= kStepCount;
    }

    // With no enabled step at all the chain links every step to itself; such a track plays nothing.
    t.playable = false;
    for (int i = 0; i < playedBarCount (pattern) * kStepsPerBar; ++i)
        t.playable = t.playable || stepword::enabled (pattern.block.steps[i]);

    t.patternReplaced = false;
    t.restartPlay = true;
    t.restartMotion = true;
}

void resetTrackTiming (TrackState& t)
{
    t.masterCopy = {};
    t.trackTime = {};
    t.motion = {};
    t.play = {};
    t.restartPlay = false;
    t.restartMotion = false;
}

void runTrackTiming (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const MasterClock& c = e.clock;

    // P0: the master position and its advance since the track's last service.
    storePosition (t.masterCopy, c.step, c.phase, c.bar);
    const float advance = t.masterCopy.delta;

    const bool restartPlay = t.restartPlay;
    const bool restartMotion = t.restartMotion;
    t.restartPlay = t.restartMotion = false;

    // P1: the track's own time, which a restart takes back to bar 0, step 0.
    {
        Position& p = t.trackTime;
        float f = p.fraction + advance;
        int step = p.step;
        uint16_t bar = p.bar;
        while (f >= 1.0f)
        {
            f -= 1.0f;
            if (++step > kStepsPerBar - 1)
            {
                step = 0;
                ++bar;
            }
        }
        if (f < 0.0f)
            f = 0.0f;
        if (restartPlay || restartMotion)
            step = bar = 0;
        storePosition (p, step, f, bar);
    }

    integrate (e, track, t.motion, t.trackTime.delta, restartMotion);
    integrate (e, track, t.play, t.trackTime.delta, restartPlay);
}

} // namespace korva::engine
