#pragma once

// The sequencer engine: a port of the KORVA's own sequencer that plays a pattern
// in simulated time and records what it plays, so that a rendered pattern is what
// the device plays, note for note and tick for tick.
//
// Use from one thread at a time (the engine is process-wide state):
//
//     engine::engineInit();
//     engine::RenderedSteps steps;
//     const bool finished = engine::renderPattern (record, chordSlots, barCount, steps);
//     engine::engineRelease();
//
// Two things deliberately carry over from one render to the next, as on the
// device: the random generator of note probability and the arpeggiator's random
// mode (per thread: it starts at 1 when the thread starts and is never seeded)
// and the output stage's rotating start track (per process). So the same pattern
// may render differently after another render.
//
// Read rendered steps with the accessors of StepBlock.h (stepNoteMask,
// slotStartsAt, stepNote, stepCcMask, stepCcValue).

#include "core/patterns/PatternInfo.h"
#include "core/patterns/PatternRecord.h"

#include <array>
#include <cstdint>

namespace korva::engine
{

using korva::ChordSlots;
using korva::kChordSlotCount;

constexpr int kRenderedBlockCount = 8;
constexpr int kMaxRenderBars = 32;

// The result of a render: 8 consecutive step blocks (28768 bytes). Block k holds
// master bars 4k to 4k + 3; bar b, step s (0 to 15) is step (b mod 4) * 16 + s
// of block b div 4. A rendered step uses noteMask, ccMask, subPositionMasks,
// notes and ccValues as a pattern does; a note's length is its played length.
struct RenderedSteps
{
    StepBlock blocks[kRenderedBlockCount];

    const StepBlock& blockOf (int renderedStep) const
    {
        return blocks[(renderedStep / kStepCount) % kRenderedBlockCount];
    }
    static int stepInBlock (int renderedStep) { return renderedStep % kStepCount; }
};
static_assert (sizeof (RenderedSteps) == kRenderedBlockCount * kStepBlockSize);

// (Re)initialises all engine state and allocates its work memory; must precede
// every render and every use of defaultPattern(). Keeps the tempo if it is valid.
void engineInit();

// Frees the work memory; safe to call at any time.
void engineRelease();

// Plays `record` on track 0 for `barCount` bars (1 to 32) with `chordSlots` in
// chord slots 0 to 5 and copies the recorded result into `out`. False when the
// engine is not initialised, `barCount` is out of range, or the engine did not
// reach the end within its tick budget.
bool renderPattern (const PatternRecord& record, const ChordSlots& chordSlots, int barCount, RenderedSteps& out);

// One engine tick: 2 ms of the device's time.
void engineTick();

// The empty pattern built by engineInit (the MIDI reader starts from a copy of it).
const PatternRecord& defaultPattern();

// Transport: starting from stopped restarts the clock at bar 0, step 0 on the
// next tick; stopping resets the clock, the track positions and their flags.
void startTransport();
void stopTransport();

// Tempo in tenths of a beat per minute, limited to 300 to 3000 (renders run at 1200).
void setTempo (int tenths);

} // namespace korva::engine
