// The MIDI file reader on any bytes: a file dropped by the user. The first
// bytes choose the bar count (mostly 1 to 4, sometimes any value) and the
// five controller numbers; the rest is the file. Each file is read with and
// without a fit report: both must leave the same pattern, and the report must
// agree with what was read and add up.

#include "core/midi/MidiFileReader.h"
#include "fuzz/FuzzSupport.h"

#include <cstring>

namespace
{
int barCountFrom (uint8_t b)
{
    return (b & 0x80) != 0 ? static_cast<int8_t> (b) : 1 + b % 4;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, std::size_t size)
{
    using namespace korva;
    fuzz::ByteReader input (data, size);
    const int bars = barCountFrom (input.u8());
    CcNumbers cc{};
    for (auto& number : cc)
        number = static_cast<int8_t> (input.u8());
    const auto file = input.rest();

    static PatternRecord empty = []
    {
        PatternRecord record;
        makeEmptyPattern (record);
        return record;
    }();
    static PatternRecord plain, reported;
    plain = empty;
    reported = empty;

    // The reader's result, as a truth value.
    const bool readPlain = static_cast<bool> (readMidiFile (file.first, file.second, bars, cc, plain));
    MidiFitReport report;
    const bool readReported = static_cast<bool> (readMidiFile (file.first, file.second, bars, cc, reported, &report));

    fuzz::require (readPlain == readReported);
    fuzz::require (report.read == readReported);
    fuzz::require (std::memcmp (&plain, &reported, sizeof (PatternRecord)) == 0);
    if (readPlain)
    {
        fuzz::require (plain.block.barCount == bars);
        fuzz::require (report.notesSeen == report.notesKept + report.notesLost());
        fuzz::require (report.controllersSeen == report.controllersKept + report.controllersLost());
    }
    return 0;
}
