// The virtual KORVA's device model at the level of whole messages: its
// memory on disk, its demo content, the exchanges of every data type, and
// what it does with messages that make no sense.

#include "core/engine/Engine.h"
#include "core/patterns/PatternRecord.h"
#include "tests/support/TestSupport.h"
#include "tools/korva-sim/DemoContent.h"
#include "tools/korva-sim/DeviceModel.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace korva
{

using namespace korva::sim;
using korva::test::TempFolder;

namespace
{
Message msg (std::uint8_t type, Bytes payload = {})
{
    return {type, std::move (payload)};
}

Bytes renamePayload (int index, const std::string& name)
{
    Bytes payload (35, 0);
    payload[1] = static_cast<std::uint8_t> (index);
    std::copy (name.begin(), name.end(), payload.begin() + 2);
    return payload;
}

Bytes blockAt (const Bytes& image, std::size_t i)
{
    return Bytes (image.begin() + static_cast<std::ptrdiff_t> (i * kBlockSize),
                  image.begin() + static_cast<std::ptrdiff_t> ((i + 1) * kBlockSize));
}

struct VirtualKorvaModel : ::testing::Test
{
    TempFolder temp;
    std::vector<std::string> logLines;
    std::unique_ptr<DeviceModel> model;

    std::string storeFolder() const { return (temp / "store").getFullPathName().toStdString(); }

    DeviceModel& open (int patternCapacity = 4096)
    {
        DeviceModel::Settings settings;
        settings.storeFolder = storeFolder();
        settings.patternCapacity = patternCapacity;
        settings.log = [this] (const std::string& line) { logLines.push_back (line); };
        model = std::make_unique<DeviceModel> (settings);
        std::string error;
        EXPECT_TRUE (model->open (error)) << error;
        return *model;
    }

    // The payload of the answer, or "none".
    Bytes ask (std::uint8_t type, Bytes payload = {})
    {
        const auto reply = model->answer (msg (type, std::move (payload)));
        if (! reply)
            return {0xEE, 0xEE, 0xEE}; // stands for "no answer"; no real answer looks like it
        EXPECT_EQ (reply->type, type);
        return reply->payload;
    }

    bool logged (const std::string& text) const
    {
        for (const auto& line : logLines)
            if (line.find (text) != std::string::npos)
                return true;
        return false;
    }

    // Runs a delete or rename to its end; returns the answers after the first.
    std::vector<Bytes> poll (std::uint8_t type)
    {
        std::vector<Bytes> answers;
        for (int i = 0; i < 20; ++i)
        {
            answers.push_back (ask (type, {0x01}));
            if (answers.back()[0] != 1)
                break;
        }
        return answers;
    }
};

const Bytes kNone = {0xEE, 0xEE, 0xEE};
} // namespace

TEST_F (VirtualKorvaModel, SeedsTheDemoProjectsOnceAndKeepsEveryChange)
{
    open();
    EXPECT_TRUE (logged ("seeded"));
    const auto demo = model->listProjects();
    ASSERT_EQ (demo.size(), 4u);
    EXPECT_EQ (demo[0].name, "Demo Song");
    EXPECT_EQ (demo[3].patterns, 0);

    // The list as the computer reads it: n, records of 36 bytes, then the trailer.
    const auto list = ask (0x00);
    ASSERT_EQ (list.size(), 5u + 36 * 4);
    EXPECT_EQ (list[0], 4);
    EXPECT_EQ (list[1], 0);                                                     // index
    EXPECT_EQ ((list[2] << 8) | list[3], demo[0].patterns);                     // patterns, big-endian
    EXPECT_EQ (std::string (reinterpret_cast<const char*> (&list[4])), "Demo Song"); // NUL-terminated
    int used = 0;
    for (const auto& project : demo)
        used += project.patterns;
    const auto trailer = list.size() - 4;
    EXPECT_EQ (list[trailer], 128 - 4);
    EXPECT_EQ ((list[trailer + 1] << 8) | list[trailer + 2], 4096 - used);
    EXPECT_EQ (list[trailer + 3], 0);

    // Rename with progress: [1, 0], then one poll per quarter.
    EXPECT_EQ (ask (0x02, renamePayload (1, "Tuesday Jam")), (Bytes {1, 0}));
    EXPECT_EQ (poll (0x02), (std::vector<Bytes> {{1, 25}, {1, 50}, {1, 75}, {3}}));
    EXPECT_EQ (ask (0x01, {0, 2}), (Bytes {1, 0}));
    EXPECT_EQ (poll (0x01).back(), Bytes {3});
    ASSERT_TRUE (model->setCurrentProject (3));

    // A new start finds the changes and seeds nothing.
    logLines.clear();
    open();
    EXPECT_FALSE (logged ("seeded"));
    const auto after = model->listProjects();
    ASSERT_EQ (after.size(), 3u);
    EXPECT_EQ (after[1].name, "Tuesday Jam");
    EXPECT_EQ (after[1].patterns, demo[1].patterns);
    EXPECT_EQ (after[2].index, 3);
    EXPECT_EQ (model->getCurrentProject(), 3);
}

TEST_F (VirtualKorvaModel, DemoPatternsAreRealPatternsThatPlay)
{
    open();
    std::vector<Bytes> patterns = {model->getCurrentPattern()};
    for (const auto& project : model->listProjects())
    {
        const auto image = model->projectImage (project.index);
        for (std::size_t i = 1; i < image.size() / kBlockSize; ++i)
            patterns.push_back (blockAt (image, i));
    }
    ASSERT_GE (patterns.size(), 10u);

    const auto info = model->getPatternInfo();
    korva::engine::ChordSlots chordSlots{};
    for (std::size_t i = 0; i < chordSlots.size(); ++i)
        chordSlots[i] = static_cast<std::uint16_t> ((info[8 + 2 * i] << 8) | info[9 + 2 * i]);
    EXPECT_EQ (chordSlots[0], 0x4700);

    bool chords = false, controllers = false, swing = false, loops = false;
    for (const auto& bytes : patterns)
    {
        ASSERT_EQ (bytes.size(), kBlockSize);
        korva::PatternRecord record;
        ASSERT_EQ (korva::decodePattern (bytes.data(), bytes.size(), record), korva::kDecodeOk);
        ASSERT_EQ (std::string (record.magic, 4), "seq3");

        int written = 0;
        for (int step = 0; step < record.block.barCount * korva::kStepsPerBar; ++step)
        {
            const auto word = record.block.steps[step];
            written += __builtin_popcount (korva::stepword::noteMask (word));
            chords = chords || korva::stepword::tag (word) != 0;
            controllers = controllers || korva::stepword::ccMask (word) != 0;
            loops = loops || record.block.stepMotion[step].loopCode != 0;
        }
        swing = swing || record.settings.swing != 0;

        // Played through the device's own sequencer, every pattern makes music.
        korva::engine::engineInit();
        auto rendered = std::make_unique<korva::engine::RenderedSteps>();
        ASSERT_TRUE (korva::engine::renderPattern (record, chordSlots, 4, *rendered));
        korva::engine::engineRelease();
        int played = 0;
        for (int step = 0; step < 4 * korva::kStepsPerBar; ++step)
            played += __builtin_popcount (korva::stepNoteMask (rendered->blockOf (step), step % korva::kStepCount));
        EXPECT_GT (written, 0);
        EXPECT_GT (played, 0);
    }
    EXPECT_TRUE (chords && controllers && swing && loops);
}

TEST_F (VirtualKorvaModel, ProjectsTravelBlockByBlockBothWays)
{
    open();
    const auto image = model->projectImage (0);
    const auto blocks = image.size() / kBlockSize;

    // Import: the header for "start", a block per "next", then status 1.
    EXPECT_EQ (ask (0x03, {0, 0x00}), blockAt (image, 0));
    for (std::size_t i = 1; i < blocks; ++i)
        EXPECT_EQ (ask (0x03, {0, 0x01}), blockAt (image, i));
    EXPECT_EQ (ask (0x03, {0, 0x01}), Bytes {1});
    // Abort after the header: confirmed with status 1.
    EXPECT_EQ (ask (0x03, {2, 0x00}).size(), kBlockSize);
    EXPECT_EQ (ask (0x03, {2, 0x02}), Bytes {1});
    EXPECT_EQ (ask (0x03, {2, 0x01}), Bytes {0}); // that import is over

    // Export: room check, header, blocks, end; stored at the lowest free index.
    const auto fresh = makeDemoProject ("Fresh", 3);
    EXPECT_EQ (ask (0x04, {0, 3}), Bytes {1});
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ (ask (0x05, blockAt (fresh, i)), Bytes {1});
    EXPECT_EQ (ask (0x05, {0x00}), Bytes {1});
    EXPECT_EQ (model->projectImage (4), fresh);

    // An export aborted half-way keeps nothing.
    EXPECT_EQ (ask (0x05, blockAt (fresh, 0)), Bytes {1});
    EXPECT_EQ (ask (0x05, blockAt (fresh, 1)), Bytes {1});
    EXPECT_EQ (ask (0x05, {0x01}), Bytes {1});
    EXPECT_EQ (model->listProjects().size(), 5u);

    // Room is counted in patterns and projects.
    EXPECT_EQ (ask (0x04, {0x04, 0x01}), Bytes {0}); // 1025 patterns: more than a project holds
    open (20);                                       // 14 demo patterns + 3 in use
    EXPECT_EQ (ask (0x04, {0, 3}), Bytes {1});
    EXPECT_EQ (ask (0x04, {0, 4}), Bytes {0});
}

TEST_F (VirtualKorvaModel, PatternsAndTheVersion)
{
    open();
    EXPECT_EQ (ask (0x30).size(), kPatternInfoSize);
    EXPECT_EQ (ask (0x31), model->getCurrentPattern());
    EXPECT_EQ (ask (0x81), (Bytes {1, 2, '3'}));

    const auto pattern = makeDemoPattern (3, 7);
    EXPECT_EQ (ask (0x32, {'3'}), Bytes {1});
    EXPECT_EQ (ask (0x33, pattern), Bytes {1});
    EXPECT_EQ (model->getCurrentPattern(), pattern);
    open();
    EXPECT_EQ (model->getCurrentPattern(), pattern); // kept on disk
}

TEST_F (VirtualKorvaModel, SwitchesChangeTheAnswers)
{
    open();
    const auto fresh = makeDemoProject ("Fresh", 1);
    auto pattern3 = makeDemoPattern (0, 0);
    auto pattern2 = pattern3;
    pattern2[3] = '2';

    struct Case
    {
        const char* name;
        ModelSwitches switches;
        std::uint8_t type;
        Bytes payload;
        Bytes expected;
    };
    ModelSwitches busy, refuse, noRoom, older, newer, oldFirmware;
    busy.busy = refuse.refuse = noRoom.noRoom = oldFirmware.oldFirmware = true;
    older.patternFormat = '2';
    newer.patternFormat = '4';
    const std::vector<Case> cases = {
        {"busy list", busy, 0x00, {}, {2}},
        {"busy delete", busy, 0x01, {0, 0}, {2}},
        {"busy rename", busy, 0x02, renamePayload (0, "x"), {2}},
        {"busy import", busy, 0x03, {0, 0}, {2}},
        {"busy room", busy, 0x04, {0, 1}, {2}},
        {"refused delete", refuse, 0x01, {0, 0}, {0}},
        {"refused rename", refuse, 0x02, renamePayload (0, "x"), {0}},
        {"refused import", refuse, 0x03, {0, 0}, {0}},
        {"refused room", refuse, 0x04, {0, 1}, {0}},
        {"refused export", refuse, 0x05, blockAt (fresh, 0), {0}},
        {"refused pattern check", refuse, 0x32, {'3'}, {0}},
        {"refused pattern", refuse, 0x33, pattern3, {0}},
        {"no room", noRoom, 0x04, {0, 1}, {0}},
        {"no room for an export", noRoom, 0x05, blockAt (fresh, 0), {0}},
        {"device format older", older, 0x32, {'3'}, {2}},
        {"device format newer", newer, 0x32, {'3'}, {3}},
        {"older device takes its own format", older, 0x32, {'2'}, {1}},
        {"older device refuses seq3", older, 0x33, pattern3, {0}},
        {"older device takes seq2", older, 0x33, pattern2, {1}},
        {"old firmware", oldFirmware, 0x81, {}, kNone},
    };
    for (const auto& c : cases)
    {
        model->setSwitches (c.switches);
        EXPECT_EQ (ask (c.type, c.payload), c.expected) << c.name;
    }

    model->setSwitches (noRoom);
    const auto list = ask (0x00);
    EXPECT_EQ (Bytes (list.end() - 4, list.end() - 1), (Bytes {0, 0, 0}));
    model->setSwitches (older);
    EXPECT_EQ (ask (0x31)[3], '2');

    ModelSwitches slow;
    slow.slowJobs = true;
    model->setSwitches (slow);
    ask (0x01, {0, 1});
    EXPECT_EQ (poll (0x01).size(), 10u);
}

TEST_F (VirtualKorvaModel, SpoiledAnswersAreOffByOneOrOutOfRange)
{
    open();
    ModelSwitches switches;
    for (auto garble : {Garble::kShort, Garble::kLong})
    {
        switches.garble = garble;
        model->setSwitches (switches);
        const int delta = garble == Garble::kShort ? -1 : 1;
        EXPECT_EQ ((int) ask (0x30).size(), 20 + delta);
        EXPECT_EQ ((int) ask (0x31).size(), 4096 + delta);
        EXPECT_EQ ((int) ask (0x04, {0, 1}).size(), 1 + delta);
        EXPECT_EQ ((int) model->makePush()->payload.size(), 4096 + delta);
    }

    switches.garble = Garble::kBadValue;
    model->setSwitches (switches);
    const auto list = ask (0x00);
    EXPECT_EQ ((list[2] << 8) | list[3], 0xFFFF); // more patterns than a project holds
    EXPECT_EQ (ask (0x04, {0, 1}), Bytes {9});
    EXPECT_EQ (ask (0x31)[3], '9');
    EXPECT_EQ (ask (0x03, {0, 0})[0], 0x00); // neither a header nor a pattern

    // Only the chosen type is spoiled.
    switches.garbleType = 0x30;
    model->setSwitches (switches);
    EXPECT_EQ (ask (0x04, {0, 1}), Bytes {1});
}

TEST_F (VirtualKorvaModel, OddMessagesAreRefusedAndNothingIsHarmed)
{
    open();
    const auto fresh = makeDemoProject ("Fresh", 2);
    auto header33 = blockAt (fresh, 0);

    struct Case
    {
        const char* name;
        std::uint8_t type;
        Bytes payload;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"list with a payload", 0x00, {1}, {0}},
        {"delete of a missing project", 0x01, {0, 77}, {0}},
        {"delete of index 255", 0x01, {0, 255}, {0}},
        {"delete with a first byte of 1", 0x01, {1, 0}, {0}},
        {"delete too long", 0x01, {0, 0, 0}, {0}},
        {"poll without a delete", 0x01, {1}, {0}},
        {"rename too short", 0x02, {0, 0, 'a', 0}, {0}},
        {"rename to an empty name", 0x02, renamePayload (0, ""), {0}},
        {"rename without a NUL", 0x02, renamePayload (0, std::string (33, 'x')), {0}},
        {"rename to a control character", 0x02, renamePayload (0, "a\tb"), {0}},
        {"import of one byte", 0x03, {0}, {0}},
        {"import command 7", 0x03, {0, 7}, {0}},
        {"next without a start", 0x03, {0, 1}, {0}},
        {"room check of one byte", 0x04, {1}, {0}},
        {"export of 10 bytes", 0x05, Bytes (10, 0x83), {0}},
        {"pattern block without a header", 0x05, blockAt (fresh, 1), {0}},
        {"end without a header", 0x05, {0x00}, {0}},
        {"export end byte 7", 0x05, {0x07}, {0}},
        {"pattern information with a payload", 0x30, {0}, {0}},
        {"pattern with a payload", 0x31, {0}, {0}},
        {"pattern check of two bytes", 0x32, {'3', '3'}, {0}},
        {"pattern of 4095 bytes", 0x33, Bytes (4095, 's'), {0}},
        {"pattern without its magic", 0x33, Bytes (4096, 0), {0}},
        {"a type the device does not know", 0x42, {}, kNone},
        {"a push from the computer", 0x80, Bytes (4096, 0), kNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ (ask (c.type, c.payload), c.expected) << c.name;

    // Exports that do not add up are not stored.
    EXPECT_EQ (ask (0x05, header33), Bytes {1});
    EXPECT_EQ (ask (0x05, {0x00}), Bytes {0}); // two patterns missing
    EXPECT_EQ (ask (0x05, header33), Bytes {1});
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ (ask (0x05, blockAt (fresh, 1)), Bytes {1});
    EXPECT_EQ (ask (0x05, blockAt (fresh, 1)), Bytes {0}); // one too many
    EXPECT_EQ (ask (0x05, {0x00}), Bytes {0});
    EXPECT_EQ (model->listProjects().size(), 4u);

    // Thousands of random messages: every answer has a length its type allows.
    std::mt19937 random (7);
    const std::uint8_t types[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x33, 0x80, 0x81, 0x99};
    for (int i = 0; i < 3000; ++i)
    {
        const auto type = types[random() % std::size (types)];
        const std::size_t sizes[] = {0, 1, 2, 3, 35, 4095, 4096, 4097};
        Bytes payload (sizes[random() % std::size (sizes)]);
        for (auto& byte : payload)
            byte = static_cast<std::uint8_t> (random() % 4 == 0 ? random() : random() % 3);
        if (payload.size() >= 3 && random() % 2 == 0)
        {
            const bool header = random() % 2 == 0;
            payload[0] = header ? 0x83 : 's';
            payload[1] = header ? 0x49 : 'e';
            payload[2] = header ? payload[2] : 'q';
        }
        const auto reply = model->answer (msg (type, payload));
        if (! reply)
            continue;
        const auto size = reply->payload.size();
        switch (type)
        {
            case 0x00: EXPECT_TRUE (size == 1 || (size - 5) % 36 == 0); break;
            case 0x01:
            case 0x02: EXPECT_TRUE (size == 1 || size == 2); break;
            case 0x03: EXPECT_TRUE (size == 1 || size == kBlockSize); break;
            case 0x30: EXPECT_TRUE (size == 1 || size == 20); break;
            case 0x31: EXPECT_TRUE (size == 1 || size == kBlockSize); break;
            case 0x81: EXPECT_EQ (size, 3u); break;
            default: EXPECT_EQ (size, 1u); break;
        }
    }

    // Whatever the random messages did, the store is whole.
    open();
    EXPECT_FALSE (logged ("skipping"));
    for (const auto& project : model->listProjects())
        EXPECT_EQ (model->projectImage (project.index).size(), kBlockSize * (project.patterns + 1u));
}

TEST_F (VirtualKorvaModel, FilesThatAreNotProjectsAreSkipped)
{
    open();
    const auto folder = storeFolder();
    const auto write = [] (const std::string& path, const Bytes& bytes)
    { std::ofstream (path, std::ios::binary).write (reinterpret_cast<const char*> (bytes.data()), (long) bytes.size()); };

    auto lying = makeDemoProject ("Liar", 2);
    lying.resize (2 * kBlockSize); // announces 2 patterns, holds 1
    write (folder + "/projects/010.prj", lying);
    write (folder + "/projects/011.prj", Bytes (100, 0x83));
    write (folder + "/projects/012.prj", Bytes (kBlockSize, 0));
    write (folder + "/projects/200.prj", makeDemoProject ("Out of range", 0));
    write (folder + "/pattern.bin", Bytes (7, 1));

    logLines.clear();
    open();
    EXPECT_EQ (model->listProjects().size(), 4u);
    EXPECT_TRUE (logged ("010.prj: its header announces 2 patterns, it holds 1"));
    EXPECT_TRUE (logged ("011.prj"));
    EXPECT_TRUE (logged ("012.prj"));
    EXPECT_EQ (model->getCurrentPattern().size(), kBlockSize); // the demo pattern stands in
}

} // namespace korva
