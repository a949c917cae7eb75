#include "core/conversion/PatternDataManager.h"

#include "core/conversion/PatternConverter.h"
#include "core/infra/FileTools.h"
#include "core/infra/UserFolders.h"
#include "core/midi/MidiFileWriter.h"

namespace korva
{

JUCE_IMPLEMENT_SINGLETON (PatternDataManager)

PatternDataManager::PatternDataManager (const juce::File& temporaryFolder)
    : infra::TaskDrivenThread ("PatternDataManager"), m_temporaryFolder (temporaryFolder)
{
    if (m_temporaryFolder.exists())
        INFRA_VERIFY ("PatternDataManager::PatternDataManager", m_temporaryFolder.deleteRecursively());
    startTaskThread (0);
}

PatternDataManager::~PatternDataManager()
{
    stopTaskThread (10000, "PatternDataManager::~PatternDataManager");
    clearSingletonInstance();
}

juce::File PatternDataManager::getDefaultTemporaryFolder()
{
    juce::String applicationName = "KORVA Manager";
    if (auto* application = juce::JUCEApplicationBase::getInstance())
        applicationName = application->getApplicationName();

    return infra::UserFolders::applicationData()
        .getChildFile ("MELDRA")
        .getChildFile (applicationName)
        .getChildFile ("Temp");
}

void PatternDataManager::setPatternInfo (const juce::MemoryBlock& payload)
{
    // The request sequencer hands over only 20-byte payloads; anything else changes nothing.
    PatternInfo info;
    if (!INFRA_VERIFY ("PatternDataManager::setPatternInfo", payload.getSize() == kPatternInfoSize) ||
        !parsePatternInfo (static_cast<const uint8_t*> (payload.getData()), payload.getSize(), info))
        return;

    {
        const std::lock_guard<std::mutex> lock (m_infoLock);
        ccNumbers = info.ccNumbers;
        patternInfoExtra = info.extra;
        chordSlots = info.chordSlots;
    }
    trackNumber = info.trackNumber;
    patternNumber = info.patternNumber;
}

PatternInfo PatternDataManager::getPatternInfo() const
{
    PatternInfo info;
    info.trackNumber = trackNumber;
    info.patternNumber = patternNumber;
    const std::lock_guard<std::mutex> lock (m_infoLock);
    info.ccNumbers = ccNumbers;
    info.extra = patternInfoExtra;
    info.chordSlots = chordSlots;
    return info;
}

juce::File PatternDataManager::makeMidiFile()
{
    juce::File folder;
    do
    {
        folder = m_temporaryFolder.getChildFile (juce::String (juce::Random::getSystemRandom().nextInt()));
    } while (folder.exists());

    // The minus sign of -1 (no pattern information yet) counts as a digit.
    const juce::String name = "TRK" + juce::String (trackNumber.load()).paddedLeft ('0', 2) + "_PTN" +
                              juce::String (patternNumber.load()).paddedLeft ('0', 2) + "_" +
                              juce::Time::getCurrentTime().formatted ("%Y%m%d_%H%M%S");
    const juce::File file = folder.getChildFile (name).withFileExtension ("mid");

    // A file that cannot be made here is reported when the conversion fails to write it.
    INFRA_VERIFY ("PatternDataManager::makeMidiFile", infra::FileTools::createAnyhow (file));
    return file;
}

PatternToMidiResult PatternDataManager::convertPatternToMidiFile (const juce::MemoryBlock& payload,
                                                                  const juce::File& file)
{
    const int bars = renderBarCount;
    const auto result = korva::convertPatternToMidiFile (static_cast<const uint8_t*> (payload.getData()),
                                                         payload.getSize(), getPatternInfo(), bars, file);
    const std::lock_guard<std::mutex> lock (m_renderedLock);
    m_rendered[m_renderedNext] = {file, bars};
    m_renderedNext = (m_renderedNext + 1) % m_rendered.size();
    return result;
}

int PatternDataManager::renderedBarsOf (const juce::File& file) const
{
    const std::lock_guard<std::mutex> lock (m_renderedLock);
    // Newest first: a file may have been rendered again.
    for (std::size_t i = 1; i <= m_rendered.size(); ++i)
    {
        const auto& [made, bars] = m_rendered[(m_renderedNext + m_rendered.size() - i) % m_rendered.size()];
        if (made == file && file != juce::File())
            return bars;
    }
    return 0;
}

bool PatternDataManager::convertMidiFileToPattern (const juce::File& file, juce::MemoryBlock& payload)
{
    PatternPayload bytes;
    MidiFitReport report;
    MidiReadResult converted =
        korva::convertMidiFileToPattern (file, dropBarCount, getPatternInfo().ccNumbers, bytes, &report);
    {
        const std::lock_guard<std::mutex> lock (m_dropReportLock);
        m_lastDropReport = std::move (report);
        m_lastDropRefusal = std::move (converted.reason);
    }
    if (!converted)
        return false;
    payload.replaceAll (bytes.data(), bytes.size());
    return true;
}

MidiFitReport PatternDataManager::getLastDropReport() const
{
    const std::lock_guard<std::mutex> lock (m_dropReportLock);
    return m_lastDropReport;
}

juce::String PatternDataManager::getLastDropRefusal() const
{
    const std::lock_guard<std::mutex> lock (m_dropReportLock);
    return m_lastDropRefusal;
}

bool PatternDataManager::writeMidiFile (const engine::RenderedSteps& renderedSteps, const juce::File& file)
{
    return korva::writeMidiFile (renderedSteps, renderBarCount, getPatternInfo().ccNumbers, file);
}

} // namespace korva
