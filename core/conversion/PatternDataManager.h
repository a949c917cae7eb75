#pragma once

// The application's one owner of pattern conversions: it keeps what the device
// last said about its current pattern, turns the pattern imported from the
// device into a MIDI file for dragging out, and a dropped MIDI file into the
// pattern payload that is exported to the device.
//
// The conversions run on the caller's thread (the request sequencer's); the
// manager's own thread carries no conversion work. The conversions themselves
// live in PatternConverter.h.

#include "core/conversion/PatternConversions.h"
#include "core/engine/Engine.h"
#include "core/infra/AsyncTask.h"
#include "core/midi/MidiFitReport.h"
#include "core/patterns/PatternInfo.h"

#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <mutex>
#include <utility>

namespace korva
{

class PatternDataManager final : public infra::TaskDrivenThread,
                                 public juce::DeletedAtShutdown,
                                 public PatternConversions
{
public:
    // Every MIDI file lives below `temporaryFolder`, which is emptied now:
    // files of an earlier run disappear at the first use of the manager.
    explicit PatternDataManager (const juce::File& temporaryFolder = getDefaultTemporaryFolder());
    ~PatternDataManager() override;

    JUCE_DECLARE_SINGLETON (PatternDataManager, false)

    // userApplicationDataDirectory/MELDRA/<application name>/Temp, the name being
    // "KORVA Manager" where no application object exists (tools, tests).
    static juce::File getDefaultTemporaryFolder();
    const juce::File& getTemporaryFolder() const noexcept { return m_temporaryFolder; }

    void setPatternInfo (const juce::MemoryBlock& payload) override;
    PatternInfo getPatternInfo() const;

    // A fresh, empty "TRK<track>_PTN<pattern>_<time>.mid" in a new randomly
    // numbered subfolder of the temporary folder.
    juce::File makeMidiFile() override;

    PatternToMidiResult convertPatternToMidiFile (const juce::MemoryBlock& payload, const juce::File& file) override;
    bool convertMidiFileToPattern (const juce::File& file, juce::MemoryBlock& payload) override;

    // What the last dropped file kept and lost, counted while it was converted;
    // report.read is false after a rejected file and before the first drop.
    MidiFitReport getLastDropReport() const;

    // Why the last dropped file was refused ("SMPTE time division: only files in
    // beats can be converted"); empty after an accepted file and before the first drop.
    juce::String getLastDropRefusal() const;

    bool writeMidiFile (const engine::RenderedSteps& renderedSteps, const juce::File& file);

    // The bar count one of the last few files of convertPatternToMidiFile was
    // rendered for; 0 for any other file. The pattern page tells by it which
    // of its requests (a preview's or a drag's Length) an answer belongs to.
    int renderedBarsOf (const juce::File& file) const;

    // Shared with the message thread: the pattern page reads the two numbers and
    // writes a bar count before it asks for the conversion that reads it.
    std::atomic<int> trackNumber{-1};
    std::atomic<int> patternNumber{-1};
    std::atomic<int> renderBarCount{0}; // 1, 2, 4, 8, 16 or 32 bars into the next MIDI file
    std::atomic<int> dropBarCount{0};   // 1, 2 or 4 bars from the next dropped file

private:
    const juce::File m_temporaryFolder;

    mutable std::mutex m_infoLock;
    CcNumbers ccNumbers{};
    int patternInfoExtra = 0;
    engine::ChordSlots chordSlots{};

    mutable std::mutex m_renderedLock;
    std::array<std::pair<juce::File, int>, 4> m_rendered{};
    std::size_t m_renderedNext = 0;

    mutable std::mutex m_dropReportLock; // guards both
    MidiFitReport m_lastDropReport;
    juce::String m_lastDropRefusal;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PatternDataManager)
};

} // namespace korva
