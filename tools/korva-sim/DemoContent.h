#pragma once

// What a new virtual KORVA holds: a few demo projects whose pattern blocks are
// real "seq3" patterns (notes, chords, controller values, swing and recorded
// loops here and there), and a current pattern that plays chords, so that a
// drag-out gives a MIDI file worth listening to.

#include "tools/korva-sim/ProjectStore.h"

#include <array>
#include <map>
#include <string>

namespace korva
{

namespace sim
{

struct DemoContent
{
    std::map<int, Bytes> projects; // by device index
    int currentProject = 0;
    std::array<std::uint8_t, kPatternInfoSize> patternInfo{};
    Bytes currentPattern;
};

DemoContent makeDemoContent();

// One 4096-byte "seq3" pattern in one of a few styles (any int); `variant`
// shifts the notes so that the patterns of a project differ.
Bytes makeDemoPattern (int style, int variant);

// A project of `patternCount` demo patterns (0 .. 1024), filling tracks 0, 1, ...
// with 64 patterns each.
Bytes makeDemoProject (const std::string& name, int patternCount);

} // namespace sim

} // namespace korva
