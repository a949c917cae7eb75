#include "core/conversion/PatternPreview.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <tuple>

namespace korva
{

namespace
{

constexpr int kNoteCount = 128;
constexpr int kQuartersPerBar = 4;
constexpr int64_t kLatestTick = 1 << 30; // far beyond 32 bars at any division

uint32_t bigEndian (const uint8_t* p, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

// A variable-length quantity of at most four bytes, read below `end`.
bool readQuantity (const uint8_t* data, std::size_t& pos, std::size_t end, uint32_t& value)
{
    value = 0;
    for (int i = 0; i < 4; ++i)
    {
        if (pos >= end)
            return false;
        const uint8_t byte = data[pos++];
        value = (value << 7) | (byte & 0x7Fu);
        if ((byte & 0x80) == 0)
            return true;
    }
    return false;
}

std::string plural (int count, const char* one, const char* many)
{
    return std::to_string (count) + " " + (count == 1 ? one : many);
}

} // namespace

bool PatternPreview::read (const uint8_t* data, std::size_t size, int barCount)
{
    *this = PatternPreview();
    if (data == nullptr || size < 14 || std::memcmp (data, "MThd", 4) != 0)
        return false;
    const uint32_t headerLength = bigEndian (data + 4, 4);
    const uint32_t division = bigEndian (data + 12, 2);
    if (headerLength < 6 || headerLength > size - 8 || division == 0 || (division & 0x8000) != 0)
        return false;

    // A note-off ends the earliest note of its pitch still sounding.
    std::array<std::deque<PreviewNote>, kNoteCount> sounding;
    std::array<bool, kNoteCount> controllers{};
    std::vector<PreviewNote> notes;
    int64_t lastTick = 0;
    bool hasTrack = false;

    std::size_t pos = 8 + (std::size_t)headerLength;
    while (size - pos >= 8)
    {
        const bool isTrack = std::memcmp (data + pos, "MTrk", 4) == 0;
        const std::size_t length = std::min<std::size_t> (bigEndian (data + pos + 4, 4), size - pos - 8);
        pos += 8;
        const std::size_t end = pos + length;
        if (!isTrack)
        {
            pos = end;
            continue;
        }
        hasTrack = true;

        int64_t tick = 0;
        uint8_t running = 0;
        while (pos < end)
        {
            uint32_t delta = 0;
            if (!readQuantity (data, pos, end, delta) || pos >= end)
                return false;
            tick = std::min<int64_t> (tick + delta, kLatestTick);

            uint8_t status = data[pos];
            if ((status & 0x80) != 0)
                ++pos;
            else if (running != 0)
                status = running;
            else
                return false;

            if (status == 0xFF || status == 0xF0 || status == 0xF7)
            {
                running = 0;
                uint8_t type = 0;
                if (status == 0xFF)
                {
                    if (pos >= end)
                        return false;
                    type = data[pos++];
                }
                uint32_t skip = 0;
                if (!readQuantity (data, pos, end, skip) || skip > end - pos)
                    return false;
                pos += skip;
                if (status == 0xFF && type == 0x2F)
                {
                    lastTick = std::max (lastTick, tick);
                    break;
                }
                continue;
            }
            if (status >= 0xF0)
                return false;

            running = status;
            const uint8_t kind = status & 0xF0;
            const std::size_t dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (end - pos < dataBytes)
                return false;
            const uint8_t data1 = data[pos] & 0x7F;
            const uint8_t data2 = dataBytes == 2 ? (uint8_t)(data[pos + 1] & 0x7F) : 0;
            pos += dataBytes;
            lastTick = std::max (lastTick, tick);

            if (kind == 0x90 && data2 > 0)
            {
                sounding[data1].push_back ({data1, (int)tick, 0, data2});
            }
            else if ((kind == 0x80 || kind == 0x90) && !sounding[data1].empty())
            {
                PreviewNote note = sounding[data1].front();
                sounding[data1].pop_front();
                note.length = (int)tick - note.start;
                notes.push_back (note);
            }
            else if (kind == 0xB0)
            {
                controllers[data1] = true;
            }
        }
        pos = end;
    }
    if (!hasTrack)
        return false;

    m_ticksPerBar = (int)division * kQuartersPerBar;
    m_barCount = barCount > 0 ? barCount : std::max<int> (1, (int)((lastTick + m_ticksPerBar - 1) / m_ticksPerBar));

    // Notes left sounding last to the end of the last bar.
    const int64_t endTick = std::max<int64_t> (lastTick, (int64_t)m_barCount * m_ticksPerBar);
    for (auto& queue : sounding)
    {
        for (PreviewNote note : queue)
        {
            note.length = (int)(endTick - note.start);
            notes.push_back (note);
        }
    }

    std::sort (notes.begin(), notes.end(),
               [] (const PreviewNote& a, const PreviewNote& b) {
                   return std::tie (a.start, a.pitch, a.length, a.velocity) <
                          std::tie (b.start, b.pitch, b.length, b.velocity);
               });
    m_notes = std::move (notes);
    for (const PreviewNote& note : m_notes)
    {
        m_lowest = m_lowest < 0 ? note.pitch : std::min (m_lowest, note.pitch);
        m_highest = std::max (m_highest, note.pitch);
    }
    for (int c = 0; c < kNoteCount; ++c)
    {
        if (controllers[(std::size_t)c])
            m_controllers.push_back (c);
    }
    return true;
}

std::string PatternPreview::summary (bool ascii) const
{
    const char* separator = ascii ? " - " : " \u00B7 ";
    return plural (m_barCount, "bar", "bars") + separator + plural ((int)m_notes.size(), "note", "notes") + separator +
           plural ((int)m_controllers.size(), "controller lane", "controller lanes");
}

std::string PatternPreview::range (bool ascii) const
{
    if (m_notes.empty())
        return {};
    return previewNoteName (m_lowest) + (ascii ? " - " : " \u2013 ") + previewNoteName (m_highest);
}

std::string previewNoteName (int note)
{
    static const char* const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const int n = std::clamp (note, 0, kNoteCount - 1);
    return std::string (names[n % 12]) + std::to_string (n / 12 - 1);
}

std::vector<std::string> renderPianoRoll (const PatternPreview& preview, int width, bool ascii)
{
    constexpr int kLabelWidth = 5; // "C#-1" and a space
    const char* const barLine = ascii ? "|" : "\u2502";
    const char* const cells[] = {ascii ? "." : " ", ascii ? "=" : "\u2592", ascii ? "#" : "\u2588"};
    enum Cell
    {
        kEmpty = 0,
        kHeld = 1,
        kStart = 2
    };

    const int bars = std::max (1, preview.getBarCount());
    const int columnsPerBar = std::max (1, (width - kLabelWidth - 1) / bars - 1);
    const int64_t columns = (int64_t)bars * columnsPerBar;
    const int64_t ticks = std::max<int64_t> (1, (int64_t)bars * preview.getTicksPerBar());

    std::vector<std::string> lines;

    // The bar numbers above their bar lines, where they fit.
    std::string ruler (kLabelWidth + (std::size_t) (bars * (columnsPerBar + 1) + 1), ' ');
    std::size_t free = 0;
    for (int b = 0; b < bars; ++b)
    {
        const std::string number = std::to_string (b + 1);
        const std::size_t at = kLabelWidth + (std::size_t) (b * (columnsPerBar + 1));
        if (at >= free && at + number.size() <= ruler.size())
        {
            ruler.replace (at, number.size(), number);
            free = at + number.size() + 1;
        }
    }
    ruler.erase (ruler.find_last_not_of (' ') + 1);
    lines.push_back (ruler);

    for (int pitch = preview.getHighestNote(); pitch >= 0 && pitch >= preview.getLowestNote(); --pitch)
    {
        std::vector<int> row ((std::size_t)columns, kEmpty);
        for (const PreviewNote& note : preview.getNotes())
        {
            if (note.pitch != pitch || note.start >= ticks)
                continue;
            const int64_t first = note.start * columns / ticks;
            const int64_t end = std::min<int64_t> (note.start + note.length, ticks);
            const int64_t last = std::max (first, (end * columns + ticks - 1) / ticks - 1);
            for (int64_t c = first; c <= last && c < columns; ++c)
                row[(std::size_t)c] = std::max (row[(std::size_t)c], (int)kHeld);
            row[(std::size_t)first] = kStart;
        }

        std::string line = previewNoteName (pitch);
        line.resize (kLabelWidth, ' ');
        for (int64_t c = 0; c < columns; ++c)
        {
            if (c % columnsPerBar == 0)
                line += barLine;
            line += cells[row[(std::size_t)c]];
        }
        line += barLine;
        lines.push_back (line);
    }

    lines.push_back (preview.summary (ascii));
    return lines;
}

} // namespace korva
