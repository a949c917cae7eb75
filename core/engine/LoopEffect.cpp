// The recorded loop effect: loop codes read along the motion position M make the
// play position Q jump back to the loop's first step each time it has played
// the loop's length, so the looped steps are struck again.

#include "core/engine/EngineState.h"
#include "core/engine/Tables.h"

#include <algorithm>

namespace korva::engine
{

namespace
{

constexpr uint8_t kLoopCodeRecording = 0x15; // an entry being recorded

void endLoop (TrackState& t)
{
    LoopState& loop = t.loop;
    loop.loopClass = -1;
    loop.variant = 0;
    loop.active = false;
    loop.replace = false;
    loop.startValid = false;
    // The track continues where it would have been without the loop.
    t.play = t.motion;
}

// Puts Q where it would be inside the loop in force had the loop always been this one.
void replaceInLoop (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    LoopState& loop = t.loop;
    PlayPosition& q = t.play;
    const int index = loop.index();
    const float length = kLoopLengths[index];

    float m = t.motion.fraction;
    while (m >= length)
        m -= length;
    const GridPoint point = gridReload (index + 1, m);
    loop.waitCount = point.wait;
    loop.threshold = point.threshold;

    placeAt (t, q, loop.startBar, loop.startStepY);
    float p = (float)loop.stepCounter + m;
    p = p - (float)(int)(p / length) * length;
    while (p >= 1.0f)
    {
        if (loop.waitCount > 0)
            --loop.waitCount;
        p -= 1.0f;
        moveOn (e, track, q);
    }

    loadRatio (e, track, q);
    float units = q.ratio * p;
    while (units >= 1.0f)
    {
        units -= 1.0f;
        if (q.unitsLeft > 1)
            --q.unitsLeft;
    }
    q.fraction = units;
    loop.reload = false;
}

} // namespace

void resetLoop (LoopState& loop)
{
    loop.loopClass = -1;
    loop.variant = 0;
    loop.active = false;
    loop.stepCounter = 0;
    loop.startValid = false;
}

void readLoopCode (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    LoopState& loop = t.loop;
    const uint8_t code = e.trackPatterns[track]->block.stepMotion[t.motion.gridSlot() % kStepCount].loopCode;

    if (code > kLoopCodeRecording)
        return;
    if (code == kLoopCodeRecording)
    {
        loop.previousBits = code & 7u;
    }
    else
    {
        const int bits = code & 7;
        if (bits >= 1 && bits <= 4)
        {
            const int loopClass = bits - 1;
            const int variant = (code & 0x08) != 0 ? 1 : (code & 0x10) != 0 ? 2 : 0;
            loop.active = true;
            if (variant != loop.variant)
                loop.replace = true;
            loop.variant = (uint8_t)variant;

            const bool atLoopStart =
                loop.startValid && t.motion.gridSlot() == loop.startBar * kStepsPerBar + loop.startStepY;
            if (!atLoopStart)
            {
                if (!loop.startValid)
                {
                    // The loop starts at the step the track is playing.
                    loop.startValid = true;
                    loop.startBar = t.play.bar;
                    loop.startStepY = t.play.stepY;
                    loop.stepCounter = 0;
                    loop.reload = true;
                }
                else if (loopClass != loop.loopClass)
                {
                    loop.replace = true;
                }
                loop.loopClass = (int8_t)loopClass;
            }
        }
        else if (loop.previousBits != 0)
        {
            endLoop (t);
        }
        loop.previousBits = (uint8_t)bits;
    }

    if (loop.replace && loop.inForce())
        replaceInLoop (e, track);
    loop.replace = false;
}

void runLoop (EngineState& e, int track, bool restarted, bool effectChanged)
{
    TrackState& t = e.tracks[track];
    LoopState& loop = t.loop;
    if (!loop.inForce())
        return;

    PlayPosition& q = t.play;
    const PatternRecord& pattern = *e.trackPatterns[track];
    const int repeats = stepword::ratioNum (pattern.block.steps[q.stepIndex() % kStepCount]) + 1;
    const float x = ((float)repeats - (float)q.unitsLeft + q.fraction) / (float)repeats;

    if (!restarted && (q.flags & kNewStep) != 0 && loop.waitCount > 0)
        --loop.waitCount;
    if (!effectChanged && !(loop.waitCount == 0 && x >= loop.threshold))
        return;

    // Back to the loop's start, keeping the overshoot past the loop's end.
    if (loop.threshold > 0.0f)
        q.fraction = x - (float)(int)(x / loop.threshold) * loop.threshold;
    q.subPosition = (uint8_t)std::clamp ((int)(6.0f * q.fraction), 0, kSubPositionCount - 1);
    placeAt (t, q, loop.startBar, loop.startStepY);
    enterStep (e, track, q);
    const float oldRatio = q.ratio;
    loadRatio (e, track, q);
    if (oldRatio > 0.0f)
    {
        const float scaled = q.fraction * (q.ratio / oldRatio);
        q.delta += scaled - q.fraction;
        q.fraction = scaled;
    }
    // The loop's first step is struck again.
    q.flags |= kNewUnit | kNewStep | kNewSubPosition;
    loop.reload = true;
}

void finishLoopService (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    LoopState& loop = t.loop;
    if (!loop.reload || !loop.inForce())
        return;
    const GridPoint point = gridReload (loop.index() + 1, t.play.fraction);
    loop.waitCount = point.wait;
    loop.threshold = point.threshold;
    loop.reload = false;
}

} // namespace korva::engine
