// The KORVA's answers as the request sequencing receives them. One
// long-lived sequencer with its project and pattern sides; each input puts a
// request in flight, then delivers the transport's events one by one (the
// KORVA's answers above all), waiting after each until the sequencer's thread
// has dealt with it, and finally disconnects and reconnects, which leaves
// nothing in flight for the next input.
//
// Input: the request (1 byte, and 1 byte of argument where it takes one),
// then events, each a kind byte:
//   bits 0-2: 0-4 an answer, 5 the end of a send with the result in the
//             next byte, 6 a failed receive, 7 the user's cancel;
//   bit 7:    the answer's data type follows (else: the request's own type).
// An answer then has a length (2 bytes, big-endian) and its payload; a length
// with bit 15 set makes a 4096-byte block of the (length & 0xFFF) bytes that
// follow, zero-padded, the size of every project and pattern block.

#include "core/conversion/PatternDataManager.h"
#include "core/device/HidSequenceManager.h"
#include "core/patterns/PatternRecord.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "fuzz/FuzzSupport.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace juce
{
// The message loop's hook before it sleeps (cmake/juce-idle.patch).
extern bool (*korvaBeforeMessageLoopSleeps)();
} // namespace juce

namespace
{
using namespace korva;
using Manager = HidSequenceManager;

constexpr int kMaxEvents = 48;
constexpr int kDeadlineMs = 10000;
constexpr std::size_t kBlockSize = 4096;

// Takes every message; the fuzzer decides what the KORVA answers.
class SilentTransport final : public Manager::Transport
{
public:
    bool sendRequest (juce::uint8, const juce::MemoryBlock&) override
    {
        ++sent;
        return true;
    }
    double getSendProgress() override { return 0.5; }
    double getRecvProgress() override { return 0.5; }

    std::atomic<int> sent{0};
};

// Runs the message loop until the condition holds; a sequencer that does not
// get there in kDeadlineMs is stuck, which is a fault. The loop never sleeps
// while it waits (each pass dispatches what is pending and returns), so an
// exchange takes microseconds instead of the millisecond a sleep would cost.
template <typename Condition>
void runUntil (Condition condition)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32)kDeadlineMs;
    auto* messages = juce::MessageManager::getInstance();
    juce::korvaBeforeMessageLoopSleeps = [] { return true; };
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            std::abort();
        messages->runDispatchLoopUntil (0);
        std::this_thread::yield();
    }
    juce::korvaBeforeMessageLoopSleeps = nullptr;
}

// The sequencer's thread has run every task handed to it so far, and the
// message thread every message posted meanwhile.
void catchUp (Manager& manager)
{
    auto done = std::make_shared<std::atomic<bool>> (false);
    infra::hop (manager, [done] { *done = true; });
    runUntil ([&] { return done->load(); });
    auto delivered = std::make_shared<std::atomic<bool>> (false);
    juce::MessageManager::callAsync ([delivered] { *delivered = true; });
    runUntil ([&] { return delivered->load(); });
    // A request reserved meanwhile goes out unless another is in flight; what
    // is in flight is then settled for the next event.
    auto& requestor = manager.getRequestor();
    runUntil (
        [&]
        {
            return requestor.getReservedType() == HidSequenceRequestor::kNone ||
                   requestor.getInFlightType() != HidSequenceRequestor::kNone;
        });
}

juce::MemoryBlock emptyPatternPayload()
{
    PatternRecord record;
    makeEmptyPattern (record);
    PatternPayload payload;
    encodePattern (record, payload);
    return juce::MemoryBlock (payload.data(), payload.size());
}

// A project file of two empty patterns, to be sent to the KORVA.
juce::MemoryBlock twoPatternProject()
{
    juce::MemoryBlock project (kBlockSize, true);
    auto* header = static_cast<juce::uint8*> (project.getData());
    header[0] = 0x83;
    header[1] = 0x49;
    std::memcpy (header + ProjectDataManager::kNameOffset, "Fuzz", 4);
    header[44] = 0x03;
    const auto pattern = emptyPatternPayload();
    project.append (pattern.getData(), pattern.getSize());
    project.append (pattern.getData(), pattern.getSize());
    return project;
}

// The program keeps pushed projects and MIDI files below the user's folders:
// here they stay in the scratch folder.
struct ScratchHome
{
    ScratchHome()
    {
        const auto home = fuzz::scratchFolder ("home").getFullPathName();
        setenv ("HOME", home.toRawUTF8(), 1);
        setenv ("XDG_CONFIG_HOME", home.toRawUTF8(), 1);
    }
};

struct Rig
{
    ScratchHome home;
    juce::ScopedJuceInitialiser_GUI juce;
    juce::File folder = fuzz::scratchFolder ("device");
    juce::File data = folder.getChildFile ("data");
    SilentTransport transport;
    Manager manager;
    PatternDataManager patterns{folder.getChildFile ("patterns")};
    juce::File projectFile = folder.getChildFile ("Send.prj");
    juce::File midiFile = folder.getChildFile ("Send.mid");
    int runs = 0;

    Rig()
    {
        manager.getRequestor().setPacing (0);
        manager.setReplyTimeout (60 * 60 * 1000); // time-outs are not what is fuzzed
        manager.setVersionTimeout (60 * 60 * 1000);
        manager.setTransport (&transport);
        ProjectDataManager::getInstance()->dataDirectory = [this] { return data; };
        manager.setProjectSide (ProjectDataManager::getInstance());
        manager.setPatternConversions (&patterns);

        const auto project = twoPatternProject();
        if (!projectFile.replaceWithData (project.getData(), project.getSize()))
            std::abort();
        patterns.renderBarCount = 1;
        patterns.dropBarCount = 1;
        if (patterns.convertPatternToMidiFile (emptyPatternPayload(), midiFile) != kMidiFileWritten)
            std::abort();

        juce::StringArray ids{"KORVA,/dev/hidraw0,1"};
        manager.onHidConnected (ids);
        catchUp (manager);
    }

    void request (fuzz::ByteReader& input)
    {
        const auto which = input.u8() % 12;
        const auto argument = input.u8();
        switch (which)
        {
            case 0:
                manager.requestGetProjectInfo();
                break;
            case 1:
                manager.requestDeleteProject (argument);
                break;
            case 2:
                manager.requestRenameProject (argument, "Renamed");
                break;
            case 3:
                ProjectDataManager::getInstance()->setProjectName ("Fuzz");
                manager.requestImportProjectData (argument);
                break;
            case 4:
                manager.requestQueryExportableProject (projectFile, argument % 4);
                break;
            case 5:
                manager.requestExportProjectData();
                break;
            case 6:
                manager.requestGetPatternInfo();
                break;
            case 7:
                manager.requestImportPatternData();
                break;
            case 8:
                manager.requestQueryExportablePattern (midiFile);
                break;
            case 9:
                manager.requestExportPatternData();
                break;
            case 10:
                manager.requestGetVersionInfo();
                break;
            default:
                break; // nothing asked: only a pushed project can come
        }
        catchUp (manager);
    }

    void event (fuzz::ByteReader& input)
    {
        const auto kind = input.u8();
        const auto inFlight = manager.getRequestor().getInFlightType();
        const juce::uint8 type = (kind & 0x80) != 0                        ? input.u8()
                                 : inFlight == HidSequenceRequestor::kNone ? (juce::uint8)Manager::kPushedProject
                                                                           : inFlight;
        switch (kind & 0x07)
        {
            case 5:
                manager.onHidSendCompleted (static_cast<Manager::eResult> (input.u8() % 12));
                break;
            case 6:
            {
                juce::MemoryBlock none;
                manager.onHidRecvCompleted (static_cast<Manager::eResult> (1 + input.u8() % 11), type, none);
                break;
            }
            case 7:
                manager.requestCancel();
                break;
            default:
            {
                const auto length = input.u16();
                auto payload = input.block ((length & 0x8000) != 0 ? (length & 0x0FFF) : length);
                if ((length & 0x8000) != 0)
                    payload.setSize (kBlockSize, true);
                manager.onHidSendCompleted (HidDeviceManager::kSuccess);
                manager.onHidRecvStarted();
                manager.onHidRecvCompleted (HidDeviceManager::kSuccess, type, payload);
                break;
            }
        }
        catchUp (manager);
    }

    // Nothing in flight, nothing waiting, the KORVA connected again.
    void reset()
    {
        juce::StringArray ids{"KORVA,/dev/hidraw0,1"};
        manager.onHidDisconnected (ids);
        manager.onHidConnected (ids);
        catchUp (manager);
        runUntil ([&] { return manager.getRequestor().isIdle(); });
        catchUp (manager);

        // What imports saved is of no further use.
        if (++runs % 256 == 0)
        {
            data.deleteRecursively();
            for (const auto& child : patterns.getTemporaryFolder().findChildFiles (juce::File::findDirectories, false))
                child.deleteRecursively();
        }
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, std::size_t size)
{
    // Never destroyed: the process ends with the fuzzer.
    static Rig& rig = *new Rig;
    fuzz::ByteReader input (data, size);
    rig.request (input);
    for (int n = 0; n < kMaxEvents && !input.atEnd(); ++n)
        rig.event (input);
    rig.reset();
    return 0;
}
