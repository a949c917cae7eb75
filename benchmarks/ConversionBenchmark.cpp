// The two conversions as the application runs them, files included:
// payload -> decode, render, MIDI file; MIDI file -> read, pattern payload.

#include "core/conversion/PatternConverter.h"
#include "core/midi/MidiFileReader.h"
#include "core/midi/MidiFileWriter.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace korva
{

using namespace korva;

namespace
{

// 8 notes and 5 controller values on every step of 4 bars, two of the notes a
// whole bar long, so a render keeps many notes sounding.
PatternPayload densePayload()
{
    PatternRecord record;
    makeEmptyPattern (record);
    record.block.barCount = 4;
    for (int step = 0; step < kStepCount; ++step)
    {
        for (int slot = 0; slot < kSlotCount; ++slot)
        {
            const int added = addNoteToStep (record.block, step, slot % kSubPositionCount,
                                             (uint8_t)(36 + slot * 7 + step % 5), (uint8_t)(40 + slot * 10));
            if (added >= 0)
                record.block.notes[step][added].length = (uint16_t)(slot < 6 ? 3 : 127);
        }
        for (int lane = 0; lane < kLaneCount; ++lane)
            setStepCcValue (record.block, step, lane, (uint8_t)((step * 7 + lane) % 128));
    }
    PatternPayload payload;
    encodePattern (record, payload);
    return payload;
}

const PatternInfo kInfo = []
{
    PatternInfo info;
    info.ccNumbers = {1, 7, 10, 11, 74};
    return info;
}();

void BM_PatternToMidiFile (benchmark::State& state)
{
    const int bars = (int)state.range (0);
    const PatternPayload payload = densePayload();
    const juce::TemporaryFile file (".mid");
    for (auto _ : state)
    {
        if (convertPatternToMidiFile (payload.data(), payload.size(), kInfo, bars, file.getFile()) != kMidiFileWritten)
            state.SkipWithError ("conversion failed");
    }
    state.counters["fileBytes"] = (double)file.getFile().getSize();
}

// The writer alone, on 8 notes and 5 controllers at every one of 512 steps.
void BM_WriteMidiFileFull32Bars (benchmark::State& state)
{
    auto rendered = std::make_unique<engine::RenderedSteps>();
    for (auto& block : rendered->blocks)
    {
        clearPattern (block);
        for (int step = 0; step < kStepCount; ++step)
        {
            block.steps[step] = stepword::withNoteMask (block.steps[step], 0);
            for (int slot = 0; slot < kSlotCount; ++slot)
            {
                const int added = addNoteToStep (block, step, slot % kSubPositionCount, (uint8_t)(40 + slot * 9), 100);
                block.notes[step][added].length = 2;
            }
            for (int lane = 0; lane < kLaneCount; ++lane)
                setStepCcValue (block, step, lane, (uint8_t)lane);
        }
    }
    std::size_t size = 0;
    for (auto _ : state)
    {
        const std::vector<uint8_t> bytes = buildMidiFile (*rendered, 32, kInfo.ccNumbers);
        size = bytes.size();
        benchmark::DoNotOptimize (bytes.data());
    }
    state.counters["fileBytes"] = (double)size;
}

// A large single-track file: chords of 8 notes on every sixteenth for about
// 2000 bars, every note switched off again; a little over 1 MB.
std::vector<uint8_t> largeMidiFile()
{
    std::vector<uint8_t> events;
    auto delta = [&] (uint32_t v)
    {
        if (v >= 128)
            events.push_back ((uint8_t)(0x80 | (v >> 7)));
        events.push_back ((uint8_t)(v & 0x7F));
    };
    for (int step = 0; events.size() < 1100000; ++step)
    {
        for (int n = 0; n < 8; ++n)
        {
            delta (n == 0 ? 60 : 0);
            events.insert (events.end(), {0x90, (uint8_t)(40 + n * 5 + step % 3), 100});
        }
        delta (0);
        events.insert (events.end(), {0xB0, 7, (uint8_t)(step % 128)});
        for (int n = 0; n < 8; ++n)
        {
            delta (n == 0 ? 60 : 0);
            events.insert (events.end(), {0x80, (uint8_t)(40 + n * 5 + step % 3), 0});
        }
    }
    events.insert (events.end(), {0x00, 0xFF, 0x2F, 0x00});

    std::vector<uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    const auto length = (uint32_t)events.size();
    file.insert (file.end(),
                 {(uint8_t)(length >> 24), (uint8_t)(length >> 16), (uint8_t)(length >> 8), (uint8_t)length});
    file.insert (file.end(), events.begin(), events.end());
    return file;
}

void BM_MidiFileToPatternLarge (benchmark::State& state)
{
    const std::vector<uint8_t> bytes = largeMidiFile();
    const juce::TemporaryFile file (".mid");
    file.getFile().replaceWithData (bytes.data(), bytes.size());
    auto payload = std::make_unique<PatternPayload>();
    for (auto _ : state)
    {
        if (!convertMidiFileToPattern (file.getFile(), 4, kInfo.ccNumbers, *payload))
            state.SkipWithError ("conversion failed");
        benchmark::DoNotOptimize (payload->data());
    }
    state.counters["fileBytes"] = (double)bytes.size();
}

// The reader alone, on the same bytes in memory, with or without a fit report
// (a drop in the window always asks for one).
void readMidiLarge (benchmark::State& state, MidiFitReport* report)
{
    const std::vector<uint8_t> bytes = largeMidiFile();
    auto record = std::make_unique<PatternRecord>();
    for (auto _ : state)
    {
        makeEmptyPattern (*record);
        if (!readMidiFile (bytes.data(), bytes.size(), 4, kInfo.ccNumbers, *record, report))
            state.SkipWithError ("read failed");
        benchmark::DoNotOptimize (record->block.steps[0]);
    }
    state.counters["fileBytes"] = (double)bytes.size();
}

void BM_ReadMidiLarge (benchmark::State& state)
{
    readMidiLarge (state, nullptr);
}

void BM_ReadMidiLargeWithReport (benchmark::State& state)
{
    MidiFitReport report;
    readMidiLarge (state, &report);
    state.counters["notesLost"] = (double)report.notesLost();
}

} // namespace

BENCHMARK (BM_PatternToMidiFile)->Arg (1)->Arg (4)->Arg (32)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_WriteMidiFileFull32Bars)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_MidiFileToPatternLarge)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_ReadMidiLarge)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_ReadMidiLargeWithReport)->Unit (benchmark::kMillisecond);

} // namespace korva
