#pragma once

// Helpers for the MIDI tests: building Standard MIDI Files byte by byte, a small
// independent parser for the files the writer makes, and rendered steps built by
// hand so the writer can be tested without the engine.

#include "core/engine/Engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <tuple>
#include <vector>

namespace korva
{

namespace test
{

using Bytes = std::vector<uint8_t>;

inline void appendU16 (Bytes& out, uint32_t v)
{
    out.push_back ((uint8_t)(v >> 8));
    out.push_back ((uint8_t)v);
}

inline void appendU32 (Bytes& out, uint32_t v)
{
    appendU16 (out, v >> 16);
    appendU16 (out, v & 0xFFFF);
}

inline void appendVariableLength (Bytes& out, uint32_t v)
{
    uint8_t groups[5];
    int n = 0;
    do
    {
        groups[n++] = (uint8_t)(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    while (n > 1)
        out.push_back ((uint8_t)(groups[--n] | 0x80));
    out.push_back (groups[0]);
}

// One track's events, written with absolute ticks for readability.
class TrackBytes
{
public:
    // An event at absolute tick `tick` (not before the previous one).
    TrackBytes& at (uint32_t tick, std::initializer_list<int> bytes)
    {
        appendVariableLength (m_events, tick - m_lastTick);
        m_lastTick = tick;
        for (int b : bytes)
            m_events.push_back ((uint8_t)b);
        return *this;
    }
    TrackBytes& noteOn (uint32_t tick, int note, int velocity = 100) { return at (tick, {0x90, note, velocity}); }
    TrackBytes& noteOff (uint32_t tick, int note) { return at (tick, {0x80, note, 0}); }
    TrackBytes& controller (uint32_t tick, int number, int value) { return at (tick, {0xB0, number, value}); }
    TrackBytes& endOfTrack (uint32_t tick) { return at (tick, {0xFF, 0x2F, 0x00}); }
    TrackBytes& raw (std::initializer_list<int> bytes)
    {
        for (int b : bytes)
            m_events.push_back ((uint8_t)b);
        return *this;
    }

    const Bytes& events() const { return m_events; }

private:
    Bytes m_events;
    uint32_t m_lastTick = 0;
};

// A whole file: "MThd", length 6, format, track count, division, then one
// "MTrk" chunk per track.
inline Bytes midiFile (const std::vector<TrackBytes>& tracks, int division = 480, int format = -1, int trackCount = -1)
{
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    appendU16 (out, (uint32_t)(format >= 0 ? format : tracks.size() > 1 ? 1 : 0));
    appendU16 (out, (uint32_t)(trackCount >= 0 ? trackCount : (int)tracks.size()));
    appendU16 (out, (uint32_t)division);
    for (const TrackBytes& track : tracks)
    {
        out.insert (out.end(), {'M', 'T', 'r', 'k'});
        appendU32 (out, (uint32_t)track.events().size());
        out.insert (out.end(), track.events().begin(), track.events().end());
    }
    return out;
}

// An event of a written file, at its absolute tick.
struct MidiEvent
{
    uint32_t tick;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;

    bool operator== (const MidiEvent& o) const
    {
        return std::tie (tick, status, data1, data2) == std::tie (o.tick, o.status, o.data1, o.data2);
    }
};

inline std::ostream& operator<< (std::ostream& out, const MidiEvent& e)
{
    return out << "{" << e.tick << ", 0x" << std::hex << (int)e.status << std::dec << ", " << (int)e.data1 << ", "
               << (int)e.data2 << "}";
}

// The channel events of a format-0 file as the writer makes it (no running
// status, a final end-of-track), checking its framing on the way.
inline std::vector<MidiEvent> parseWrittenFile (const Bytes& file)
{
    std::vector<MidiEvent> events;
    EXPECT_GE (file.size(), 26u);
    if (file.size() < 26)
        return events;
    const Bytes header{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    EXPECT_TRUE (std::equal (header.begin(), header.end(), file.begin()));
    const uint32_t length =
        ((uint32_t)file[18] << 24) | ((uint32_t)file[19] << 16) | ((uint32_t)file[20] << 8) | file[21];
    EXPECT_EQ (length, file.size() - 22);

    std::size_t pos = 22;
    uint32_t tick = 0;
    while (pos < file.size())
    {
        uint32_t delta = 0;
        int bytes = 0;
        uint8_t b = 0;
        do
        {
            b = file.at (pos++);
            delta = (delta << 7) | (b & 0x7Fu);
            ++bytes;
        } while ((b & 0x80) != 0);
        EXPECT_LE (bytes, 3);
        tick += delta;
        const uint8_t status = file.at (pos++);
        if (status == 0xFF)
        {
            EXPECT_EQ (file.at (pos), 0x2F);
            EXPECT_EQ (file.at (pos + 1), 0x00);
            EXPECT_EQ (delta, 0u) << "the end of track follows the last event at once";
            EXPECT_EQ (pos + 2, file.size()) << "the end of track is the last event";
            break;
        }
        EXPECT_TRUE (status == 0x80 || status == 0x90 || status == 0xB0) << (int)status;
        events.push_back ({tick, status, file.at (pos), file.at (pos + 1)});
        pos += 2;
    }
    return events;
}

// The note-ons of a written file: tick, note, velocity.
using NoteOn = std::tuple<uint32_t, int, int>;
inline std::vector<NoteOn> noteOnsOf (const Bytes& file)
{
    std::vector<NoteOn> notes;
    for (const auto& e : parseWrittenFile (file))
        if (e.status == 0x90)
            notes.emplace_back (e.tick, e.data1, e.data2);
    return notes;
}

// Rendered steps built by hand: every step cleared of notes and controllers.
inline std::unique_ptr<korva::engine::RenderedSteps> blankRender()
{
    auto rendered = std::make_unique<korva::engine::RenderedSteps>();
    for (auto& block : rendered->blocks)
    {
        korva::clearPattern (block);
        for (uint32_t& word : block.steps)
            word = korva::stepword::withCcMask (korva::stepword::withNoteMask (word, 0), 0);
    }
    return rendered;
}

// Puts a note into rendered step `step` (0 to 511).
inline void putNote (korva::engine::RenderedSteps& rendered, int step, int subPosition, int note, int length,
                     int velocity = 100)
{
    korva::StepBlock& block = rendered.blocks[step / korva::kStepCount];
    const int slot =
        korva::addNoteToStep (block, step % korva::kStepCount, subPosition, (uint8_t)note, (uint8_t)velocity);
    ASSERT_GE (slot, 0);
    block.notes[step % korva::kStepCount][slot].length = (uint16_t)length;
}

inline void putController (korva::engine::RenderedSteps& rendered, int step, int lane, int value)
{
    korva::setStepCcValue (rendered.blocks[step / korva::kStepCount], step % korva::kStepCount, lane, (uint8_t)value);
}

} // namespace test

} // namespace korva
