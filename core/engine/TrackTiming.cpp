// Track timing: where each track is in its pattern. Stage by stage the master
// time becomes the track's own time (P1), swung (P2), grooved (P3), nudged (P4)
// and effected (P5); from P4 and P5 the motion position M and the play position
// Q are integrated at the track's speed and each step's ratio along the track's
// step chain. Step play reads Q; M addresses the step-motion records.

#include "core/engine/EngineState.h"
#include "core/engine/Tables.h"

#include <algorithm>
#include <cstring>

namespace korva::engine
{

namespace
{

constexpr int kChainTries = 127;
constexpr uint16_t kGrooveBarMask = 0x0FFF; // grooved positions count bars in 12 bits
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;

int subPositionOf (float fraction)
{
    return std::clamp ((int)(6.0f * fraction), 0, kSubPositionCount - 1);
}

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
    p.subPosition = (uint8_t)subPositionOf (fraction);
}

// Moves a position on by `delta` steps, carrying whole steps into step and bar.
void advancePosition (Position& p, float delta)
{
    float f = p.fraction + delta;
    while (f >= 1.0f)
    {
        f -= 1.0f;
        if (++p.step > kStepsPerBar - 1)
        {
            p.step = 0;
            ++p.bar;
        }
    }
    if (f < 0.0f)
        f = 0.0f;
    p.fraction = f;
    p.delta = delta;
    p.subPosition = (uint8_t)subPositionOf (f);
}

// Linear interpolation in the cosine table; arguments outside 0 to 2 pi give 0.
float tableCosine (float x)
{
    if (x < 0.0f || x > kTwoPi)
        return 0.0f;
    const float position = x * (128.0f / kTwoPi);
    const int i = (int)position;
    const float frac = position - (float)i;
    const float a = kCosineTable[i & 127];
    const float b = kCosineTable[(i + 1) & 127];
    return a + (b - a) * frac;
}

// The groove curves: each warps the position u within a cycle of n steps and keeps 0 and n in place.
float warp (int curve, float u, float n, float a)
{
    switch (curve)
    {
        case 0:
            if (u < n / 4.0f)
                return (2.0f * a * u / n + 1.0f) * u;
            if (u < 3.0f * n / 4.0f)
                return ((1.0f - u / n) * 2.0f * a + 1.0f) * u - n * a / 4.0f;
            return ((u / n - 2.0f) * 2.0f * a + 1.0f) * u + 2.0f * n * a;
        case 1:
            if (u < n / 2.0f)
                return ((1.0f - 2.0f * u / n) * a + 1.0f) * u;
            return (1.0f - (3.0f - 2.0f * u / n) * a) * u + n * a;
        case 2:
        {
            const float w = kTwoPi / n;
            return u + (1.0f - tableCosine (w * u)) * a / w;
        }
        case 3:
        {
            const float w = kTwoPi / n;
            float argument = kHalfPi - w * u;
            if (argument < 0.0f)
                argument += kTwoPi;
            return u + tableCosine (argument) * a / w;
        }
        case 4:
            return ((1.0f - u / n) * a + 1.0f) * u;
        case 5:
            if (u < n / 2.0f)
            {
                const float r = (a + 1.0f) * u;
                return r == 0.0f ? 0.0001f : r;
            }
            else
            {
                const float r = (1.0f - a) * u + n * a;
                return r == n * a ? n * a - 0.0001f : r;
            }
        default:
            return u;
    }
}

// Whether a position lies before another, less than 4095 bars back.
bool isBefore (int bar, int step, float fraction, const Position& other)
{
    const int barsBack = (other.bar - bar) & kGrooveBarMask;
    if (barsBack != 0)
        return barsBack < kGrooveBarMask;
    return step < other.step || (step == other.step && fraction < other.fraction);
}

bool stepPlayable (const PatternRecord& pattern, int index)
{
    return index < playedBarCount (pattern) * kStepsPerBar && stepword::enabled (pattern.block.steps[index]);
}

uint8_t currentEffect (const TrackState& t, bool playing)
{
    if (t.liveEffect != kNoEffect)
        return t.liveEffect;
    return playing ? t.recordedEffect : (uint8_t)kNoEffect;
}

// A flip of the walking direction by a change of linkReverse mirrors the position in the pattern.
void updateDirection (const EngineState& e, int track, PlayPosition& q)
{
    const PatternRecord& pattern = *e.trackPatterns[track];
    const uint8_t linkReverse = pattern.settings.linkReverse;
    if (linkReverse == q.linkReverseSeen)
        return;
    q.linkReverseSeen = linkReverse;
    const bool backward = linkReverse != 0;
    if (backward == q.backward)
        return;

    const TrackState& t = e.tracks[track];
    q.backward = backward;
    q.gridX = (uint8_t)(kStepsPerBar - 1 - q.gridX);
    q.stepY = t.order[q.gridX];
    q.bar = (uint8_t)std::max (0, playedBarCount (pattern) - 1 - q.bar);
    if (!stepPlayable (pattern, q.stepIndex()))
        moveOn (e, track, q);
    loadRatio (e, track, q);
}

void restartPosition (const EngineState& e, int track, PlayPosition& q)
{
    const TrackState& t = e.tracks[track];
    const PatternRecord& pattern = *e.trackPatterns[track];
    q.fraction = 0.0f;
    q.subPosition = 0;
    q.linkReverseSeen = pattern.settings.linkReverse;
    q.backward = pattern.settings.linkReverse != 0;
    if (q.backward)
        placeAt (t, q, std::max (0, playedBarCount (pattern) - 1), t.order[kStepsPerBar - 1]);
    else
        placeAt (t, q, 0, t.order[0]);
    q.flags |= kNewStep | kNewUnit | kNewSubPosition;
    enterStep (e, track, q);
    loadRatio (e, track, q);
}

// Integrates a play position by the track's advance: every whole unit passed ends
// a repeat of the step, and the last repeat moves the position along the chain.
void integrate (EngineState& e, int track, PlayPosition& q, float speed, float advance, bool restart, bool isMotion)
{
    TrackState& t = e.tracks[track];
    q.flags = 0;
    if (restart)
        restartPosition (e, track, q);
    const int oldSubPosition = q.subPosition;

    float dq = speed * advance * q.ratio;
    if (restart || dq > 64.0f)
        dq = 0.0f;

    float f = q.fraction + dq;
    while (f >= 1.0f && f < 64.0f)
    {
        q.flags |= kNewUnit;
        f = f - 1.0f;
        if (f < 0.0f)
            f += dq;
        if (q.unitsLeft > 0)
            --q.unitsLeft;
        if (q.unitsLeft != 0)
            continue;

        q.flags |= kNewStep;
        updateDirection (e, track, q);
        moveOn (e, track, q);
        enterStep (e, track, q);
        if (isMotion)
            t.loop.stepCounter = (uint8_t)((t.loop.stepCounter + 1) % 96);
        const float oldRatio = q.ratio;
        loadRatio (e, track, q);
        if (oldRatio == 0.0f)
            break;
        if (f < 1.0f)
        {
            // The rest of the advance carries over into the new step at its own ratio.
            const float scaled = f * (q.ratio / oldRatio);
            dq = scaled + (dq - f);
            f = scaled;
        }
    }
    if (f >= 1.0f)
        f = 0.0f; // only an advance of 64 or more gets here, which counts as none

    q.fraction = f;
    q.delta = dq;
    q.subPosition = (uint8_t)subPositionOf (f);
    if (q.subPosition != oldSubPosition || q.firstPending)
        q.flags |= kNewSubPosition;
    if (q.firstPending)
        q.flags |= kNewUnit | kNewStep;
    q.firstPending = false;
}

// Master steps counted towards a resync; resync settings change only at a bar start.
void countResync (TrackState& t, const PatternSettings& settings, int masterStep, bool playing)
{
    bool applied = false;
    if (masterStep == 0 && (settings.resyncEnabled != t.resyncEnabled || settings.resyncSteps != t.resyncSteps))
    {
        t.resyncEnabled = settings.resyncEnabled;
        t.resyncSteps = settings.resyncSteps;
        t.resyncCount = 0;
        applied = true;
    }
    if (t.resyncEnabled == 0 || applied)
        return;
    if (++t.resyncCount < std::max<int> (1, t.resyncSteps))
        return;
    t.resyncCount = 0;
    t.restartMotion = true;
    if (currentEffect (t, playing) != kFreeze)
        t.restartPlay = true;
}

// The play position takes up the motion position where it would have been without the effect or loop.
void setBackToMotion (TrackState& t)
{
    t.play = t.motion;
}

// The recorded time effect of the step-motion record at M's grid slot, read at each new sub-position of M.
bool readTimeEffect (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const StepMotion& motion = e.trackPatterns[track]->block.stepMotion[t.motion.gridSlot() % kStepCount];
    const int code = motion.repeatCode;
    const int k = t.motion.subPosition;

    uint8_t effect = kNoEffect;
    if (code == 1)
        effect = kHalfSpeed;
    else if (code >= 2 && code <= 7)
        effect = k + 2 >= code ? kFreeze : kNoEffect; // a hold from sub-position code - 2
    else if (code == 8)
        effect = kDoubleSpeed;
    else if (code != 0)
        return false; // 9 marks an entry being recorded; others mean nothing

    // An effect is a change when it ends or begins at another step than the one in force.
    const int step = t.motion.stepIndex();
    const bool changed = effect != t.recordedEffect || (effect != kNoEffect && step != t.effectStep);
    t.recordedEffect = effect;
    if (effect != kNoEffect)
        t.effectStep = (uint8_t)step;
    if (!changed)
        return false;

    t.effected = t.nudged;
    if (!t.loop.inForce())
        setBackToMotion (t);
    return true;
}

} // namespace

float grooveAmountOf (const PatternSettings& settings)
{
    // The amount table has 128 entries; anything beyond counts as no groove.
    return kAmountTable[settings.grooveAmount < 128 ? settings.grooveAmount : kNeutralAmount];
}

void placeAt (const TrackState& t, PlayPosition& q, int bar, int stepY)
{
    q.bar = (uint8_t)bar;
    q.stepY = (uint8_t)(stepY % kStepsPerBar);
    q.gridX = t.inverseOrder[q.stepY];
}

void moveOn (const EngineState& e, int track, PlayPosition& q)
{
    const TrackState& t = e.tracks[track];
    const bool backAndForth = e.trackPatterns[track]->settings.linkEndFlag != 0;
    const int i = q.stepIndex() % kStepCount;
    int next;
    if (!q.backward)
    {
        // The last step of the chain is the one before the first.
        if (backAndForth && t.backwardLinks[t.order[0]] == i)
        {
            q.backward = true;
            next = i;
        }
        else
        {
            next = t.forwardLinks[i];
        }
    }
    else
    {
        // The step after bar 3's last grid position is the chain's first, whatever the bar count.
        if (backAndForth && t.forwardLinks[3 * kStepsPerBar + t.order[kStepsPerBar - 1]] == i)
        {
            q.backward = false;
            next = i;
        }
        else
        {
            next = t.backwardLinks[i];
        }
    }
    placeAt (t, q, next / kStepsPerBar, next % kStepsPerBar);
}

void enterStep (const EngineState& e, int track, PlayPosition& q)
{
    if (!stepPlayable (*e.trackPatterns[track], q.stepIndex()))
        moveOn (e, track, q);
}

void loadRatio (const EngineState& e, int track, PlayPosition& q)
{
    const uint32_t word = e.trackPatterns[track]->block.steps[q.stepIndex() % kStepCount];
    const int repeats = stepword::ratioNum (word) + 1;
    q.unitsLeft = (uint8_t)repeats;
    q.ratio = (float)repeats / (float)(stepword::ratioDen (word) + 1);
}

void rebuildScaleTable (TrackState& t, uint8_t scaleType, uint8_t scaleRoot)
{
    t.scaleType = scaleType;
    t.scaleRoot = scaleRoot;
    if (scaleType < kScaleTypeCount)
        t.scaleCode = kScaleCodes[scaleType];
    for (int note = 0; note < kNoteCount; ++note)
    {
        const int pitchClass = ((note + 24 - scaleRoot) % 12 + 12) % 12;
        t.scaleActions[note] = (uint8_t)((t.scaleCode >> (2 * pitchClass)) & 3u);
    }
}

void refreshScaleTable (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const PatternSettings& s = e.trackPatterns[track]->settings;
    if (s.scaleType != t.scaleType || s.scaleRoot != t.scaleRoot)
        rebuildScaleTable (t, s.scaleType, s.scaleRoot);
}

void applyTrackSettings (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const PatternSettings& s = e.trackPatterns[track]->settings;
    rebuildScaleTable (t, s.scaleType, s.scaleRoot);
    t.motion.linkReverseSeen = t.play.linkReverseSeen = s.linkReverse;
    t.motion.backward = t.play.backward = s.linkReverse != 0;
    // Beyond 100 percent the swing formula would run the odd steps backwards.
    t.swingFactor = (float)std::min<int> (s.swing, 100) / 100.0f;
    t.resyncEnabled = s.resyncEnabled;
    t.resyncSteps = s.resyncSteps;
    t.resyncCount = 0;
}

void buildStepChain (PatternRecord& pattern)
{
    const int barCount = playedBarCount (pattern);
    const uint8_t* order = stepOrderRow (pattern.settings.stepOrder);
    uint8_t inverse[kStepsPerBar];
    for (int x = 0; x < kStepsPerBar; ++x)
        inverse[order[x]] = (uint8_t)x;

    auto& next = pattern.settings.nextLinks;
    auto& prev = pattern.settings.prevLinks;
    const uint16_t* masks = pattern.block.stepPresentMasks;
    const bool anyPresent = (masks[0] | masks[1] | masks[2] | masks[3]) != 0;
    auto usable = [&] (int bar) { return bar < barCount && masks[bar] != 0; };
    auto enabled = [&] (int index) { return stepword::enabled (pattern.block.steps[index]); };

    for (int s = 0; s < kStepCount; ++s)
    {
        // Without a candidate (no bar present, no enabled step) a step links to itself.
        next[s] = prev[s] = (uint8_t)s;
        if (!anyPresent || barCount == 0)
            continue;

        int bar = s / kStepsPerBar;
        int x = inverse[s % kStepsPerBar];
        for (int attempt = 0; attempt < kChainTries; ++attempt)
        {
            x = usable (bar) ? x + 1 : kStepsPerBar;
            if (x >= kStepsPerBar)
            {
                bar = bar + 1 < barCount ? bar + 1 : 0;
                x = 0;
            }
            const int candidate = bar * kStepsPerBar + order[x];
            if (enabled (candidate) && bar < barCount)
            {
                next[s] = (uint8_t)candidate;
                break;
            }
        }

        bar = s / kStepsPerBar;
        x = inverse[s % kStepsPerBar];
        for (int attempt = 0; attempt < kChainTries; ++attempt)
        {
            x = usable (bar) ? x - 1 : -1;
            if (x < 0)
            {
                bar = (bar == 0 || bar - 1 >= barCount) ? barCount - 1 : bar - 1;
                x = kStepsPerBar - 1;
            }
            const int candidate = bar * kStepsPerBar + order[x];
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
    std::memcpy (t.order, stepOrderRow (pattern.settings.stepOrder), kStepsPerBar);
    for (int x = 0; x < kStepsPerBar; ++x)
        t.inverseOrder[t.order[x]] = (uint8_t)x;
    for (int i = 0; i < kStepCount; ++i)
    {
        t.forwardLinks[i] = pattern.settings.nextLinks[i] % kStepCount;
        t.backwardLinks[i] = pattern.settings.prevLinks[i] % kStepCount;
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
    t.swung = {};
    t.grooved = {};
    t.nudged = {};
    t.effected = {};
    t.motion = {};
    t.play = {};
    t.restartPlay = false;
    t.restartMotion = false;
    t.recordedEffect = kNoEffect;
    t.effectStep = 0;
    t.resyncCount = 0;
    const uint8_t previousBits = t.loop.previousBits;
    t.loop = {};
    resetLoop (t.loop);
    t.loop.previousBits = previousBits;
}

void runTrackTiming (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const PatternRecord& pattern = *e.trackPatterns[track];
    const PatternSettings& settings = pattern.settings;
    const MasterClock& c = e.clock;
    const bool playing = e.transportState == kPlaying;

    // P0: the master position and its advance since the track's last service.
    const int previousMasterStep = t.masterCopy.step;
    storePosition (t.masterCopy, c.step, c.phase, c.bar);
    if (t.masterCopy.step != previousMasterStep)
        countResync (t, settings, t.masterCopy.step, playing);

    const bool restartPlay = t.restartPlay;
    const bool restartMotion = t.restartMotion;
    const bool restarting = restartPlay || restartMotion;
    t.restartPlay = t.restartMotion = false;

    // P1: the track's own time; a restart takes it back to bar 0, step 0.
    {
        const Position& p = t.trackTime;
        float f = p.fraction + t.masterCopy.delta;
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
        if (restarting)
            step = bar = 0;
        storePosition (t.trackTime, step, f, bar);
    }

    // P2: swing delays the odd step of every pair.
    {
        const Position& p1 = t.trackTime;
        const float x = (float)(p1.step % 2) + p1.fraction;
        const float swung = (1.0f - (1.0f - x / 2.0f) * t.swingFactor) * x;
        const int whole = (int)swung;
        storePosition (t.swung, (p1.step & ~1) + whole, swung - (float)whole, p1.bar);
    }

    // P3: groove warps the time within each cycle of grooveCycle steps.
    {
        const Position& p2 = t.swung;
        const int cycle = settings.grooveCycle;
        if (cycle == 0)
        {
            // A cycle of 0 would divide by zero: no groove.
            storePosition (t.grooved, p2.step, p2.fraction, p2.bar & kGrooveBarMask);
        }
        else
        {
            const int absolute = p2.bar * kStepsPerBar + p2.step;
            const int b = absolute % cycle;
            float u = (float)b + p2.fraction;
            if (u < 0.0f)
                u += (float)cycle;
            const float warped =
                std::max (0.0f, warp (settings.grooveCurve, u, (float)cycle, grooveAmountOf (settings)));
            const int whole = (int)warped;
            const uint32_t grooved = (uint32_t)(absolute - b + whole) & 0xFFFFu;
            storePosition (t.grooved, (int)(grooved & 15u), warped - (float)whole, (uint16_t)(grooved >> 4));
        }
    }

    // P4: the nudge moves the track by up to a step either way, but never backwards.
    {
        const uint8_t v = t.liveNudge != kNeutralNudge ? t.liveNudge : playing ? t.recordedNudge : kNeutralNudge;
        const Position& p3 = t.grooved;
        float f = p3.fraction + kAmountTable[v & 127u];
        int step = p3.step;
        int bar = p3.bar;
        if (f < 0.0f)
        {
            f += 1.0f;
            if (--step < 0)
            {
                step = kStepsPerBar - 1;
                bar = (bar - 1) & kGrooveBarMask;
            }
        }
        else if (f >= 1.0f)
        {
            f -= 1.0f;
            if (++step > kStepsPerBar - 1)
            {
                step = 0;
                bar = (bar + 1) & kGrooveBarMask;
            }
        }
        if (restarting)
        {
            // A restarted track goes back with its other positions instead of waiting for them.
            storePosition (t.nudged, step, f, (uint16_t)bar);
            t.nudged.delta = 0.0f;
        }
        else if (isBefore (bar, step, f, t.nudged))
        {
            t.nudged.delta = 0.0f;
        }
        else
        {
            storePosition (t.nudged, step, f, (uint16_t)bar);
        }
    }

    // P5: the time effect.
    switch (currentEffect (t, playing))
    {
        case kHalfSpeed:
            advancePosition (t.effected, t.nudged.delta * 0.5f);
            break;
        case kFreeze:
            t.effected.delta = 0.0f;
            break;
        case kDoubleSpeed:
            advancePosition (t.effected, t.nudged.delta * 2.0f);
            break;
        default:
            t.effected = t.nudged;
            break;
    }

    // M and Q.
    if (restartPlay)
        resetLoop (t.loop);
    const float speed = speedFactor (pattern.block.speed);
    integrate (e, track, t.motion, speed, t.nudged.delta, restartMotion, true);
    integrate (e, track, t.play, speed, t.effected.delta, restartPlay, false);

    // What M's entering a new sub-position or step reads, then the loop acts on Q.
    bool effectChanged = false;
    if (playing && (t.motion.flags & kNewSubPosition) != 0)
        effectChanged = readTimeEffect (e, track);
    if (playing && (t.motion.flags & kNewStep) != 0)
        readLoopCode (e, track);
    runLoop (e, track, restartPlay, effectChanged);

    // What Q's entering a new sub-position or step reads, at M's grid slot.
    const StepMotion& motion = pattern.block.stepMotion[t.motion.gridSlot() % kStepCount];
    if ((t.play.flags & kNewSubPosition) != 0 && motion.nudge[t.motion.subPosition] < 128)
        t.recordedNudge = motion.nudge[t.motion.subPosition];
    if ((t.play.flags & kNewStep) != 0 && motion.transposeCode < kTransposeCodeCount)
        t.recordedTranspose = kTransposeSemitones[motion.transposeCode];

    finishLoopService (e, track);
}

} // namespace korva::engine
