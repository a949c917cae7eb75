#include "core/conversion/PatternDataManager.h"
#include "core/conversion/PatternConverter.h"
#include "core/infra/UserFolders.h"
#include "tests/core/engine/EngineTestSupport.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <thread>

namespace korva
{

using namespace korva;
using namespace korva::test;

namespace
{

juce::MemoryBlock patternInfoPayload (int track, int pattern, std::array<int, 5> cc, int extra,
                                      std::array<int, 6> chords)
{
    juce::MemoryBlock payload (kPatternInfoSize);
    auto* p = static_cast<uint8_t*> (payload.getData());
    p[0] = (uint8_t)track;
    p[1] = (uint8_t)pattern;
    for (int i = 0; i < 5; ++i)
        p[2 + i] = (uint8_t)cc[(std::size_t)i];
    p[7] = (uint8_t)extra;
    for (int i = 0; i < 6; ++i)
    {
        p[8 + 2 * i] = (uint8_t)(chords[(std::size_t)i] >> 8);
        p[9 + 2 * i] = (uint8_t)chords[(std::size_t)i];
    }
    return payload;
}

juce::MemoryBlock payloadOf (const PatternRecord& record)
{
    PatternPayload payload;
    encodePattern (record, payload);
    return juce::MemoryBlock (payload.data(), payload.size());
}

Bytes bytesOf (const juce::File& file)
{
    juce::MemoryBlock data;
    EXPECT_TRUE (file.loadFileAsData (data));
    const auto* p = static_cast<const uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

// Points the home, and with it the per-user application-data folder, at a
// folder of the test's own while it lives.
class ScopedHome
{
public:
    explicit ScopedHome (const juce::File& home) { useAsHome (home); }
    ~ScopedHome() { useAsHome (m_previous); }

private:
    const juce::File m_previous = infra::UserFolders::home();
};

} // namespace

TEST (PatternDataManager, FirstUseEmptiesTheTemporaryFolder)
{
    TempFolder folder;
    const juce::File temp = folder / "Temp";
    const juce::File oldMidi = temp.getChildFile ("-123456").getChildFile ("TRK01_PTN02_20240101_000000.mid");
    const juce::File oldProject = temp.getChildFile ("project.prj");
    ASSERT_TRUE (oldMidi.create().wasOk());
    ASSERT_TRUE (oldProject.replaceWithText ("left by an earlier run"));

    PatternDataManager manager (temp);
    EXPECT_FALSE (oldMidi.exists());
    EXPECT_FALSE (oldProject.exists());
    EXPECT_TRUE (folder.get().isDirectory());

    EXPECT_EQ (manager.trackNumber, -1);
    EXPECT_EQ (manager.patternNumber, -1);
    EXPECT_EQ (manager.renderBarCount, 0);
    EXPECT_EQ (manager.dropBarCount, 0);
    const PatternInfo info = manager.getPatternInfo();
    EXPECT_EQ (info.ccNumbers, (CcNumbers{}));
    EXPECT_EQ (info.chordSlots, (engine::ChordSlots{}));
    EXPECT_EQ (info.extra, 0);
}

TEST (PatternDataManager, DefaultTemporaryFolderIsTheApplicationsOwn)
{
    EXPECT_EQ (PatternDataManager::getDefaultTemporaryFolder(),
               infra::UserFolders::applicationData().getChildFile ("MELDRA/KORVA Manager/Temp"));
}

TEST (PatternDataManager, PatternInformationFillsEveryField)
{
    TempFolder folder;
    PatternDataManager manager (folder / "Temp");
    manager.setPatternInfo (
        patternInfoPayload (3, 12, {1, 7, 74, 200, 0}, 0x5A, {0x4700, 0x47A0, 0x0001, 0xFFFF, 0x8000, 0x0C00}));

    EXPECT_EQ (manager.trackNumber, 3);
    EXPECT_EQ (manager.patternNumber, 12);
    const PatternInfo info = manager.getPatternInfo();
    EXPECT_EQ (info.trackNumber, 3);
    EXPECT_EQ (info.patternNumber, 12);
    EXPECT_EQ (info.ccNumbers, (CcNumbers{1, 7, 74, 200, 0}));
    EXPECT_EQ (info.extra, 0x5A);
    EXPECT_EQ (info.chordSlots, (engine::ChordSlots{0x4700, 0x47A0, 0x0001, 0xFFFF, 0x8000, 0x0C00}));

    // A payload of another size changes nothing and is reported.
    DebugOutputCapture output;
    juce::MemoryBlock shorter = patternInfoPayload (9, 9, {9, 9, 9, 9, 9}, 9, {9, 9, 9, 9, 9, 9});
    shorter.setSize (19);
    manager.setPatternInfo (shorter);
    manager.setPatternInfo (juce::MemoryBlock (21, true));
    EXPECT_EQ (manager.trackNumber, 3);
    EXPECT_EQ (manager.getPatternInfo().ccNumbers, (CcNumbers{1, 7, 74, 200, 0}));
    EXPECT_EQ (output.count ("PatternDataManager::setPatternInfo - payload.getSize() == kPatternInfoSize"), 2);
}

TEST (PatternDataManager, MidiFilesAreNamedAfterTrackPatternAndTime)
{
    TempFolder folder;
    const juce::File temp = folder / "Temp";
    PatternDataManager manager (temp);

    struct Case
    {
        int track;
        int pattern;
        const char* prefix;
    };
    const Case cases[] = {{-1, -1, "TRK-1_PTN-1_"}, {3, 12, "TRK03_PTN12_"}, {0, 255, "TRK00_PTN255_"}};
    std::set<juce::String> folders;
    for (const Case& c : cases)
    {
        manager.trackNumber = c.track;
        manager.patternNumber = c.pattern;
        const juce::File file = manager.makeMidiFile();
        SCOPED_TRACE (file.getFullPathName());

        EXPECT_TRUE (file.existsAsFile());
        EXPECT_EQ (file.getSize(), 0);
        EXPECT_TRUE (file.getFileName().startsWith (c.prefix));
        EXPECT_TRUE (std::regex_match (file.getFileName().fromFirstOccurrenceOf (c.prefix, false, false).toStdString(),
                                       std::regex ("[0-9]{8}_[0-9]{6}\\.mid")));
        const juce::File subfolder = file.getParentDirectory();
        EXPECT_EQ (subfolder.getParentDirectory(), temp);
        EXPECT_TRUE (std::regex_match (subfolder.getFileName().toStdString(), std::regex ("-?[0-9]+")));
        folders.insert (subfolder.getFileName());
    }
    EXPECT_EQ (folders.size(), 3u) << "each file gets a folder of its own";
}

TEST (PatternDataManager, ConversionsUseTheBarCountsAndThePatternInformation)
{
    TempFolder folder;
    PatternDataManager manager (folder / "Temp");
    manager.setPatternInfo (patternInfoPayload (1, 2, {74, 0, 0, 0, 0}, 0, {0x4700, 0, 0, 0, 0, 0}));

    PatternRecord pattern = emptyPattern();
    pattern.block.barCount = 2;
    addNote (pattern, 0, 0, 60, 7);
    pattern.block.steps[0] = stepword::withTag (pattern.block.steps[0], 1);
    setStepCcValue (pattern.block, 0, 0, 99);
    addNote (pattern, 20, 3, 62, 3);

    // One bar: the chord at step 0 and its controller, not the note of bar 2.
    manager.renderBarCount = 1;
    const juce::File midi = manager.makeMidiFile();
    ASSERT_EQ (manager.convertPatternToMidiFile (payloadOf (pattern), midi), kMidiFileWritten);
    EXPECT_EQ (parseWrittenFile (bytesOf (midi)), (std::vector<MidiEvent>{
                                                      {0, 0xB0, 74, 99},
                                                      {0, 0x90, 60, 100},
                                                      {0, 0x90, 64, 100},
                                                      {0, 0x90, 67, 100},
                                                      {120, 0x80, 60, 0},
                                                      {120, 0x80, 64, 0},
                                                      {120, 0x80, 67, 0},
                                                  }));

    EXPECT_EQ (manager.renderedBarsOf (midi), 1);
    EXPECT_EQ (manager.renderedBarsOf (folder / "other.mid"), 0);

    PatternRecord older = pattern;
    older.magic[3] = '2';
    EXPECT_EQ (manager.convertPatternToMidiFile (payloadOf (older), manager.makeMidiFile()), kPatternFormatOlder);

    // Two bars into a file, the file back into a pattern of one bar and of two.
    manager.renderBarCount = 2;
    ASSERT_EQ (manager.convertPatternToMidiFile (payloadOf (pattern), midi), kMidiFileWritten);
    EXPECT_EQ (manager.renderedBarsOf (midi), 2); // the latest render of the file counts
    juce::MemoryBlock payload;
    manager.dropBarCount = 1;
    ASSERT_TRUE (manager.convertMidiFileToPattern (midi, payload));
    ASSERT_EQ (payload.getSize(), kPatternPayloadSize);
    PatternRecord oneBar;
    ASSERT_EQ (decodePattern (static_cast<const uint8_t*> (payload.getData()), payload.getSize(), oneBar), kDecodeOk);
    EXPECT_EQ (oneBar.block.barCount, 1);
    EXPECT_EQ (stepNoteMask (oneBar.block, 0), 0b111);
    EXPECT_EQ (stepCcValue (oneBar.block, 0, 0), 99);
    EXPECT_EQ (stepNoteMask (oneBar.block, 20), 0);
    // The same pass counted the note of bar 2 as lost.
    const MidiFitReport oneBarReport = manager.getLastDropReport();
    EXPECT_EQ (describeLosses (oneBarReport), "1 note did not fit: 1 after bar 1.");
    EXPECT_EQ (oneBarReport.notesKept, 3);

    manager.dropBarCount = 2;
    ASSERT_TRUE (manager.convertMidiFileToPattern (midi, payload));
    PatternRecord twoBars;
    ASSERT_EQ (decodePattern (static_cast<const uint8_t*> (payload.getData()), payload.getSize(), twoBars), kDecodeOk);
    EXPECT_EQ (twoBars.block.barCount, 2);
    EXPECT_TRUE (slotStartsAt (twoBars.block, 20, 0, 3));
    EXPECT_TRUE (manager.getLastDropReport().read);
    EXPECT_EQ (describeLosses (manager.getLastDropReport()), "");
    EXPECT_EQ (manager.getLastDropRefusal(), "");

    // Only the last few renders are remembered.
    for (int i = 0; i < 4; ++i)
        manager.convertPatternToMidiFile (payloadOf (pattern), manager.makeMidiFile());
    EXPECT_EQ (manager.renderedBarsOf (midi), 0);

    // No bar count set: nothing to take.
    manager.dropBarCount = 0;
    juce::MemoryBlock untouched ("left alone", 10);
    EXPECT_FALSE (manager.convertMidiFileToPattern (midi, untouched));
    EXPECT_EQ (untouched, juce::MemoryBlock ("left alone", 10));
    EXPECT_FALSE (manager.getLastDropReport().read) << "no report of an earlier drop is left over";
    EXPECT_EQ (manager.getLastDropRefusal(), "drop bar count 0: only 1 to 4 bars can be taken");

    // The next accepted drop clears the refusal.
    manager.dropBarCount = 1;
    ASSERT_TRUE (manager.convertMidiFileToPattern (midi, payload));
    EXPECT_EQ (manager.getLastDropRefusal(), "");
}

TEST (PatternDataManagerConcurrency, GetInstanceCreatesOneManagerForEveryThread)
{
    TempFolder home;
    const ScopedHome scopedHome (home.get());
    const juce::File temporary = infra::UserFolders::applicationData().getChildFile ("MELDRA/KORVA Manager/Temp");
    ASSERT_TRUE (temporary.isAChildOf (home.get())) << temporary.getFullPathName();
    const juce::File leftOver = temporary.getChildFile ("1/old.mid");
    ASSERT_TRUE (leftOver.create().wasOk());

    std::vector<PatternDataManager*> seen (6, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back ([&seen, i] { seen[i] = PatternDataManager::getInstance(); });
    for (auto& t : threads)
        t.join();

    ASSERT_NE (seen[0], nullptr);
    for (PatternDataManager* manager : seen)
        EXPECT_EQ (manager, seen[0]);
    EXPECT_EQ (seen[0]->getTemporaryFolder(), temporary);
    EXPECT_FALSE (leftOver.exists());
    EXPECT_TRUE (seen[0]->isThreadRunning());
    EXPECT_EQ (seen[0]->getThreadName(), "PatternDataManager");

    PatternDataManager::deleteInstance();
    EXPECT_EQ (PatternDataManager::getInstanceWithoutCreating(), nullptr);
}

TEST (PatternDataManagerConcurrency, PageReadsWhileTheSequencerWrites)
{
    TempFolder folder;
    PatternDataManager manager (folder / "Temp");
    std::atomic<bool> done{false};

    // The sequencer's side: one pattern information after another.
    std::thread sequencer (
        [&]
        {
            for (int i = 0; i < 2000; ++i)
            {
                const int v = i % 128;
                manager.setPatternInfo (patternInfoPayload (v, v, {v, v, v, v, v}, v, {v, v, v, v, v, v}));
            }
            done = true;
        });

    // The page's side: the numbers and a consistent set of lanes and chords.
    while (!done)
    {
        const int track = manager.trackNumber;
        EXPECT_GE (track, -1);
        EXPECT_LT (track, 128);
        const PatternInfo info = manager.getPatternInfo();
        for (int cc : info.ccNumbers)
            EXPECT_EQ (cc, info.ccNumbers[0]);
        for (uint16_t chord : info.chordSlots)
            EXPECT_EQ (chord, (uint16_t)info.ccNumbers[0]);
        EXPECT_EQ (info.extra, info.ccNumbers[0]);
        manager.renderBarCount = 4;
    }
    sequencer.join();
    EXPECT_EQ (manager.trackNumber, 1999 % 128);
}

TEST (PatternDataManagerConcurrency, ConversionsOnTwoThreadsTakeTurnsWithTheEngine)
{
    TempFolder folder;
    PatternRecord pattern = emptyPattern();
    pattern.block.barCount = 4;
    for (int step = 0; step < kStepCount; step += 4)
        addNote (pattern, step, 0, 40 + step, 7);
    const juce::MemoryBlock payload = payloadOf (pattern);

    std::vector<MidiEvent> expected;
    for (int step = 0; step < kStepCount; step += 4)
    {
        expected.push_back ({(uint32_t)step * 120, 0x90, (uint8_t)(40 + step), 100});
        expected.push_back ({(uint32_t)step * 120 + 120, 0x80, (uint8_t)(40 + step), 0});
    }

    PatternDataManager manager (folder / "Temp");
    manager.renderBarCount = 4;
    std::vector<std::thread> threads;
    std::vector<int> results (2, -1);
    std::vector<juce::File> files{folder / "a.mid", folder / "b.mid"};
    for (int t = 0; t < 2; ++t)
    {
        threads.emplace_back (
            [&, t]
            {
                for (int i = 0; i < 5; ++i)
                    results[(std::size_t)t] = manager.convertPatternToMidiFile (payload, files[(std::size_t)t]);
            });
    }
    for (auto& thread : threads)
        thread.join();

    for (int t = 0; t < 2; ++t)
    {
        EXPECT_EQ (results[(std::size_t)t], kMidiFileWritten);
        EXPECT_EQ (parseWrittenFile (bytesOf (files[(std::size_t)t])), expected);
    }
}

} // namespace korva
