#include "tools/korva-sim/DemoContent.h"

#include "core/patterns/PatternRecord.h"

#include <algorithm>
#include <cstring>

namespace korva
{

namespace sim
{

namespace
{
using korva::PatternRecord;
namespace stepword = korva::stepword;

// Chord slots as intervals above the root, four bits each, applied from bit 0
// up: major, minor, dominant seventh, sus4, major seventh, minor seventh.
constexpr std::array<std::uint16_t, 6> kChordSlots = {0x4700, 0x3700, 0x47A0, 0x5700, 0x47B0, 0x37A0};
// Controller numbers of the five lanes: cutoff, resonance, modulation, pan, reverb.
constexpr std::array<std::uint8_t, 5> kControllers = {74, 71, 1, 10, 91};

// Loop codes: the low three bits pick 4, 2, 1 or 0.5 steps; 0x08 makes it a triplet.
constexpr std::uint8_t kLoopTwoSteps = 2;
constexpr std::uint8_t kLoopOneStepTriplet = 3 | 0x08;

void note (PatternRecord& record, int step, int subPosition, int pitch, int length, int velocity)
{
    const int slot = korva::addNoteToStep (record.block, step, subPosition, static_cast<std::uint8_t> (pitch),
                                           static_cast<std::uint8_t> (std::clamp (velocity, 1, 127)));
    if (slot >= 0)
        record.block.notes[step][slot].length = static_cast<std::uint16_t> (std::clamp (length, 0, 511));
}

void setFlag (PatternRecord& record, int step, std::uint32_t flag)
{
    record.block.steps[step] |= flag;
}

// Four on the floor, a backbeat and off-beat hats; a little swing on every
// other variant, a filter sweep in lane 0.
void drums (PatternRecord& record, int variant)
{
    record.block.barCount = 1;
    for (int step = 0; step < 16; ++step)
    {
        if (step % 4 == 0)
            note (record, step, 0, 36, 3, 120);
        if (step == 4 || step == 12)
            note (record, step, 0, 38 + (variant % 2), 3, 110);
        if (step % 2 == 1)
            note (record, step, 0, 42, 1, 70 + 4 * (step % 5));
        korva::setStepCcValue (record.block, step, 0, static_cast<std::uint8_t> (40 + step * 5));
    }
    // A ratchet: the last hat of the bar played three times.
    record.block.steps[15] = stepword::withRatio (record.block.steps[15], 2, 0);
    record.settings.swing = variant % 2 == 0 ? 0 : 30;
}

// A two-bar bassline with ties and a glide, the resonance in lane 1.
void bass (PatternRecord& record, int variant)
{
    static const int kLine[16] = {0, 0, 12, 0, 3, 0, 7, 5, 0, 0, 12, 10, 7, 5, 3, 2};
    record.block.barCount = 2;
    const int root = 36 + variant % 5;
    for (int step = 0; step < 32; ++step)
    {
        if (step % 16 == 9)
            continue; // a rest
        note (record, step, 0, root + kLine[step % 16], step % 4 == 2 ? 7 : 5, 100 + (step % 3) * 8);
        korva::setStepCcValue (record.block, step, 1, static_cast<std::uint8_t> (20 + (step * 3) % 90));
    }
    setFlag (record, 7, stepword::kTie);
    setFlag (record, 23, stepword::kGlide);
}

// Chords on every beat through the chord slots (the step's tag picks one),
// with the modulation wheel in lane 2 and a recorded loop at the end.
void chords (PatternRecord& record, int variant)
{
    record.block.barCount = 4;
    static const int kRoots[4] = {48, 53, 55, 50}; // C, F, G, D
    static const int kTags[4] = {1, 4, 3, 2};      // major, sus4, seventh, minor
    for (int bar = 0; bar < 4; ++bar)
    {
        for (int beat = 0; beat < 4; ++beat)
        {
            const int step = bar * 16 + beat * 4;
            note (record, step, 0, kRoots[(bar + variant) % 4], 15, 90 + beat * 6);
            record.block.steps[step] = stepword::withTag (record.block.steps[step], kTags[(bar + variant) % 4]);
            korva::setStepCcValue (record.block, step, 2, static_cast<std::uint8_t> (bar * 30 + beat * 5));
        }
    }
    record.block.stepMotion[60].loopCode = kLoopTwoSteps;
    record.settings.scaleType = 0;
}

// A melody on off-beat sub-positions with velocity accents, a triplet loop,
// and the arpeggiator over a held chord.
void lead (PatternRecord& record, int variant)
{
    static const int kMelody[8] = {72, 74, 76, 79, 81, 79, 76, 74};
    record.block.barCount = 1;
    for (int step = 0; step < 16; step += 2)
    {
        note (record, step, (step / 2) % 3 == 2 ? 3 : 0, kMelody[(step / 2 + variant) % 8] - 12 * (variant % 2), 6,
              step % 8 == 0 ? 124 : 88);
        korva::setStepCcValue (record.block, step, 3, static_cast<std::uint8_t> (64 + (step % 4 == 0 ? 20 : -20)));
    }
    note (record, 8, 0, 60, 7, 100);
    note (record, 8, 0, 64, 7, 100);
    record.block.stepMotion[12].loopCode = kLoopOneStepTriplet;
    record.block.stepMotion[4].nudge[0] = 70;
    record.settings.arpEnabled = variant % 3 == 0 ? 1 : 0;
    record.settings.arpRate = 3;
    record.settings.swing = 15;
}

Bytes header (const std::string& name)
{
    Bytes bytes (kBlockSize, 0);
    bytes[0] = 0x83;
    bytes[1] = 0x49;
    block::setName (bytes.data(), name);
    return bytes;
}

void append (Bytes& image, const Bytes& more)
{
    image.insert (image.end(), more.begin(), more.end());
}

// A project with the given patterns, in the order of the presence maps.
Bytes project (const std::string& name, const std::vector<std::pair<int, int>>& trackAndPattern,
               const std::vector<int>& styles)
{
    auto image = header (name);
    for (const auto& [track, pattern] : trackAndPattern)
        block::setPresent (image.data(), track, pattern);
    for (std::size_t i = 0; i < trackAndPattern.size(); ++i)
        append (image, makeDemoPattern (styles[i % styles.size()], static_cast<int> (i)));
    return image;
}
} // namespace

Bytes makeDemoPattern (int style, int variant)
{
    PatternRecord record;
    korva::makeEmptyPattern (record);
    switch (((style % 4) + 4) % 4)
    {
        case 0: drums (record, variant); break;
        case 1: bass (record, variant); break;
        case 2: chords (record, variant); break;
        default: lead (record, variant); break;
    }

    korva::PatternPayload payload;
    korva::encodePattern (record, payload);
    return Bytes (payload.begin(), payload.end());
}

Bytes makeDemoProject (const std::string& name, int patternCount)
{
    patternCount = std::clamp (patternCount, 0, kMaxPatternsPerProject);
    std::vector<std::pair<int, int>> places;
    for (int i = 0; i < patternCount; ++i)
        places.emplace_back (i / kPatternsPerTrack, i % kPatternsPerTrack);
    return project (name, places, {0, 1, 2, 3});
}

DemoContent makeDemoContent()
{
    DemoContent content;
    // Tracks: 0 drums, 1 bass, 2 chords, 3 lead.
    content.projects[0] = project ("Demo Song", {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {3, 0}},
                                   {0, 0, 1, 1, 2, 3});
    content.projects[1] = project ("Chord Study", {{2, 0}, {2, 1}, {2, 2}}, {2});
    content.projects[2] = project ("Night Drive", {{0, 0}, {1, 0}, {1, 4}, {3, 0}, {3, 1}}, {0, 1, 1, 3, 3});
    content.projects[3] = project ("Empty Sketch", {}, {0});
    content.currentProject = 0;

    // The current pattern: track 3 (counted from 1 on the device), pattern 1, playing chords.
    content.patternInfo[0] = 3;
    content.patternInfo[1] = 1;
    std::copy (kControllers.begin(), kControllers.end(), content.patternInfo.begin() + 2);
    content.patternInfo[7] = 0;
    for (std::size_t i = 0; i < kChordSlots.size(); ++i)
    {
        content.patternInfo[8 + 2 * i] = static_cast<std::uint8_t> (kChordSlots[i] >> 8);
        content.patternInfo[9 + 2 * i] = static_cast<std::uint8_t> (kChordSlots[i] & 0xFF);
    }
    content.currentPattern = makeDemoPattern (2, 0);
    return content;
}

} // namespace sim

} // namespace korva
