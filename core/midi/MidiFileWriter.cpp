#include "core/midi/MidiFileWriter.h"

#include <algorithm>
#include <array>

namespace korva
{

namespace
{

constexpr int kSubTicksPerStep = 24;
constexpr int kTicksPerSubTick = 5;
constexpr int kSubTicksPerSubPosition = 4;
constexpr int kNoteCount = 128;
constexpr int kIdle = -1;

// A dense 32-bar render fits without growing (8 notes and 5 controllers on
// every step need somewhat more, and the buffer grows for them).
constexpr std::size_t kInitialTrackCapacity = 41360;

const uint8_t kHeader[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, kMidiDivision >> 8, kMidiDivision & 0xFF};
const uint8_t kEndOfTrack[] = {0x00, 0xFF, 0x2F, 0x00};

uint8_t dataByte (int value)
{
    return (uint8_t)std::clamp (value, 0, 127);
}

class TrackBuilder
{
public:
    TrackBuilder() { m_events.reserve (kInitialTrackCapacity); }

    void wait (int ticks) { m_delta += ticks; }

    // Every event carries the time gathered since the one before it.
    void event (uint8_t status, uint8_t data1, uint8_t data2)
    {
        writeDelta (m_delta);
        m_delta = 0;
        m_events.push_back (status);
        m_events.push_back (data1);
        m_events.push_back (data2);
    }

    const std::vector<uint8_t>& events() const { return m_events; }

private:
    void writeDelta (uint32_t value)
    {
        uint8_t groups[5];
        int count = 0;
        do
        {
            groups[count++] = (uint8_t)(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (count > 1)
            m_events.push_back ((uint8_t)(groups[--count] | 0x80));
        m_events.push_back (groups[0]);
    }

    std::vector<uint8_t> m_events;
    uint32_t m_delta = 0;
};

} // namespace

std::vector<uint8_t> buildMidiFile (const engine::RenderedSteps& rendered, int barCount, const CcNumbers& ccNumbers)
{
    const int stepCount = std::clamp (barCount, 0, engine::kMaxRenderBars) * kStepsPerBar;

    // Per note number, the ticks it still sounds, or kIdle.
    std::array<int, kNoteCount> sounding;
    sounding.fill (kIdle);
    uint64_t active[kNoteCount / 64] = {}; // bit n: note n is sounding
    TrackBuilder track;

    for (int i = 0; i < stepCount; ++i)
    {
        const StepBlock& block = rendered.blockOf (i);
        const int s = engine::RenderedSteps::stepInBlock (i);

        // A step's controller values come before its notes.
        const uint8_t ccMask = stepCcMask (block, s);
        for (int lane = 0; lane < kLaneCount; ++lane)
        {
            const int controller = ccNumbers[(std::size_t)lane];
            if ((ccMask & (1u << lane)) != 0 && controller >= 0 && controller < 128)
                track.event (0xB0, (uint8_t)controller, dataByte (stepCcValue (block, s, lane)));
        }

        const uint8_t noteMask = stepNoteMask (block, s);
        for (int subTick = 0; subTick < kSubTicksPerStep; ++subTick)
        {
            // Note-offs before note-ons, so a note ending where the next starts
            // is released before it is struck again; in ascending note order.
            for (uint64_t& word : active)
            {
                for (uint64_t bits = word; bits != 0; bits &= bits - 1)
                {
                    const int n = (int)(&word - active) * 64 + __builtin_ctzll (bits);
                    int& left = sounding[(std::size_t)n];
                    if (left <= kTicksPerSubTick)
                    {
                        track.event (0x80, (uint8_t)n, 0);
                        left = kIdle;
                        word &= ~(1ull << (n % 64));
                    }
                    else
                    {
                        left -= kTicksPerSubTick;
                    }
                }
            }

            if (noteMask != 0 && subTick % kSubTicksPerSubPosition == 0)
            {
                const int subPosition = subTick / kSubTicksPerSubPosition;
                const uint8_t starting = (uint8_t)(noteMask & stepSubPositionMask (block, s, subPosition));
                for (int slot = 0; slot < kSlotCount && starting != 0; ++slot)
                {
                    if ((starting & (1u << slot)) == 0)
                        continue;
                    const NoteSlot note = stepNote (block, s, slot);
                    if (note.note >= kNoteCount)
                        continue;
                    int& left = sounding[note.note];
                    if (left != kIdle)
                        track.event (0x80, note.note, 0);
                    track.event (0x90, note.note, dataByte (std::max<int> (note.velocity, 1)));
                    left = kMidiTicksPerEighth * (note.length + 1);
                    active[note.note / 64] |= 1ull << (note.note % 64);
                }
            }

            track.wait (kTicksPerSubTick);
        }
    }

    // Notes still sounding are cut at the end of the last bar.
    for (int n = 0; n < kNoteCount; ++n)
    {
        if (sounding[(std::size_t)n] != kIdle)
            track.event (0x80, (uint8_t)n, 0);
    }

    const std::vector<uint8_t>& events = track.events();
    const uint32_t trackLength = (uint32_t)(events.size() + sizeof (kEndOfTrack));

    std::vector<uint8_t> file;
    file.reserve (sizeof (kHeader) + 8 + trackLength);
    file.insert (file.end(), std::begin (kHeader), std::end (kHeader));
    const uint8_t chunk[] = {'M',
                             'T',
                             'r',
                             'k',
                             (uint8_t)(trackLength >> 24),
                             (uint8_t)(trackLength >> 16),
                             (uint8_t)(trackLength >> 8),
                             (uint8_t)trackLength};
    file.insert (file.end(), std::begin (chunk), std::end (chunk));
    file.insert (file.end(), events.begin(), events.end());
    // The end of track ignores the time after the last event: the file ends there.
    file.insert (file.end(), std::begin (kEndOfTrack), std::end (kEndOfTrack));
    return file;
}

bool writeMidiFile (const engine::RenderedSteps& rendered, int barCount, const CcNumbers& ccNumbers,
                    const juce::File& file)
{
    const std::vector<uint8_t> bytes = buildMidiFile (rendered, barCount, ccNumbers);

    if (file.exists() && !file.deleteFile())
        return false;

    bool written = false;
    {
        juce::FileOutputStream out (file);
        if (out.openedOk())
        {
            written = out.write (bytes.data(), bytes.size());
            out.flush();
            written = written && out.getStatus().wasOk();
        }
    }
    if (!written)
        file.deleteFile();
    return written;
}

} // namespace korva
