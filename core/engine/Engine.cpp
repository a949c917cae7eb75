// The engine as a whole: its one state, initialisation and release, the tick,
// the transport and the render driver.

#include "core/engine/EngineState.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace korva::engine
{

namespace
{

EngineState g_engine{};

// The C runtime's generator state; every thread starts its own sequence at 1.
thread_local uint32_t t_randomState = 1;

void resetTrack (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    t = TrackState{};
    resetTrackTiming (t);
    t.liveNudge = t.recordedNudge = kNeutralNudge;
    t.chordRoot = -1;
    resetArpeggiator (t);
    t.outputEnabled = true; // in the default project no track is muted or soloed
    takePattern (e, track);
}

bool patternIsInert (const PatternRecord& pattern)
{
    uint32_t used = 0;
    for (uint32_t word : pattern.block.steps)
        used |= word & (stepword::kNoteMaskBits | stepword::kCcMaskBits | stepword::kGlide);
    return used == 0;
}

// A track that can never emit anything (every track but the rendered one) only has its
// positions to keep; skipping it leaves every event and the random sequence unchanged.
// Nothing but a new pattern can wake it: only its own service would start notes or open a gate.
bool trackIsIdle (TrackState& t)
{
    if (!t.idle && t.inert)
    {
        t.idle = !t.sounding.any() && !t.previousSounding.any() && !t.outputRequested.any() && !t.outputSent.any() &&
                 !t.arpGateOpen;
    }
    return t.idle;
}

void serviceTrack (EngineState& e, int track)
{
    TrackState& t = e.tracks[track];
    const PatternRecord& pattern = *e.trackPatterns[track];
    if (trackIsIdle (t))
        return;

    // A track with no bar present counts as empty: its notes are dropped once.
    bool empty = true;
    for (int bar = 0; bar < playedBarCount (pattern); ++bar)
        empty = empty && pattern.block.stepPresentMasks[bar] == 0;
    if (empty && !t.emptyMarked)
    {
        t.sounding.clear();
        t.startedThisTick.clear();
        t.soundingCount = 0;
    }
    t.emptyMarked = empty;

    runTrackTiming (e, track);
    runArpeggiatorClock (e, track);

    if (t.patternReplaced)
        loadStepChain (e, track);

    if (e.recorder.captured)
        return;
    runGateTimers (e, track);
    if (e.transportState == kPlaying)
    {
        if (!empty)
            runStepPlay (e, track);
    }
    else
    {
        t.noteOnsThisPlay = 0;
    }
}

} // namespace

EngineState& engineState()
{
    return g_engine;
}

int nextRandom()
{
    t_randomState = t_randomState * 214013u + 2531011u;
    return (int)((t_randomState >> 16) & 0x7FFFu);
}

int playedBarCount (const PatternRecord& pattern)
{
    // The device's payload is not range-checked; more than 4 bars would index past the 64 steps.
    return std::min<int> (pattern.block.barCount, kStepCount / kStepsPerBar);
}

void engineInit()
{
    EngineState& e = g_engine;
    WorkMemory* memory = e.memory;
    const uint8_t outputStartTrack = e.outputStartTrack;
    uint16_t tempo = e.tempoTenths;

    e = EngineState{};
    e.outputStartTrack = outputStartTrack;
    if (memory == nullptr)
        memory = new WorkMemory;
    e.memory = memory;

    // The default project: every track holds the empty pattern.
    makeEmptyPattern (e.defaultPattern);
    for (int track = 0; track < kTrackCount; ++track)
    {
        e.trackPatterns[track] = &memory->trackPatterns[track];
        *e.trackPatterns[track] = e.defaultPattern;
    }

    if (tempo < kMinTempo || tempo > kMaxTempo)
        tempo = kDefaultTempo;
    e.tempoTenths = tempo;
    e.transportState = kStopped;
    e.clock.syncPending = true; // the first tick advances by 0
    e.clock.trackGroupFirst = 0;
    e.clock.trackGroupLast = kTrackGroupSize - 1;

    for (int track = 0; track < kTrackCount; ++track)
        resetTrack (e, track);

    e.recorder.blocks = memory->recordBlocks;
    resetRecorder (e);
}

void engineRelease()
{
    delete g_engine.memory;
    g_engine.memory = nullptr;
    for (auto& pattern : g_engine.trackPatterns)
        pattern = nullptr;
    g_engine.recorder.blocks = nullptr;
}

const PatternRecord& defaultPattern()
{
    return g_engine.defaultPattern;
}

void engineTick()
{
    EngineState& e = g_engine;
    if (e.memory == nullptr)
        return;

    runMasterClock (e);

    const int first = e.clock.trackGroupFirst;
    for (int track = first; track < first + kTrackGroupSize; ++track)
        serviceTrack (e, track);

    runRecorder (e);

    for (int track = first; track < first + kTrackGroupSize; ++track)
    {
        // A scale changes only with the pattern; only tracks that compute their output need it.
        if (!trackIsIdle (e.tracks[track]))
        {
            refreshScaleTable (e, track);
            computeTrackOutput (e, track);
        }
    }
    runOutputStage (e);

    e.clock.trackGroupFirst = (uint8_t)((first + kTrackGroupSize) % kTrackCount);
    e.clock.trackGroupLast = (uint8_t)(e.clock.trackGroupFirst + kTrackGroupSize - 1);
}

void startTransport()
{
    EngineState& e = g_engine;
    if (e.transportState == kPlaying)
        return;
    e.transportState = kPlaying;
    e.clock.restartPending = true;
    e.clock.phase = 0.0f;
    e.clock.step = 0;
    e.clock.bar = 0;
}

void stopTransport()
{
    EngineState& e = g_engine;
    if (e.transportState == kStopped)
        return;
    e.transportState = kStopped;
    e.clock.restartPending = false;
    e.clock.phase = 0.0f;
    e.clock.step = 0;
    e.clock.bar = 0;
    e.clock.subPosition = 0;
    e.clock.eighth = 0;
    for (auto& t : e.tracks)
        resetTrackTiming (t);
}

void setTempo (int tenths)
{
    g_engine.tempoTenths = (uint16_t)std::clamp (tenths, (int)kMinTempo, (int)kMaxTempo);
}

bool renderPattern (const PatternRecord& record, const ChordSlots& chordSlots, int barCount, RenderedSteps& out)
{
    EngineState& e = g_engine;
    if (e.memory == nullptr || barCount < 1 || barCount > kMaxRenderBars)
        return false;

    PatternRecord& pattern = *e.trackPatterns[0];
    pattern = record;
    std::copy (chordSlots.begin(), chordSlots.end(), e.chordMemory[0]);

    // The track loads the pattern's chain during the warm-up ticks.
    takePattern (e, 0);
    resetArpeggiator (e.tracks[0]);

    for (int i = 0; i < kWarmUpTicks; ++i)
        engineTick();

    startTransport();

    bool captureRequested = false;
    for (int n = 1;; ++n)
    {
        if (n >= kTickBudget)
            return false;
        if (!captureRequested && e.clock.bar == barCount - 1 && e.clock.step == kStepsPerBar - 1)
        {
            e.recorder.captureCommand = kCaptureFreeze;
            captureRequested = true;
        }
        engineTick();
        if (captureRequested && e.recorder.captureCommand == kCaptureNone)
            break;
    }

    // Lets the note offs of the capture reach the recorder.
    for (int i = 0; i < kWarmUpTicks; ++i)
        engineTick();

    std::memcpy (out.blocks, e.recorder.blocks, sizeof (out.blocks));
    return true;
}

void takePattern (EngineState& e, int track)
{
    PatternRecord& pattern = *e.trackPatterns[track];
    TrackState& t = e.tracks[track];
    buildStepChain (pattern);
    applyTrackSettings (e, track);
    t.patternReplaced = true;
    t.inert = patternIsInert (pattern);
    t.idle = false;
}

int NoteSet::lowest() const
{
    for (int w = 0; w < 4; ++w)
    {
        if (words[w] != 0)
            return w * 32 + __builtin_ctz (words[w]);
    }
    return -1;
}

int NoteSet::highest() const
{
    for (int w = 3; w >= 0; --w)
    {
        if (words[w] != 0)
            return w * 32 + 31 - __builtin_clz (words[w]);
    }
    return -1;
}

int NoteSet::count() const
{
    return __builtin_popcount (words[0]) + __builtin_popcount (words[1]) + __builtin_popcount (words[2]) +
           __builtin_popcount (words[3]);
}

} // namespace korva::engine
