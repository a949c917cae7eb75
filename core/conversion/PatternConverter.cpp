#include "core/conversion/PatternConverter.h"

#include "core/engine/Engine.h"
#include "core/midi/MidiFileReader.h"
#include "core/midi/MidiFileWriter.h"

#include <memory>
#include <mutex>

namespace korva
{

namespace
{

// The engine is one process-wide machine: one conversion uses it at a time,
// from initialisation to release.
class EngineSession
{
public:
    EngineSession() : m_lock (mutex()) { engine::engineInit(); }
    ~EngineSession() { engine::engineRelease(); }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }

    std::lock_guard<std::mutex> m_lock;
};

} // namespace

PatternToMidiResult convertPatternToMidiFile (const uint8_t* payload, std::size_t size, const PatternInfo& info,
                                              int barCount, const juce::File& file)
{
    auto record = std::make_unique<PatternRecord>();
    switch (decodePattern (payload, size, *record))
    {
        case kDecodeOk:
            break;
        case kDecodeDeviceDataOld:
            return kPatternFormatOlder;
        case kDecodeAppDataOld:
            return kPatternFormatNewer;
        case kDecodeTooShort:
        default:
            return kRenderNotFinished;
    }

    auto rendered = std::make_unique<engine::RenderedSteps>();
    {
        EngineSession session;
        if (!engine::renderPattern (*record, info.chordSlots, barCount, *rendered))
            return kRenderNotFinished;
    }
    return writeMidiFile (*rendered, barCount, info.ccNumbers, file) ? kMidiFileWritten : kMidiFileNotWritten;
}

MidiReadResult convertMidiFileToPattern (const juce::File& file, int dropBarCount, const CcNumbers& ccNumbers,
                                         PatternPayload& payload, MidiFitReport* report)
{
    auto record = std::make_unique<PatternRecord>();
    {
        EngineSession session;
        *record = engine::defaultPattern();
    }
    MidiReadResult result = readMidiFile (file, dropBarCount, ccNumbers, *record, report);
    if (result)
        encodePattern (*record, payload);
    return result;
}

} // namespace korva
