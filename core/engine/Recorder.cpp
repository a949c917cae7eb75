// The performance recorder: turns played notes, controller values and glides
// back into step blocks, one bar of a 32-bar ring at a time, until a capture
// freezes it.

#include "core/engine/EngineState.h"

namespace korva::engine
{

namespace
{

constexpr int kRecordedBars = 32;
constexpr int kBarsPerBlock = 4;
constexpr float kLengthWrapped = 2000000.0f;
constexpr float kLongestNote = 64.0f;

StepBlock* blockFor (EngineState& e, int track, int recordBar)
{
    const int index = recordBar / kBarsPerBlock + kBarsPerBlock * track;
    return index < kRecordBlockCount ? &e.recorder.blocks[index] : nullptr;
}

int stepInBlock (int recordBar, int step)
{
    return (recordBar % kBarsPerBlock) * kStepsPerBar + step;
}

void recordNoteOn (EngineState& e, const NoteEvent& event)
{
    Recorder& r = e.recorder;
    StepBlock* block = blockFor (e, event.track, event.recordBar);
    if (block == nullptr)
        return;

    uint16_t& inUse = r.pendingInUse[event.track];
    int free = -1;
    for (int i = 0; i < kPendingNotesPerTrack && free < 0; ++i)
    {
        if ((inUse & (1u << i)) == 0)
            free = i;
    }
    if (free < 0)
        return;

    const int step = stepInBlock (event.recordBar, event.step);
    const int slot = addNoteToStep (*block, step, event.subPosition, event.note, event.velocity);
    if (slot < 0)
        return;

    inUse |= (uint16_t)(1u << free);
    r.pending[event.track][free] = {(uint8_t)(event.recordBar / kBarsPerBlock + kBarsPerBlock * event.track),
                                    event.note,
                                    (uint8_t)step,
                                    (uint8_t)slot,
                                    event.bar,
                                    event.eighth};
}

// The played length in steps, from the start's master bar, step and eighth to the event's.
float playedLength (const PendingNote& start, const NoteEvent& end)
{
    const float e = (float)end.eighth / 8.0f;
    const float e0 = (float)start.eighth / 8.0f;
    const int s0 = start.step % kStepsPerBar;
    if (end.bar == start.bar && end.step == s0)
        return e - e0;
    if (end.bar == 0 && start.bar == 0xFFFF)
        return e + (1.0f - e0);
    // Unsigned, as on the device: a clock that went backwards gives a huge length, stored as none.
    const uint32_t steps = (uint32_t)((end.bar - start.bar) * kStepsPerBar) - (uint32_t)s0 + end.step;
    return (e - e0) + (float)steps;
}

void recordNoteOff (EngineState& e, const NoteEvent& event)
{
    Recorder& r = e.recorder;
    uint16_t& inUse = r.pendingInUse[event.track];
    for (int i = 0; i < kPendingNotesPerTrack; ++i)
    {
        const PendingNote& start = r.pending[event.track][i];
        if ((inUse & (1u << i)) == 0 || start.note != event.note)
            continue;

        NoteSlot& slot = r.blocks[start.blockIndex].notes[start.step][start.slot];
        if (slot.length == 0)
        {
            float length = playedLength (start, event);
            if (length > kLengthWrapped)
                length = 0.0f;
            else if (length >= kLongestNote)
                length = kLongestNote;
            // A zero length gives -1, which as u16 is not below 512, so the slot keeps 0.
            const uint16_t stored = (uint16_t)(int)(8.0f * length - 1.0f);
            if (stored <= kMaxNoteLength)
                slot.length = stored;
        }
        inUse &= (uint16_t) ~(1u << i);
        return;
    }
}

void recordCc (EngineState& e, const CcEvent& event)
{
    StepBlock* block = blockFor (e, event.track, event.recordBar);
    if (block != nullptr && event.lane < kLaneCount && event.value < 128)
        setStepCcValue (*block, stepInBlock (event.recordBar, event.step), event.lane, event.value);
}

void recordGlide (EngineState& e, const GlideEvent& event)
{
    StepBlock* block = blockFor (e, event.track, event.recordBar);
    if (block == nullptr)
        return;
    uint32_t& word = block->steps[stepInBlock (event.recordBar, event.step)];
    if (stepword::enabled (word))
        word |= stepword::kGlide;
}

void silenceAllTracks (EngineState& e)
{
    for (auto& t : e.tracks)
    {
        t.sounding.clear();
        t.soundingCount = 0;
        // An arpeggiator note lives on its gate, not on the sounding set: without this it would
        // sound past the end of the render and be recorded with no length.
        t.arpGateOpen = false;
        t.arpGateLeft = 0.0f;
    }
}

} // namespace

void resetRecorder (EngineState& e)
{
    Recorder& r = e.recorder;
    for (int i = 0; i < kRecordBlockCount; ++i)
        clearPattern (r.blocks[i]);
    r.recordBar = 0;
    r.recordedBarsMask = 0;
    r.noteQueue.readIndex = r.noteQueue.writeIndex = 0;
    r.ccQueue.readIndex = r.ccQueue.writeIndex = 0;
    r.glideQueue.readIndex = r.glideQueue.writeIndex = 0;
    for (auto& inUse : r.pendingInUse)
        inUse = 0;
    r.captureCommand = kCaptureNone;
    r.captured = false;
}

void recorderBarBoundary (EngineState& e)
{
    Recorder& r = e.recorder;
    if (!r.captured)
    {
        r.recordedBarsMask |= (uint16_t)(1u << (r.recordBar % 16));
        r.recordBar = (uint8_t)((r.recordBar + 1) % kRecordedBars);
    }

    if (r.captureCommand == kCaptureFreeze)
    {
        // Everything sounding ends here; the output stage turns that into note offs.
        silenceAllTracks (e);
        r.captured = true;
        r.captureCommand = kCaptureNone;
    }
    else if (r.captureCommand == kCaptureRelease)
    {
        r.captured = false;
        r.captureCommand = kCaptureNone;
    }
}

void runRecorder (EngineState& e)
{
    Recorder& r = e.recorder;
    if (e.transportState != kPlaying && r.captureCommand == kCaptureFreeze)
    {
        r.captured = true;
        r.captureCommand = kCaptureNone;
    }

    NoteEvent note;
    while (r.noteQueue.pop (note))
    {
        if (note.velocity == 0)
            recordNoteOff (e, note);
        else
            recordNoteOn (e, note);
    }
    CcEvent cc;
    while (r.ccQueue.pop (cc))
        recordCc (e, cc);
    GlideEvent glide;
    while (r.glideQueue.pop (glide))
        recordGlide (e, glide);
}

void queueNoteEvent (EngineState& e, int track, int note, int velocity)
{
    const MasterClock& c = e.clock;
    e.recorder.noteQueue.push ({c.bar, c.step, c.subPosition, c.eighth, (uint8_t)note, (uint8_t)velocity,
                                (uint8_t)track, e.recorder.recordBar});
}

void queueCcEvent (EngineState& e, int track, int lane, int value)
{
    const MasterClock& c = e.clock;
    e.recorder.ccQueue.push ({c.bar, c.step, (uint8_t)lane, (uint8_t)value, (uint8_t)track, e.recorder.recordBar});
}

void queueGlideEvent (EngineState& e, int track)
{
    const MasterClock& c = e.clock;
    e.recorder.glideQueue.push ({c.bar, c.step, (uint8_t)track, e.recorder.recordBar});
}

} // namespace korva::engine
