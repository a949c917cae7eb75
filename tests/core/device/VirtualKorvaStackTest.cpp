// The whole device link against the virtual KORVA's device model: the
// request sequencer on the real transport, the HID access layer and the
// device's socket, the device keeping its projects in a store of the test's
// own. Nothing here stands in for a part of the program.

#include "core/device/HidDeviceManager.h"
#include "core/device/HidSequenceManager.h"
#include "core/patterns/PatternRecord.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "tests/core/device/SequencerStack.h"
#include "tests/core/device/VirtualDeviceFixture.h"
#include "tests/support/MessageLevelKorva.h"
#include "tests/support/TestSupport.h"
#include "tools/korva-sim/DemoContent.h"
#include "tools/korva-sim/DeviceModel.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;

namespace korva
{

using namespace korva::test;
using korva::sim::Bytes;
using korva::sim::Garble;
using korva::sim::ModelSwitches;

namespace
{
juce::MemoryBlock block (const Bytes& bytes)
{
    return juce::MemoryBlock (bytes.data(), bytes.size());
}

Bytes bytesOfFile (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    const auto* p = static_cast<const std::uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

// The program's pattern conversions, reduced to what the device link needs:
// a pattern arrives as its bytes (checked by the pattern record's decoder),
// and a "MIDI file" holds the pattern bytes to send.
class PatternBytes final : public HidSequenceManager::PatternConversions
{
public:
    explicit PatternBytes (juce::File folder) : m_folder (std::move (folder)) { m_folder.createDirectory(); }

    void setPatternInfo (const juce::MemoryBlock& payload) override
    {
        const std::lock_guard<std::mutex> lock (m_mutex);
        m_info = payload;
    }
    juce::MemoryBlock info() const
    {
        const std::lock_guard<std::mutex> lock (m_mutex);
        return m_info;
    }
    juce::File makeMidiFile() override { return m_folder.getNonexistentChildFile ("TRK", ".mid", false); }
    PatternToMidiResult convertPatternToMidiFile (const juce::MemoryBlock& payload, const juce::File& file) override
    {
        korva::PatternRecord record;
        switch (korva::decodePattern (static_cast<const std::uint8_t*> (payload.getData()), payload.getSize(), record))
        {
            case korva::kDecodeDeviceDataOld: return kPatternFormatOlder;
            case korva::kDecodeAppDataOld: return kPatternFormatNewer;
            case korva::kDecodeTooShort: return kRenderNotFinished;
            case korva::kDecodeOk: break;
        }
        return file.replaceWithData (payload.getData(), payload.getSize()) ? kMidiFileWritten : kMidiFileNotWritten;
    }
    bool convertMidiFileToPattern (const juce::File& file, juce::MemoryBlock& payload) override
    {
        return file.loadFileAsData (payload) && payload.getSize() == 4096;
    }

private:
    const juce::File m_folder;
    mutable std::mutex m_mutex;
    juce::MemoryBlock m_info;
};
} // namespace

struct VirtualKorvaStackConcurrency : VirtualDeviceFixture, SequencerStack
{
    PatternBytes patterns { temp / "midi" };
    std::unique_ptr<korva::sim::DeviceModel> model;
    std::unique_ptr<korva::sim::VirtualKorva> device;

    juce::File dataFolder() const { return temp / "data"; }
    juce::File storeFolder() const { return temp / "store"; }

    void SetUp() override
    {
        prepare();
        openModel();
        plugIn();
        startStack();
    }

    void TearDown() override
    {
        stopStack();
        device.reset();
    }

    void prepare() { useDataFolder (dataFolder()); }

    void openModel()
    {
        korva::sim::DeviceModel::Settings settings;
        settings.storeFolder = storeFolder().getFullPathName().toStdString();
        if (std::getenv ("KORVA_TEST_VERBOSE") != nullptr)
            settings.log = [] (const std::string& text) { std::fprintf (stderr, "[model] %s\n", text.c_str()); };
        model = std::make_unique<korva::sim::DeviceModel> (settings);
        std::string error;
        ASSERT_TRUE (model->open (error)) << error;
    }

    void plugIn()
    {
        auto options = deviceOptions ("korva.sock");
        options.timing.responseDelayMs = 0; // a device as quick as it gets
        device = std::make_unique<korva::sim::VirtualKorva> (options);
        device->setDefaultHandler ([this] (const korva::sim::Message& request) { return model->answer (request); });
        std::string error;
        ASSERT_TRUE (device->start (error)) << error;
    }

    void startStack()
    {
        createRegistry();
        ASSERT_TRUE (startSequencer (&patterns));
    }

    // Nothing in progress and nothing waiting: the exchange is over.
    bool waitUntilIdle()
    {
        return runMessageLoopUntil ([&] { return sequencer->getRequestor().isIdle(); });
    }

    // The messages of one type the device received, oldest first.
    std::vector<Bytes> received (std::uint8_t type) const
    {
        std::vector<Bytes> payloads;
        for (const auto& message : device->getRequests())
            if (message.type == type)
                payloads.push_back (message.payload);
        return payloads;
    }

    juce::Array<juce::File> savedProjects() const
    {
        return dataFolder().findChildFiles (juce::File::findFiles, false, "*.prj");
    }

    juce::File writeFile (const juce::String& name, const Bytes& bytes)
    {
        const auto file = temp / name;
        file.replaceWithData (bytes.data(), bytes.size());
        return file;
    }
};

TEST_F (VirtualKorvaStackConcurrency, ImportAndExportCarryAWholeProjectUnchanged)
{
    const auto onDevice = model->projectImage (0);
    const int patternCount = (int) (onDevice.size() / 4096) - 1;
    ASSERT_GT (patternCount, 3);

    ProjectDataManager::getInstance()->setProjectName ("Demo Song");
    sequencer->requestImportProjectData (0);
    ASSERT_TRUE (waitFor ("import 1000"));
    EXPECT_TRUE (listener.has ("importStarted"));
    EXPECT_TRUE (sequencer->isRequestFinished());

    // One file, named by the rule, holding the device's blocks unchanged.
    const auto files = savedProjects();
    ASSERT_EQ (files.size(), 1);
    EXPECT_TRUE (std::regex_match (files[0].getFileName().toStdString(),
                                   std::regex ("Demo Song_20[0-9]{6}_[0-9]{6}\\.prj")))
        << files[0].getFileName();
    EXPECT_EQ (bytesOfFile (files[0]), onDevice);
    // The start, then "next" for the header and for every pattern block.
    EXPECT_EQ (received (0x03).size(), (size_t) patternCount + 2);

    // Back into the device: it stores the same bytes in its first free place.
    const int before = (int) model->listProjects().size();
    sequencer->requestQueryExportableProject (files[0], patternCount);
    ASSERT_TRUE (waitFor ("export 1000"));
    EXPECT_TRUE (listener.has ("exportStarted"));
    EXPECT_FALSE (listener.has ("queryExport 1000")); // only refusals are reported
    EXPECT_EQ (received (0x05).size(), (size_t) patternCount + 2); // header, blocks, end
    const auto projects = model->listProjects();
    ASSERT_EQ ((int) projects.size(), before + 1);
    EXPECT_EQ (model->projectImage (projects.back().index), onDevice);

    // And the list shows it, with the capacities the device reports.
    sequencer->requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1000 1"));
    auto* list = KorvaProjectList::getInstance();
    ASSERT_EQ (list->getNumRows(), before + 1);
    int used = 0;
    for (const auto& project : projects)
        used += project.patterns;
    EXPECT_EQ (ProjectDataManager::getInstance()->remainingProjectCapacity.load(), 128 - before - 1);
    EXPECT_EQ (ProjectDataManager::getInstance()->remainingPatternCapacity.load(), 4096 - used);
    EXPECT_EQ (ProjectDataManager::getInstance()->currentProjectIndex.load(), model->getCurrentProject());

    // A project without patterns: one block each way, and the export is its header and the end.
    listener.clear();
    ProjectDataManager::getInstance()->setProjectName ("Empty Sketch");
    sequencer->requestImportProjectData (3);
    ASSERT_TRUE (waitFor ("import 1000"));
    const auto empty = dataFolder().findChildFiles (juce::File::findFiles, false, "Empty Sketch_*.prj");
    ASSERT_EQ (empty.size(), 1);
    EXPECT_EQ (bytesOfFile (empty[0]), model->projectImage (3));
    const auto exportsBefore = received (0x05).size();
    sequencer->requestQueryExportableProject (empty[0], 0);
    ASSERT_TRUE (waitFor ("export 1000"));
    EXPECT_EQ (received (0x05).size() - exportsBefore, 2u);
    EXPECT_EQ (model->listProjects().back().name, "Empty Sketch");
}

TEST_F (VirtualKorvaStackConcurrency, CancelEndsAnImportOrAnExportWithNothingKept)
{
    const auto project = korva::sim::makeDemoProject ("Long Set", 16);
    ASSERT_TRUE (model->putProject (9, project));
    const auto projectsBefore = model->listProjects().size();

    // Import: cancelled once a few blocks have come; the next block is answered with the abort.
    sequencer->requestImportProjectData (9);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return received (0x03).size() >= 3; }));
    sequencer->requestCancel();
    ASSERT_TRUE (waitFor ("import 1000"));
    EXPECT_EQ (received (0x03).back(), (Bytes { 9, 0x02 }));
    EXPECT_LT (received (0x03).size(), 16u);
    EXPECT_TRUE (savedProjects().isEmpty());
    EXPECT_TRUE (sequencer->isRequestFinished());
    ASSERT_TRUE (waitUntilIdle());

    // Export: the same, ending with the export's abort byte; the device keeps nothing.
    const auto file = writeFile ("Long Set.prj", project);
    sequencer->requestQueryExportableProject (file, 16);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return received (0x05).size() >= 3; }));
    sequencer->requestCancel();
    ASSERT_TRUE (waitFor ("export 1000"));
    EXPECT_EQ (received (0x05).back(), (Bytes { 0x01 }));
    EXPECT_LT (received (0x05).size(), 17u);
    EXPECT_EQ (model->listProjects().size(), projectsBefore);

    // Nothing is left half-way: the next import runs whole.
    listener.clear();
    sequencer->requestImportProjectData (1);
    EXPECT_TRUE (waitFor ("import 1000"));
    EXPECT_EQ (savedProjects().size(), 1);
}

TEST_F (VirtualKorvaStackConcurrency, DeleteAndRenameFollowTheDevicesProgress)
{
    sequencer->requestRenameProject (1, "Tuesday Jam");
    ASSERT_TRUE (waitFor ("rename 1000"));
    EXPECT_TRUE (listener.has ("renameStarted"));
    EXPECT_EQ (model->listProjects()[1].name, "Tuesday Jam");
    EXPECT_DOUBLE_EQ (sequencer->getRequestProgress(), 0.75); // 0, 25, 50, 75, then done
    EXPECT_EQ (received (0x02).size(), 1u + 4u);                   // the request and four polls

    // The longest name there is: 32 characters, its NUL the last byte of the message.
    const std::string longest (32, 'N');
    listener.clear();
    sequencer->requestRenameProject (1, longest);
    ASSERT_TRUE (waitFor ("rename 1000"));
    EXPECT_EQ (received (0x02)[5].back(), 0);
    EXPECT_EQ (model->listProjects()[1].name, longest);
    sequencer->requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1000 1"));
    EXPECT_TRUE (ProjectDataManager::isProjectNameOnDevice (longest));

    sequencer->requestDeleteProject (3);
    ASSERT_TRUE (waitFor ("delete 1000"));
    EXPECT_TRUE (listener.has ("deleteStarted"));
    EXPECT_TRUE (model->projectImage (3).empty());

    // A slow device: ten polls, the progress moving in steps of a tenth.
    ModelSwitches slow;
    slow.slowJobs = true;
    model->setSwitches (slow);
    listener.clear();
    sequencer->requestDeleteProject (2);
    ASSERT_TRUE (waitFor ("delete 1000"));
    EXPECT_EQ (received (0x01).size(), 5u + 11u);
    EXPECT_NEAR (sequencer->getRequestProgress(), 0.9, 1e-9);

    // A project that is not there: the device says the operation failed.
    listener.clear();
    sequencer->requestDeleteProject (3);
    EXPECT_TRUE (waitFor ("delete 1003"));
}

TEST_F (VirtualKorvaStackConcurrency, PatternInformationAndPatternsBothWays)
{
    sequencer->requestGetPatternInfo();
    ASSERT_TRUE (waitFor ("patternInfo 1000"));
    const auto info = model->getPatternInfo();
    EXPECT_EQ (patterns.info(), block (Bytes (info.begin(), info.end())));

    sequencer->requestImportPatternData();
    ASSERT_TRUE (waitFor ("importPattern 1000"));
    EXPECT_EQ (bytesOfFile (listener.lastMidiFile), model->getCurrentPattern());

    // A pattern sent by the program becomes the device's current pattern.
    const auto pattern = korva::sim::makeDemoPattern (3, 5);
    ASSERT_NE (pattern, model->getCurrentPattern());
    sequencer->requestQueryExportablePattern (writeFile ("drop.mid", pattern));
    ASSERT_TRUE (waitFor ("exportPattern 1000"));
    EXPECT_EQ (model->getCurrentPattern(), pattern);
    EXPECT_EQ (received (0x32).back(), (Bytes { '3' }));

    // Devices of another pattern format: older gives 2006, newer 2007, both ways.
    for (const auto& [digit, code] : { std::pair ('2', 2006), std::pair ('4', 2007) })
    {
        ModelSwitches format;
        format.patternFormat = digit;
        model->setSwitches (format);
        listener.clear();
        sequencer->requestImportPatternData();
        EXPECT_TRUE (waitFor ("importPattern " + std::to_string (code))) << digit;
        sequencer->requestQueryExportablePattern (temp / "drop.mid");
        EXPECT_TRUE (waitFor ("queryExportPattern " + std::to_string (code))) << digit;
    }
    EXPECT_EQ (model->getCurrentPattern(), pattern);
}

TEST_F (VirtualKorvaStackConcurrency, SilentFirmwareGets2004AndAFailedSendDoesNot)
{
    // A device that answers: released at once, nothing reported.
    sequencer->requestGetVersionInfo();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return received (0x81).size() == 1; }));
    ASSERT_TRUE (waitUntilIdle());
    EXPECT_FALSE (sequencer->isTimerRunning (HidSequenceManager::kVersionTimer));

    constexpr int kVersionTimeoutMs = 200;
    sequencer->setVersionTimeout (kVersionTimeoutMs);
    ModelSwitches oldFirmware;
    oldFirmware.oldFirmware = true;
    model->setSwitches (oldFirmware);
    sequencer->requestGetVersionInfo();
    ASSERT_TRUE (waitFor ("version 2004"));
    EXPECT_EQ (listener.count ("version 2004"), 1);
    ASSERT_TRUE (waitUntilIdle());

    // The probe's only packet is refused: a send error, and no 2004 afterwards.
    listener.clear();
    korva::sim::Faults refusePacket;
    refusePacket.rejectPacket = 1;
    device->setFaults (refusePacket);
    sequencer->requestGetVersionInfo();
    ASSERT_TRUE (waitFor ("sendError 129 5"));
    EXPECT_FALSE (sequencer->isTimerRunning (HidSequenceManager::kVersionTimer));
    runMessageLoopFor (kVersionTimeoutMs + 300);
    EXPECT_FALSE (listener.has ("version 2004"));
}

TEST_F (VirtualKorvaStackConcurrency, UnpluggingDuringAnImportEndsTheRequest)
{
    ASSERT_TRUE (model->putProject (9, korva::sim::makeDemoProject ("Long Set", 16)));
    sequencer->requestImportProjectData (9);
    ASSERT_TRUE (waitFor ("importStarted"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return received (0x03).size() >= 3; }));

    device->stop();
    ASSERT_TRUE (waitFor ("connectionChanged"));
    EXPECT_FALSE (sequencer->isConnected());
    EXPECT_TRUE (sequencer->isRequestFinished());
    EXPECT_EQ (sequencer->getRequestor().getInFlightType(), HidSequenceRequestor::kNone);
    EXPECT_FALSE (sequencer->isTimerRunning (HidSequenceManager::kImportProgressTimer));
    EXPECT_FALSE (sequencer->isTimerRunning (HidSequenceManager::kReplyTimer));
    EXPECT_TRUE (savedProjects().isEmpty());

    // Plugged in again, the device starts afresh and the program with it.
    listener.clear();
    device.reset();
    plugIn();
    ASSERT_TRUE (waitFor ("connectionChanged", 3000));
    sequencer->requestImportProjectData (9);
    ASSERT_TRUE (waitFor ("import 1000"));
    ASSERT_EQ (savedProjects().size(), 1);
    EXPECT_EQ (bytesOfFile (savedProjects()[0]), model->projectImage (9));
}

// Every switch of the device and every kind of spoiled answer ends its
// request with a result code, and the link goes on working.
TEST_F (VirtualKorvaStackConcurrency, SwitchesAndSpoiledAnswersEndEveryRequestWithACode)
{
    const auto prj = writeFile ("Out.prj", korva::sim::makeDemoProject ("Out", 1));
    const auto mid = writeFile ("drop.mid", korva::sim::makeDemoPattern (0, 1));

    using Request = std::function<void()>;
    const Request list = [&] { sequencer->requestGetProjectInfo(); };
    const Request remove = [&] { sequencer->requestDeleteProject (2); };
    const Request rename = [&] { sequencer->requestRenameProject (1, "Spoiled"); };
    const Request import = [&] { sequencer->requestImportProjectData (0); };
    const Request exportProject = [&] { sequencer->requestQueryExportableProject (prj, 1); };
    const Request patternInfo = [&] { sequencer->requestGetPatternInfo(); };
    const Request importPattern = [&] { sequencer->requestImportPatternData(); };
    const Request exportPattern = [&] { sequencer->requestQueryExportablePattern (mid); };
    const Request push = [&] { device->sendMessage (*model->makePush()); };

    const auto switches = [] (const std::function<void (ModelSwitches&)>& set) {
        ModelSwitches s;
        set (s);
        return s;
    };
    const auto busy = switches ([] (ModelSwitches& s) { s.busy = true; });
    const auto refuse = switches ([] (ModelSwitches& s) { s.refuse = true; });
    const auto noRoom = switches ([] (ModelSwitches& s) { s.noRoom = true; });
    const auto garble = [&] (Garble g, int type = -1) {
        return switches ([=] (ModelSwitches& s) {
            s.garble = g;
            s.garbleType = type;
        });
    };

    struct Case
    {
        const char* name;
        ModelSwitches switches;
        Request request;
        std::string outcome;
        std::string then = {}; // what follows the abort of an import
    };
    const std::vector<Case> cases {
        { "busy list", busy, list, "projectInfo 2005 0" },
        { "busy delete", busy, remove, "delete 2005" },
        { "busy rename", busy, rename, "rename 2005" },
        { "busy import", busy, import, "import 2005" },
        { "busy room check", busy, exportProject, "queryExport 2005" },
        { "refused delete", refuse, remove, "delete 1003" },
        { "refused rename", refuse, rename, "rename 1003" },
        { "refused import", refuse, import, "import 1003" },
        { "refused room check", refuse, exportProject, "queryExport 2001" },
        { "refused pattern check", refuse, exportPattern, "queryExportPattern 1002" },
        { "no room", noRoom, exportProject, "queryExport 2001" },
        { "pushed project", {}, push, "received 1000" },

        { "short list", garble (Garble::kShort), list, "projectInfo 1001 0" },
        { "short header block", garble (Garble::kShort), import, "import 1001", "receiveError 3 7" },
        { "short pattern information", garble (Garble::kShort), patternInfo, "patternInfo 1001" },
        { "short pattern", garble (Garble::kShort), importPattern, "importPattern 1001" },
        { "short push", garble (Garble::kShort), push, "received 1001" },
        // A status one byte short is an empty message, which the transport refuses at its start.
        { "empty rename status", garble (Garble::kShort), rename, "receiveError 2 7" },
        { "empty room status", garble (Garble::kShort), exportProject, "receiveError 4 7" },
        { "empty export status", garble (Garble::kShort, 0x05), exportProject, "receiveError 5 7" },
        { "empty pattern check", garble (Garble::kShort), exportPattern, "receiveError 50 7" },
        { "empty pattern status", garble (Garble::kShort, 0x33), exportPattern, "receiveError 51 7" },

        { "long list", garble (Garble::kLong), list, "projectInfo 1001 0" },
        { "long delete status", garble (Garble::kLong), remove, "delete 1001" },
        { "long header block", garble (Garble::kLong), import, "import 1001" },
        { "long room status", garble (Garble::kLong), exportProject, "queryExport 1001" },
        { "long export status", garble (Garble::kLong, 0x05), exportProject, "export 1001" },
        { "long pattern information", garble (Garble::kLong), patternInfo, "patternInfo 1001" },
        { "long pattern", garble (Garble::kLong), importPattern, "importPattern 1001" },
        { "long pattern check", garble (Garble::kLong), exportPattern, "queryExportPattern 1001" },
        { "long push", garble (Garble::kLong), push, "received 1001" },

        { "list with 65535 patterns", garble (Garble::kBadValue), list, "projectInfo 1002 0" },
        { "rename status 9", garble (Garble::kBadValue), rename, "rename 1002" },
        { "block of neither kind", garble (Garble::kBadValue), import, "import 1002" },
        { "room status 9", garble (Garble::kBadValue), exportProject, "queryExport 1002" },
        { "export status 9", garble (Garble::kBadValue, 0x05), exportProject, "export 1002" },
        { "pattern information of 0xFF", garble (Garble::kBadValue), patternInfo, "patternInfo 1000" },
        { "pattern of format 9", garble (Garble::kBadValue), importPattern, "importPattern 2007" },
        { "pattern check status 9", garble (Garble::kBadValue), exportPattern, "queryExportPattern 1002" },
        { "pattern status 9", garble (Garble::kBadValue, 0x33), exportPattern, "exportPattern 1002" },
    };

    for (const auto& c : cases)
    {
        listener.clear();
        model->setSwitches (c.switches);
        c.request();
        EXPECT_TRUE (waitFor (c.outcome)) << c.name << ": expected " << c.outcome;
        if (! c.then.empty())
        {
            EXPECT_TRUE (waitFor (c.then)) << c.name << ": expected " << c.then;
        }
        EXPECT_TRUE (waitUntilIdle()) << c.name;
        // Spoiled answers are the sequencer's to judge; the transport fails only on empty ones.
        for (const auto& event : listener.events())
        {
            if (event != c.outcome && event != c.then)
            {
                EXPECT_EQ (event.find ("Error"), std::string::npos) << c.name << ": " << event;
            }
        }
    }

    // The device behaving again, everything works as before.
    model->setSwitches ({});
    listener.clear();
    sequencer->requestGetProjectInfo();
    EXPECT_TRUE (waitFor ("projectInfo 1000 1"));
    sequencer->requestImportProjectData (0);
    EXPECT_TRUE (waitFor ("import 1000"));
}

//==============================================================================
// korva-sim as the program a user runs: its store outlives it, and SIGUSR1
// makes it push a project.
struct VirtualKorvaProgramConcurrency : VirtualKorvaStackConcurrency
{
    pid_t pid = 0;

    void SetUp() override { prepare(); }
    void TearDown() override
    {
        stopProgram();
        VirtualKorvaStackConcurrency::TearDown();
    }

    void startProgram (const std::vector<std::string>& switches = { "--response-delay", "5" })
    {
        const std::string program = KORVA_SIM_EXECUTABLE;
        std::vector<std::string> arguments = { program, "--dir",   folder, "--name",
                                               "sim.sock", "--store", storeFolder().getFullPathName().toStdString(),
                                               "--quiet" };
        arguments.insert (arguments.end(), switches.begin(), switches.end());
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back (const_cast<char*> (argument.c_str()));
        argv.push_back (nullptr);
        ASSERT_EQ (::posix_spawn (&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    }

    void stopProgram()
    {
        if (pid <= 0)
            return;
        ::kill (pid, SIGTERM);
        int status = 0;
        ::waitpid (pid, &status, 0);
        EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
        pid = 0;
    }
};

TEST_F (VirtualKorvaProgramConcurrency, KeepsItsProjectsAcrossRunsAndPushesOnSigusr1)
{
    startProgram();
    startStack();
    auto* list = KorvaProjectList::getInstance();

    sequencer->requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1000 1"));
    ASSERT_EQ (list->getNumRows(), 4); // the demo projects
    EXPECT_TRUE (ProjectDataManager::isProjectNameOnDevice ("Demo Song"));

    ::kill (pid, SIGUSR1);
    ASSERT_TRUE (waitFor ("received 1000"));
    ASSERT_EQ (savedProjects().size(), 1);
    const auto pushed = bytesOfFile (savedProjects()[0]);
    ASSERT_EQ (pushed.size(), 4096u);
    EXPECT_EQ (ProjectDataManager::readProjectName (block (pushed)), "Demo Song"); // the project in use

    sequencer->requestRenameProject (2, "Kept");
    ASSERT_TRUE (waitFor ("rename 1000"));

    // Unplugged and started again on the same store.
    listener.clear();
    stopProgram();
    ASSERT_TRUE (waitFor ("connectionChanged"));
    listener.clear();
    startProgram();
    ASSERT_TRUE (waitFor ("connectionChanged", 3000));
    list->clear();
    sequencer->requestGetProjectInfo();
    ASSERT_TRUE (waitFor ("projectInfo 1000 1"));
    EXPECT_EQ (list->getNumRows(), 4);
    EXPECT_TRUE (ProjectDataManager::isProjectNameOnDevice ("Kept"));
}

// korva-sim killed in the middle of an import leaves its socket behind, and
// nothing unplugs it: the dead link alone tells that the device has gone. It
// counts as unplugged at once, not after the transfer's waits and the reply
// watch; started again under the same name, the device is connected as after
// a plug-in, and the same import gives the whole project.
TEST_F (VirtualKorvaProgramConcurrency, AKilledDeviceCountsAsUnpluggedAtOnceAndTheNextOneIsServed)
{
    startProgram ({ "--slow", "200" });
    startStack();
    sequencer->requestImportProjectData (1);
    ASSERT_TRUE (waitFor ("importStarted"));

    ::kill (pid, SIGKILL);
    ::waitpid (pid, nullptr, 0);
    pid = 0;
    // Left alone, the receive would wait five seconds and the request its 15.
    ASSERT_TRUE (waitFor ("connectionChanged", 3000));
    EXPECT_FALSE (sequencer->isConnected());
    EXPECT_TRUE (juce::File (folder + "/sim.sock").exists()) << "a killed device leaves its socket";
    EXPECT_TRUE (savedProjects().isEmpty());

    listener.clear();
    startProgram();
    ASSERT_TRUE (waitFor ("connectionChanged", 3000));
    EXPECT_TRUE (sequencer->isConnected());
    sequencer->requestImportProjectData (1);
    ASSERT_TRUE (waitFor ("import 1000"));
    ASSERT_EQ (savedProjects().size(), 1);
    stopProgram();
    openModel();
    EXPECT_EQ (bytesOfFile (savedProjects()[0]), model->projectImage (1));
}

// The device's user pushes a project while the program imports another: the
// push is saved on its own, and the import goes on to its end undisturbed.
TEST_F (VirtualKorvaStackConcurrency, APushDuringAnImportLeavesTheImportWhole)
{
    const auto project = korva::sim::makeDemoProject ("Long Set", 16);
    ASSERT_TRUE (model->putProject (9, project));
    ProjectDataManager::getInstance()->setProjectName ("Long Set");
    sequencer->requestImportProjectData (9);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return received (0x03).size() >= 3; }));
    device->sendMessage (*model->makePush());

    ASSERT_TRUE (waitFor ("received 1000"));
    ASSERT_TRUE (waitFor ("import 1000"));
    ASSERT_TRUE (waitUntilIdle());
    EXPECT_FALSE (sequencer->isTimerRunning (HidSequenceManager::kImportProgressTimer));
    EXPECT_TRUE (sequencer->isRequestFinished());

    auto files = savedProjects();
    ASSERT_EQ (files.size(), 2);
    if (files[0].getSize() > files[1].getSize())
        files.swap (0, 1);
    const auto inUse = model->projectImage (model->getCurrentProject());
    EXPECT_EQ (bytesOfFile (files[0]), Bytes (inUse.begin(), inUse.begin() + 4096));
    EXPECT_EQ (bytesOfFile (files[1]), project);
}

// A slow device is waited for as long as it keeps answering; an answer that
// comes after its request timed out is ignored, and the request then in
// progress goes on.
TEST_F (VirtualKorvaStackConcurrency, ASlowDeviceIsWaitedForAndALateAnswerIsIgnored)
{
    sequencer->setReplyTimeout (400);
    device->setResponseDelay (150);
    sequencer->requestDeleteProject (3); // five answers: longer in all than the time-out
    ASSERT_TRUE (waitFor ("delete 1000"));
    EXPECT_TRUE (model->projectImage (3).empty());

    device->setResponseDelay (1000);
    sequencer->requestRenameProject (1, "Late");
    ASSERT_TRUE (waitFor ("receiveError 2 9")); // gave up after 400 ms
    sequencer->setReplyTimeout (5000);
    device->setResponseDelay (5);
    sequencer->requestGetProjectInfo(); // in progress when the late answer comes, answered after it
    ASSERT_TRUE (waitFor ("projectInfo 1000 1"));
    ASSERT_TRUE (waitUntilIdle());

    EXPECT_EQ (received (0x02).size(), 1u); // no poll for the late status
    EXPECT_FALSE (listener.has ("rename 1000"));
    EXPECT_EQ (listener.count ("receiveError 2 9"), 1);
    EXPECT_EQ (listener.count ("receiveError 0 9"), 0);
}

} // namespace korva
