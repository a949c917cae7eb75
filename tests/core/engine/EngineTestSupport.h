#pragma once

// Helpers for the engine tests: building patterns and reading rendered steps.

#include "core/engine/EngineState.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <thread>
#include <tuple>
#include <vector>

namespace korva
{

namespace test
{

using korva::PatternRecord;
using korva::engine::RenderedSteps;

inline PatternRecord emptyPattern()
{
    PatternRecord record;
    korva::makeEmptyPattern (record);
    return record;
}

// Adds a note to pattern step `step` (0 to 63) at a sub-position and sets its length.
inline void addNote (PatternRecord& record, int step, int subPosition, int note, int length, int velocity = 100)
{
    const int slot = korva::addNoteToStep (record.block, step, subPosition, (uint8_t)note, (uint8_t)velocity);
    ASSERT_GE (slot, 0);
    record.block.notes[step][slot].length = (uint16_t)length;
}

// One note of a rendered result, at rendered step `step` (0 to 511).
struct RenderedNote
{
    int step;
    int subPosition;
    int note;
    int velocity;
    int length;

    bool operator== (const RenderedNote& o) const
    {
        return std::tie (step, subPosition, note, velocity, length) ==
               std::tie (o.step, o.subPosition, o.note, o.velocity, o.length);
    }
};

inline std::ostream& operator<< (std::ostream& out, const RenderedNote& n)
{
    return out << "{step " << n.step << ", sub " << n.subPosition << ", note " << n.note << ", vel " << n.velocity
               << ", len " << n.length << "}";
}

// Appends the notes starting in step `s` of a block, in sub-position and slot
// order, as notes of step `reportedStep`.
inline void appendNotesOfStep (const korva::StepBlock& block, int s, int reportedStep, std::vector<RenderedNote>& notes)
{
    for (int k = 0; k < korva::kSubPositionCount; ++k)
    {
        for (int slot = 0; slot < korva::kSlotCount; ++slot)
        {
            if (!korva::slotStartsAt (block, s, slot, k))
                continue;
            const korva::NoteSlot n = korva::stepNote (block, s, slot);
            notes.push_back ({reportedStep, k, n.note, n.velocity, n.length});
        }
    }
}

// The notes of the first `steps` rendered steps, in step, sub-position and slot order.
inline std::vector<RenderedNote> renderedNotes (const RenderedSteps& rendered, int steps = 512)
{
    std::vector<RenderedNote> notes;
    for (int i = 0; i < steps; ++i)
        appendNotesOfStep (rendered.blockOf (i), RenderedSteps::stepInBlock (i), i, notes);
    return notes;
}

// The notes the recorder holds in one of its blocks, at the block's steps (0 to 63).
inline std::vector<RenderedNote> recordedNotes (const korva::StepBlock& block)
{
    std::vector<RenderedNote> notes;
    for (int s = 0; s < korva::kStepCount; ++s)
        appendNotesOfStep (block, s, s, notes);
    return notes;
}

// The controller values of a rendered result as (rendered step, lane, value), in step and lane order.
inline std::vector<std::tuple<int, int, int>> renderedCcs (const RenderedSteps& rendered)
{
    std::vector<std::tuple<int, int, int>> values;
    for (int i = 0; i < korva::engine::kRenderedBlockCount * korva::kStepCount; ++i)
    {
        const korva::StepBlock& block = rendered.blockOf (i);
        const int s = RenderedSteps::stepInBlock (i);
        for (int lane = 0; lane < korva::kLaneCount; ++lane)
        {
            if ((korva::stepCcMask (block, s) & (1u << lane)) != 0)
                values.emplace_back (i, lane, korva::stepCcValue (block, s, lane));
        }
    }
    return values;
}

// Where a rendered note starts: rendered step, sub-position, note number.
struct NoteStart
{
    int step;
    int subPosition;
    int note;

    bool operator== (const NoteStart& o) const
    {
        return step == o.step && subPosition == o.subPosition && note == o.note;
    }
};

inline std::ostream& operator<< (std::ostream& out, const NoteStart& n)
{
    return out << "{" << n.step << ", " << n.subPosition << ", " << n.note << "}";
}

// The starts of the notes of the first `steps` rendered steps, in order.
inline std::vector<NoteStart> noteStarts (const RenderedSteps& rendered, int steps = 512)
{
    std::vector<NoteStart> starts;
    for (const RenderedNote& n : renderedNotes (rendered, steps))
        starts.push_back ({n.step, n.subPosition, n.note});
    return starts;
}

// A pattern of `bars` bars whose step s holds note 40 + s at sub-position 0,
// lasting half a step, so the notes show which step played when.
inline PatternRecord numberedPattern (int bars = 1)
{
    PatternRecord record = emptyPattern();
    record.block.barCount = (uint8_t)bars;
    for (int step = 0; step < bars * korva::kStepsPerBar; ++step)
    {
        const int slot = korva::addNoteToStep (record.block, step, 0, (uint8_t)(40 + step), 100);
        record.block.notes[step][slot].length = 3;
    }
    return record;
}

// The rendered steps at which `note` starts.
inline std::vector<int> stepsOfNote (const RenderedSteps& rendered, int note)
{
    std::vector<int> steps;
    for (const RenderedNote& n : renderedNotes (rendered))
    {
        if (n.note == note)
            steps.push_back (n.step);
    }
    return steps;
}

// The note numbers in rendered order (steps, then sub-positions, then slots).
inline std::vector<int> noteSequence (const RenderedSteps& rendered, int steps = 512)
{
    std::vector<int> sequence;
    for (const RenderedNote& n : renderedNotes (rendered, steps))
        sequence.push_back (n.note);
    return sequence;
}

// Renders on a fresh engine. The output stage's rotating start track carries
// over from one render to the next (as on the device), which can move an event
// by one tick; tests set it back to 0 so they do not depend on their order.
inline std::unique_ptr<RenderedSteps> render (const PatternRecord& record, int bars,
                                              const korva::engine::ChordSlots& chords = {})
{
    auto rendered = std::make_unique<RenderedSteps>();
    korva::engine::engineInit();
    korva::engine::engineState().outputStartTrack = 0;
    const bool finished = korva::engine::renderPattern (record, chords, bars, *rendered);
    korva::engine::engineRelease();
    EXPECT_TRUE (finished);
    return rendered;
}

// Runs `f` on a thread of its own, whose random generator starts at 1 whatever
// ran before on the test's thread.
template <typename F>
void onFreshThread (F&& f)
{
    std::thread thread (std::forward<F> (f));
    thread.join();
}

} // namespace test

} // namespace korva
