#include "core/midi/MidiFileReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace korva
{

namespace
{

constexpr std::size_t kMinimumFileSize = 26; // a header and one empty track
constexpr std::size_t kFirstChunk = 14;      // the header is taken to be 6 bytes long
constexpr std::size_t kChunkHeaderSize = 8;
constexpr int kMaxNotesPerStep = 8;
constexpr int64_t kIdle = -1;

uint32_t readU16 (const uint8_t* p)
{
    return (uint32_t)((p[0] << 8) | p[1]);
}

uint32_t readU32 (const uint8_t* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

// The sub-position (0 to 5, or 6 after a rounding slip) of `remainder` ticks into a step.
int subPositionOf (int64_t remainder, uint32_t ticksPerStep)
{
    return (int)(6.0f * (float)remainder / (float)ticksPerStep);
}

// Why a file was refused, with what the reason's sentence needs to name the place.
enum class Refusal : uint8_t
{
    none,
    noHeader,        // shorter than a header and one track
    smpte,           // value: the division
    division,        // value: the division
    trackMissing,    // value: the track count of the header; the file ends before the next chunk
    chunkPastEnd,    // value: the claimed length; at: the chunk's first event byte
    eventCutShort,   // at: the event's first byte
    longNumber,      // at: the number's first byte
    status,          // value: the status; at: its byte
    noRunningStatus, // value: the data byte; at: its byte
    subPosition      // at: the event's first byte
};

// "0xF4".
juce::String hexByte (uint32_t value)
{
    return "0x" + juce::String::toHexString ((int)value).toUpperCase().paddedLeft ('0', 2);
}

// A file too short to hold a header and one track.
juce::String refusalOfShortFile (const uint8_t* data, std::size_t size)
{
    if (data == nullptr || size < 4 || std::memcmp (data, "MThd", 4) != 0)
        return "not a Standard MIDI File (no MThd header)";
    return "the file ends after " + juce::String ((juce::int64)size) + " bytes, before a header and one track (" +
           juce::String ((juce::int64)kMinimumFileSize) + " bytes): cut short?";
}

struct PendingNote
{
    int64_t startTick = kIdle;
    int64_t step = 0;
    int slot = -1; // -1 when the step had no room for it
};

// Reporting is a template argument so that a read without a report runs the
// code it always ran, without a test of the report at every event.
template <bool Reporting>
class Reader
{
public:
    Reader (const uint8_t* data, std::size_t size, int dropBarCount, const CcNumbers& ccNumbers, PatternRecord& record,
            MidiFitReport* report)
        : m_data (data), m_size (size), m_ccNumbers (ccNumbers), m_record (record),
          m_maxSteps ((int64_t)dropBarCount * kStepsPerBar), m_report (report)
    {
    }

    bool read()
    {
        if (m_size < kMinimumFileSize)
            return refuse (Refusal::noHeader, 0, 0);

        const uint32_t trackCount = readU16 (m_data + 10);
        const uint32_t division = readU16 (m_data + 12);
        // SMPTE timing (top bit set) is not in beats, and a division below 4 has no
        // whole tick per step.
        if ((division & 0x8000) != 0)
            return refuse (Refusal::smpte, 12, division);
        if (division < 4)
            return refuse (Refusal::division, 12, division);
        m_ticksPerStep = division / 4;
        m_ticksPerEighth = (float)m_ticksPerStep * 0.125f;
        if constexpr (Reporting)
        {
            m_fit.barCount = (int)(m_maxSteps / kStepsPerBar);
            m_fit.ticksPerQuarter = (int)division;
        }

        std::size_t chunk = kFirstChunk;
        for (uint32_t track = 0; track < trackCount && !m_stopAfterTrack; ++track)
        {
            if (m_size - chunk < kChunkHeaderSize)
                return refuse (Refusal::trackMissing, chunk, trackCount);
            const uint32_t length = readU32 (m_data + chunk + 4);
            const std::size_t events = chunk + kChunkHeaderSize;
            if ((length & 0x80000000u) != 0 || length > m_size - events)
                return refuse (Refusal::chunkPastEnd, events, length);
            if (!readTrack (events, events + length))
                return false;
            chunk = events + length;
            ++m_tracksRead;
        }

        m_record.block.barCount = (uint8_t)(m_maxSteps / kStepsPerBar);
        if constexpr (Reporting)
        {
            if (m_stopAfterTrack)
                countUnreadTracks (chunk, trackCount);
            m_fit.read = true;
            *m_report = std::move (m_fit);
        }
        return true;
    }

    // Why read() returned false, in words.
    juce::String refusalText() const
    {
        const juce::String track = "track " + juce::String (m_tracksRead + 1);
        const juce::String at = " at byte " + juce::String ((juce::int64)m_refusalAt);
        switch (m_refusal)
        {
            case Refusal::noHeader:
                return refusalOfShortFile (m_data, m_size);
            case Refusal::smpte:
                return "SMPTE time division: only files in beats can be converted";
            case Refusal::division:
                return "time division of " + juce::String (m_refusalValue) +
                       (m_refusalValue == 1 ? " tick" : " ticks") + " per beat: at least 4 are needed";
            case Refusal::trackMissing:
                return "the header names " + juce::String (m_refusalValue) + " tracks but the file ends before " +
                       track + ": cut short?";
            case Refusal::chunkPastEnd:
                return track + " claims " + juce::String (m_refusalValue) + " bytes but the file ends after " +
                       juce::String ((juce::int64) (m_size - m_refusalAt)) + ": cut short?";
            case Refusal::eventCutShort:
                return "the file ends inside an event of " + track + at + ": cut short?";
            case Refusal::longNumber:
                return track + ": the variable-length number" + at + " runs over 4 bytes";
            case Refusal::status:
                return track + ": status byte " + hexByte (m_refusalValue) + at + " is not allowed";
            case Refusal::noRunningStatus:
                return track + ": data byte " + hexByte (m_refusalValue) + at + " has no status before it";
            case Refusal::subPosition:
                return track + ": the event" + at + " falls outside the sixths of its step";
            case Refusal::none:
            default:
                return "the file was refused";
        }
    }

private:
    // Notes why the file is refused: plain stores, no call, so that the reading
    // loop keeps its position in a register (a call on the failure paths costs
    // the loop a fifth of its speed).
    __attribute__ ((always_inline)) bool refuse (Refusal refusal, std::size_t at, uint32_t value)
    {
        m_refusal = refusal;
        m_refusalAt = at;
        m_refusalValue = value;
        return false;
    }

    __attribute__ ((always_inline)) bool refuseEvent (std::size_t start)
    {
        // The places that ran out of bytes or placed the event did not know where it began.
        if (m_refusal == Refusal::eventCutShort || m_refusal == Refusal::subPosition)
            m_refusalAt = start;
        return false;
    }

    // The tracks after the one that ended the reading are only counted: their
    // events are read as events beyond the end, and the first byte that does
    // not make sense ends the count (the reader never looked at them).
    void countUnreadTracks (std::size_t chunk, uint32_t trackCount)
    {
        m_unread = true;
        for (uint32_t track = m_tracksRead; track < trackCount; ++track)
        {
            if (m_size - chunk < kChunkHeaderSize)
                return;
            const uint32_t length = readU32 (m_data + chunk + 4);
            const std::size_t events = chunk + kChunkHeaderSize;
            if ((length & 0x80000000u) != 0 || length > m_size - events)
                return;
            m_beyondEnd = true;
            m_stopAfterTrack = false;
            readEvents (events, events + length);
            chunk = events + length;
        }
    }

    bool readTrack (std::size_t begin, std::size_t end)
    {
        m_beyondEnd = false;
        if (!readEvents (begin, end))
            return false;

        // Notes still sounding end with the bar that holds the current step.
        const int64_t bars = m_currentStep < 16 ? 1 : m_currentStep < 32 ? 2 : m_currentStep < 48 ? 3 : 4;
        const int64_t endTick = (int64_t)m_ticksPerStep * kStepsPerBar * bars;
        for (int note = 0; note < 128; ++note)
            finishNote (note, endTick);
        return true;
    }

    // The one loop over events, so that readEvent is inlined into it; false at
    // the first malformed event.
    // An event may start inside its chunk and run past the chunk's declared end:
    // reads are bounded by the file, the loop by the chunk.
    bool readEvents (std::size_t begin, std::size_t end)
    {
        m_pos = begin;
        m_end = m_size;
        m_tick = 0;
        m_runningStatus = 0;
        while (m_pos < end && !m_stopAfterTrack)
        {
            const std::size_t start = m_pos;
            if (!readEvent())
                return refuseEvent (start);
        }
        return true;
    }

    // Inlined into the loop: with the report's counting GCC would no longer do it
    // by itself, and the call per event costs more than the counting.
    __attribute__ ((always_inline)) bool readEvent()
    {
        uint32_t delta = 0;
        if (!readVariableLength (delta))
            return false;
        m_tick += delta;

        if (m_pos >= m_end)
            return refuse (Refusal::eventCutShort, 0, 0);
        uint8_t status = m_data[m_pos];
        if ((status & 0x80) != 0)
        {
            // Meta and system statuses become the running status too.
            m_runningStatus = status;
            ++m_pos;
        }
        else if (m_runningStatus == 0)
        {
            return refuse (Refusal::noRunningStatus, m_pos, status);
        }
        else
        {
            status = m_runningStatus;
        }

        if (!m_beyondEnd && !placeInTime())
            return false;

        switch (status >> 4)
        {
            case 0x9:
            case 0x8:
            {
                uint8_t note = 0;
                uint8_t velocity = 0;
                if (!readDataByte (note) || !readDataByte (velocity))
                    return false;
                const bool noteOn = (status >> 4) == 0x9 && velocity > 0;
                if (!m_beyondEnd)
                {
                    m_noteSeen = true;
                    // A note number of 128 or more has no pending entry; a velocity
                    // of 128 or more ends the earlier note but places nothing.
                    if (note < 128)
                        finishNote (note, m_tick);
                    if (noteOn && note < 128 && velocity < 128)
                        startNote (note, velocity);
                    else if (noteOn && Reporting)
                        lose (kNotesOutOfRange, m_tick, note);
                }
                else if (noteOn && Reporting)
                {
                    lose (m_unread ? kNotesInLaterTracks : kNotesAfterLastBar, m_tick, note);
                }
                if (noteOn && Reporting)
                    ++m_fit.notesSeen;
                return true;
            }
            case 0xB:
            {
                uint8_t controller = 0;
                uint8_t value = 0;
                if (!readDataByte (controller) || !readDataByte (value))
                    return false;
                if (!m_beyondEnd)
                    setController (controller, value);
                else if (Reporting)
                    lose (m_unread ? kControllersInLaterTracks : kControllersAfterLastBar, m_tick, controller);
                if constexpr (Reporting)
                    ++m_fit.controllersSeen;
                return true;
            }
            case 0xA:
            case 0xE:
                return skip (2);
            case 0xC:
            case 0xD:
                return skip (1);
            default:
                break;
        }

        if (status == 0xF0 || status == 0xF7)
        {
            uint32_t length = 0;
            return readVariableLength (length) && skip (length);
        }
        if (status == 0xFF)
        {
            if (m_pos >= m_end)
                return refuse (Refusal::eventCutShort, 0, 0);
            const uint8_t type = m_data[m_pos++];
            if (type == 0x2F)
            {
                if (!skip (1))
                    return false;
                if (m_noteSeen)
                    m_stopAfterTrack = true;
                return true;
            }
            uint32_t length = 0;
            if (!readVariableLength (length))
                return false;
            if (type == 0x51 && length == 3 && Reporting)
                noteTempo();
            return skip (length);
        }
        // Nothing of an unknown status was read but the status byte itself.
        return refuse (Refusal::status, m_pos - 1, status);
    }

    // Quantises the event's tick onto a step and a sub-position.
    bool placeInTime()
    {
        const int64_t q = m_tick / m_ticksPerStep;
        const int64_t r = m_tick % m_ticksPerStep;
        // The current step carries over from the track before, so an event at
        // that very step beyond the end must still count as beyond the end.
        if (q != m_currentStep || q >= m_maxSteps)
        {
            m_currentStep = q;
            if (q >= m_maxSteps)
            {
                m_beyondEnd = true;
                if (m_noteSeen)
                    m_currentStep = m_maxSteps - 1;
            }
            m_notesInStep = 0;
        }
        const int subPosition = subPositionOf (r, m_ticksPerStep);
        if (subPosition >= kSubPositionCount)
            return refuse (Refusal::subPosition, 0, 0);
        m_currentSubPosition = subPosition;
        return true;
    }

    void startNote (uint8_t note, uint8_t velocity)
    {
        if (m_notesInStep >= kMaxNotesPerStep || m_currentStep < 0 || m_currentStep >= m_maxSteps)
        {
            if constexpr (Reporting)
                lose (m_notesInStep >= kMaxNotesPerStep ? kNotesBeyondStepLimit : kNotesWithoutSlot, m_tick, note);
            return;
        }
        const uint8_t takenBefore = Reporting ? stepword::noteMask (m_record.block.steps[m_currentStep]) : 0;
        const int slot = addNoteToStep (m_record.block, (int)m_currentStep, m_currentSubPosition, note, velocity);
        m_pending[note] = {m_tick, m_currentStep, slot};
        ++m_notesInStep;
        if constexpr (Reporting)
            countPlacedNote (note, slot, takenBefore);
    }

    void countPlacedNote (uint8_t note, int slot, uint8_t takenBefore)
    {
        if (slot < 0)
        {
            lose (kNotesWithoutSlot, m_tick, note);
            return;
        }
        if ((takenBefore & (1u << slot)) != 0)
            lose (kNotesReplaced, m_tick, note);
        else
            ++m_fit.notesKept;

        const double placed =
            (double)m_currentStep * m_ticksPerStep + (double)m_currentSubPosition * m_ticksPerStep / 6.0;
        m_fit.largestStartErrorTicks = std::max (m_fit.largestStartErrorTicks, (double)m_tick - placed);
    }

    void lose (FitReason reason, int64_t tick, int number)
    {
        if (++m_fit.losses[(std::size_t)reason].count <= kFitExampleCount)
            addExample (m_fit.losses[(std::size_t)reason], tick, number);
    }

    // Out of line: it runs a few times per reason, and kept inline it slows the loop.
    __attribute__ ((noinline)) void addExample (FitLoss& loss, int64_t tick, int number)
    {
        const int64_t step = tick / m_ticksPerStep;
        const int subPosition = std::min (subPositionOf (tick % m_ticksPerStep, m_ticksPerStep), kSubPositionCount - 1);
        loss.examples.push_back (
            {tick, (int)(step / kStepsPerBar) + 1, (int)(step % kStepsPerBar) + 1, subPosition + 1, number});
    }

    void noteTempo()
    {
        if (m_tempoSeen || m_end - m_pos < 3)
            return;
        m_tempoSeen = true;
        m_fit.microsecondsPerQuarter =
            ((uint32_t)m_data[m_pos] << 16) | ((uint32_t)m_data[m_pos + 1] << 8) | m_data[m_pos + 2];
    }

    void finishNote (int note, int64_t endTick)
    {
        PendingNote& pending = m_pending[(std::size_t)note];
        if (pending.startTick == kIdle)
            return;

        const float eighths = (float)(endTick - pending.startTick) / m_ticksPerEighth;
        if (pending.step >= 0 && pending.step < kStepCount && pending.slot >= 0 && pending.slot < kSlotCount &&
            eighths > -65536.0f && eighths < 65536.0f)
        {
            // Kept to 16 bits: a negative length wraps to one far too long to store.
            const uint16_t length = (uint16_t)(int32_t)eighths;
            const uint16_t stored = length > 0 ? (uint16_t)(length - 1) : 0;
            if (stored <= kMaxNoteLength)
            {
                m_record.block.notes[pending.step][pending.slot].length = stored;
                if constexpr (Reporting)
                    countLength (endTick - pending.startTick, stored);
            }
        }
        pending = {};
    }

    // A stored length n stands for n + 1 eighths of a step.
    void countLength (int64_t ticks, uint16_t stored)
    {
        const double error = std::abs ((double)ticks - (stored + 1.0) * m_ticksPerEighth);
        m_fit.largestLengthErrorTicks = std::max (m_fit.largestLengthErrorTicks, error);
    }

    void setController (uint8_t controller, uint8_t value)
    {
        if (m_currentStep < 0 || m_currentStep >= m_maxSteps)
            return;
        // Two lanes on the same controller both take its values.
        bool taken = false;
        for (int lane = 0; lane < kLaneCount; ++lane)
        {
            if (m_ccNumbers[(std::size_t)lane] == controller)
            {
                // A value of 128 or more sets the lane's bit but is not stored.
                if (value < 128)
                    setStepCcValue (m_record.block, (int)m_currentStep, lane, value);
                else
                {
                    uint32_t& word = m_record.block.steps[m_currentStep];
                    word = stepword::withCcMask (word, (uint8_t)(stepword::ccMask (word) | (1u << lane)));
                }
                taken = true;
            }
        }
        if constexpr (!Reporting)
            return;
        if (taken)
            ++m_fit.controllersKept;
        else
            lose (kControllersWithoutLane, m_tick, controller);
    }

    // A variable-length quantity of at most 4 bytes, as the file format allows.
    bool readVariableLength (uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i)
        {
            if (m_pos >= m_end)
                return refuse (Refusal::eventCutShort, 0, 0);
            const uint8_t b = m_data[m_pos++];
            value = (value << 7) | (b & 0x7Fu);
            if ((b & 0x80) == 0)
                return true;
        }
        return refuse (Refusal::longNumber, m_pos - 4, 0);
    }

    // A byte with its top bit set where data belongs is read as data.
    bool readDataByte (uint8_t& value)
    {
        if (m_pos >= m_end)
            return refuse (Refusal::eventCutShort, 0, 0);
        value = m_data[m_pos++];
        return true;
    }

    bool skip (uint32_t count)
    {
        if (count > m_end - m_pos)
            return refuse (Refusal::eventCutShort, 0, 0);
        m_pos += count;
        return true;
    }

    const uint8_t* const m_data;
    const std::size_t m_size;
    const CcNumbers& m_ccNumbers;
    PatternRecord& m_record;
    const int64_t m_maxSteps;
    MidiFitReport* const m_report; // set when Reporting
    MidiFitReport m_fit;           // filled while reading, handed over at the end

    uint32_t m_ticksPerStep = 1;
    float m_ticksPerEighth = 0.125f;

    std::size_t m_pos = 0; // read position, always within the file
    std::size_t m_end = 0; // end of the file: bound of every read
    int64_t m_tick = 0;
    uint8_t m_runningStatus = 0;
    bool m_beyondEnd = false;

    int64_t m_currentStep = 0;
    int m_currentSubPosition = 0;
    int m_notesInStep = 0;
    bool m_noteSeen = false;
    bool m_stopAfterTrack = false;
    uint32_t m_tracksRead = 0;
    bool m_unread = false; // counting the tracks after the reading ended
    bool m_tempoSeen = false;
    std::array<PendingNote, 128> m_pending{};

    Refusal m_refusal = Refusal::none;
    std::size_t m_refusalAt = 0;
    uint32_t m_refusalValue = 0;
};

} // namespace

namespace
{

MidiReadResult refused (juce::String reason)
{
    return {false, std::move (reason)};
}

template <bool Reporting>
MidiReadResult readWith (const uint8_t* data, std::size_t size, int dropBarCount, const CcNumbers& ccNumbers,
                         PatternRecord& record, MidiFitReport* report)
{
    Reader<Reporting> reader (data, size, dropBarCount, ccNumbers, record, report);
    if (reader.read())
        return {true, {}};
    return refused (reader.refusalText());
}

// "70 MB", "64.1 MB": rounded up to a tenth, so that a file just above the limit
// does not read as the limit.
juce::String megabytes (juce::int64 bytes)
{
    constexpr double kMegabyte = 1024.0 * 1024.0;
    const double tenths = std::ceil ((double)bytes * 10.0 / kMegabyte);
    if (std::fmod (tenths, 10.0) == 0.0)
        return juce::String ((juce::int64) (tenths / 10.0)) + " MB";
    return juce::String (tenths / 10.0, 1) + " MB";
}

} // namespace

MidiReadResult readMidiFile (const uint8_t* data, std::size_t size, int dropBarCount, const CcNumbers& ccNumbers,
                             PatternRecord& record, MidiFitReport* report)
{
    if (report != nullptr)
        *report = {};
    if (dropBarCount < 1 || dropBarCount > kStepCount / kStepsPerBar)
        return refused ("drop bar count " + juce::String (dropBarCount) + ": only 1 to " +
                        juce::String (kStepCount / kStepsPerBar) + " bars can be taken");
    if (data == nullptr)
        return refused (refusalOfShortFile (nullptr, 0));
    if (report != nullptr)
        return readWith<true> (data, size, dropBarCount, ccNumbers, record, report);
    return readWith<false> (data, size, dropBarCount, ccNumbers, record, nullptr);
}

MidiReadResult readMidiFile (const juce::File& file, int dropBarCount, const CcNumbers& ccNumbers,
                             PatternRecord& record, MidiFitReport* report)
{
    if (report != nullptr)
        *report = {};
    if (file.isDirectory())
        return refused ("a folder, not a file");
    if (!file.existsAsFile())
        return refused ("the file does not exist");

    juce::FileInputStream in (file);
    if (in.failedToOpen())
        return refused ("the file cannot be read: " + in.getStatus().getErrorMessage());
    const juce::int64 size = in.getTotalLength();
    if (size > kMaxMidiFileSize)
        return refused ("the file is " + megabytes (size) + ": files above " + megabytes (kMaxMidiFileSize) +
                        " are not read");
    juce::MemoryBlock data;
    in.readIntoMemoryBlock (data, (ssize_t)size);
    if (in.getStatus().failed())
        return refused ("the file cannot be read: " + in.getStatus().getErrorMessage());
    return readMidiFile (static_cast<const uint8_t*> (data.getData()), data.getSize(), dropBarCount, ccNumbers, record,
                         report);
}

} // namespace korva
