// Renders through the sequencer engine, timed as a conversion does them:
// initialise, render, release.

#include "core/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace korva
{

using namespace korva;

namespace
{

void addNote (PatternRecord& record, int step, int subPosition, int note, int length)
{
    const int slot = addNoteToStep (record.block, step, subPosition, (uint8_t)note, 100);
    if (slot >= 0)
        record.block.notes[step][slot].length = (uint16_t)length;
}

// 8 notes and 5 controller values on every step of 4 bars.
PatternRecord densePattern()
{
    PatternRecord record;
    makeEmptyPattern (record);
    record.block.barCount = 4;
    for (int step = 0; step < kStepCount; ++step)
    {
        for (int slot = 0; slot < kSlotCount; ++slot)
            addNote (record, step, slot % kSubPositionCount, 48 + slot * 3 + step % 5, 7);
        for (int lane = 0; lane < kLaneCount; ++lane)
            setStepCcValue (record.block, step, lane, (uint8_t)((step * 7 + lane) % 128));
    }
    return record;
}

// One note at the start of every bar.
PatternRecord sparsePattern()
{
    PatternRecord record;
    makeEmptyPattern (record);
    record.block.barCount = 4;
    for (int bar = 0; bar < 4; ++bar)
        addNote (record, bar * kStepsPerBar, 0, 60 + bar, 3);
    return record;
}

// The dense pattern with swing, groove, the arpeggiator and recorded loops on.
PatternRecord effectsPattern()
{
    PatternRecord record = densePattern();
    record.settings.swing = 50;
    record.settings.grooveCurve = 2;
    record.settings.grooveAmount = 100;
    record.settings.arpEnabled = 1;
    record.settings.arpMode = 2;
    record.settings.arpOctaves = 2;
    record.settings.arpRate = 7;
    record.settings.arpGate = 80;
    for (int bar = 0; bar < 4; ++bar)
    {
        for (int step = 4; step < 8; ++step)
            record.block.stepMotion[bar * kStepsPerBar + step].loopCode = 3; // a one-step loop
        record.block.stepMotion[bar * kStepsPerBar + 12].loopCode = 0x0C;    // a triplet half step
    }
    return record;
}

void renderThirtyTwoBars (benchmark::State& state, const PatternRecord& record)
{
    auto rendered = std::make_unique<engine::RenderedSteps>();
    for (auto _ : state)
    {
        engine::engineInit();
        const bool finished = engine::renderPattern (record, {}, 32, *rendered);
        engine::engineRelease();
        if (!finished)
            state.SkipWithError ("render did not finish");
        benchmark::DoNotOptimize (rendered->blocks[0].steps[0]);
    }
}

void BM_RenderDense32Bars (benchmark::State& state)
{
    renderThirtyTwoBars (state, densePattern());
}

void BM_RenderSparse32Bars (benchmark::State& state)
{
    renderThirtyTwoBars (state, sparsePattern());
}

void BM_RenderEffects32Bars (benchmark::State& state)
{
    renderThirtyTwoBars (state, effectsPattern());
}

} // namespace

BENCHMARK (BM_RenderDense32Bars)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_RenderSparse32Bars)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_RenderEffects32Bars)->Unit (benchmark::kMillisecond);

} // namespace korva
