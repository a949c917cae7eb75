// A whole project of 64 patterns from the virtual KORVA into a .prj file
// (import) and back into the device (export), through the program's request
// sequencer, transport and access layer, against the device model.
//
// Each iteration also runs the same exchange on a second virtual KORVA (same
// model, same kind of socket) with a bare client that writes each report and
// blocks for its answer, and nothing else: the packet round trips. The
// protocol's floor is that time plus the 50 ms the program must wait before
// each message it sends. Counters: floor_ms and ratio (program / floor).

#include "benchmarks/BareKorvaClient.h"
#include "core/device/HidDeviceManager.h"
#include "core/device/HidSequenceManager.h"
#include "core/hidlink/HidBackend.h"
#include "core/projects/ProjectDataManager.h"
#include "tools/korva-sim/DemoContent.h"
#include "tools/korva-sim/DeviceModel.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace korva
{

namespace
{
constexpr int kPatterns = 64;
constexpr int kProjectIndex = 10;
constexpr std::size_t kBlockSize = 4096;
constexpr double kPacingMs = HidSequenceRequestor::kPacingMs;

using Clock = std::chrono::steady_clock;

double msSince (Clock::time_point start)
{
    return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
}

std::string makeFolder (const char* name)
{
    std::string pattern = std::string ("/tmp/") + name + "-XXXXXX";
    const char* folder = ::mkdtemp (pattern.data());
    return folder != nullptr ? folder : "";
}

//==============================================================================
// A virtual KORVA with its model, holding the 64-pattern project.
struct SimulatedKorva
{
    SimulatedKorva (const std::string& deviceFolder, const std::string& storeFolder, const std::string& name)
    {
        korva::sim::DeviceModel::Settings settings;
        settings.storeFolder = storeFolder;
        model = std::make_unique<korva::sim::DeviceModel> (settings);
        std::string error;
        ok = model->open (error) && model->putProject (kProjectIndex, project);

        korva::sim::Options options;
        options.folder = deviceFolder;
        options.name = name;
        options.timing.responseDelayMs = 0; // the device's own thinking time is not the protocol's
        device = std::make_unique<korva::sim::VirtualKorva> (options);
        device->setDefaultHandler ([this] (const korva::sim::Message& request) { return model->answer (request); });
        ok = ok && device->start (error);
    }

    // The exported copies go, so every export finds the same room.
    void removeExtraProjects()
    {
        for (const auto& project : model->listProjects())
            if (project.index > kProjectIndex)
                model->removeProject (project.index);
    }

    const korva::sim::Bytes project = korva::sim::makeDemoProject ("Sixty-Four", kPatterns);
    std::unique_ptr<korva::sim::DeviceModel> model;
    std::unique_ptr<korva::sim::VirtualKorva> device;
    bool ok = false;
};

// The import as the bare client does it: the number of messages it sent.
int bareImport (korva::bench::BareKorvaClient& client)
{
    int sent = 0;
    client.send (0x03, {kProjectIndex, 0x00});
    ++sent;
    while (client.ok())
    {
        if (client.receive().size() != kBlockSize)
            break; // the final status
        client.send (0x03, {kProjectIndex, 0x01});
        ++sent;
    }
    return sent;
}

int bareExport (korva::bench::BareKorvaClient& client, const korva::sim::Bytes& project)
{
    int sent = 0;
    const auto exchange = [&] (std::uint8_t type, korva::sim::Bytes data) {
        client.send (type, data);
        ++sent;
        return client.receive() == korva::sim::Bytes {1};
    };
    bool ok = exchange (0x04, {0, kPatterns});
    for (std::size_t i = 0; ok && i * kBlockSize < project.size(); ++i)
        ok = exchange (0x05, korva::sim::Bytes (project.begin() + static_cast<long> (i * kBlockSize),
                                               project.begin() + static_cast<long> ((i + 1) * kBlockSize)));
    if (ok)
        exchange (0x05, {0x00});
    return ok ? sent : -1;
}

//==============================================================================
class Results final : public HidSequenceManagerListener
{
public:
    void connectionChanged() override { set (m_connected, 1); }
    void importProjectDataResponsed (int result) override { set (m_import, result); }
    void exportProjectDataResponsed (int result) override { set (m_export, result); }
    void queryExportProjectResponsed (int result) override { set (m_export, result); }
    void sendErrorOccurred (juce::uint8, eResult result) override { failed (result); }
    void receiveErrorOccurred (juce::uint8, eResult result) override { failed (result); }

    // Runs the message loop (the sequencer's timers live there) until `field` is set.
    int waitFor (std::atomic<int>& field)
    {
        const auto deadline = Clock::now() + std::chrono::seconds (30);
        while (field.load() == 0 && Clock::now() < deadline)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
        return field.exchange (0);
    }

    std::atomic<int> m_connected{0}, m_import{0}, m_export{0};

private:
    static void set (std::atomic<int>& field, int value) { field = value; }
    void failed (eResult result)
    {
        set (m_import, -result);
        set (m_export, -result);
    }
};

struct Stack
{
    Stack()
    {
        // The program's temporary project file goes below a home of our own.
        if (const char* home = std::getenv ("HOME"))
            previousHome = home;
        home = makeFolder ("korva-bench-home");
        ::setenv ("HOME", home.c_str(), 1);
        ::unsetenv ("XDG_CONFIG_HOME");

        deviceFolder = makeFolder ("korva-bench-devices");
        ::setenv ("KORVA_VIRTUAL_DIR", deviceFolder.c_str(), 1);
        stackKorva = std::make_unique<SimulatedKorva> (deviceFolder, home + "/store-a", "korva.sock");
        floorFolder = makeFolder ("korva-bench-floor");
        floorKorva = std::make_unique<SimulatedKorva> (floorFolder, home + "/store-b", "floor.sock");
        client = std::make_unique<korva::bench::BareKorvaClient> (floorKorva->device->getSocketPath());

        hidlink::HidManager::createInstance ({hidlink::makeVirtualBackend (deviceFolder)});
        transport = std::make_unique<HidDeviceManager>();
        sequencer = std::make_unique<HidSequenceManager>();
        sequencer->useDeviceManager (transport.get());
        sequencer->setProjectSide (ProjectDataManager::getInstance());
        sequencer->addListener (&results);
        transport->setListener (sequencer.get());
        results.waitFor (results.m_connected);

        auto* projects = ProjectDataManager::getInstance();
        projects->dataDirectory = [folder = juce::File (home + "/data")] { return folder; };
        projects->setProjectName ("Sixty-Four");
        exportFile = juce::File (home + "/Sixty-Four.prj");
        exportFile.replaceWithData (stackKorva->project.data(), stackKorva->project.size());
    }

    ~Stack()
    {
        transport->clearListener();
        sequencer->useDeviceManager (nullptr);
        sequencer->removeListener (&results);
        transport.reset();
        sequencer.reset();
        client.reset();
        stackKorva.reset();
        floorKorva.reset();
        juce::File (floorFolder).deleteRecursively();
        juce::File (deviceFolder).deleteRecursively();
        juce::File (home).deleteRecursively();
        if (! previousHome.empty())
            ::setenv ("HOME", previousHome.c_str(), 1);
    }

    bool ok() const { return stackKorva->ok && floorKorva->ok && client->ok() && sequencer->isConnected(); }

    std::string previousHome, home, deviceFolder, floorFolder;
    std::unique_ptr<SimulatedKorva> stackKorva, floorKorva;
    std::unique_ptr<korva::bench::BareKorvaClient> client;
    Results results;
    std::unique_ptr<HidDeviceManager> transport;
    std::unique_ptr<HidSequenceManager> sequencer;
    juce::File exportFile;
};

// Made and unmade around every run: the sequencer must go before the JUCE
// initialiser of main does.
std::unique_ptr<Stack> g_stack;
void setUp (const benchmark::State&)
{
    g_stack = std::make_unique<Stack>();
}
void tearDown (const benchmark::State&)
{
    g_stack.reset();
}

void report (benchmark::State& state, double floorMs, double programMs)
{
    state.counters["floor_ms"] = benchmark::Counter (floorMs, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = benchmark::Counter (programMs / floorMs, benchmark::Counter::kAvgIterations);
}

void BM_ImportProject64 (benchmark::State& state)
{
    auto& s = *g_stack;
    if (! s.ok())
        return state.SkipWithError ("the virtual KORVAs or the stack did not start");

    double floorMs = 0, programMs = 0;
    for (auto _ : state)
    {
        auto start = Clock::now();
        const int messages = bareImport (*s.client);
        floorMs += msSince (start) + messages * kPacingMs;

        start = Clock::now();
        s.sequencer->requestImportProjectData (kProjectIndex);
        const int result = s.results.waitFor (s.results.m_import);
        const double elapsed = msSince (start);
        state.SetIterationTime (elapsed / 1000.0);
        programMs += elapsed;

        const auto saved = juce::File (s.home + "/data").findChildFiles (juce::File::findFiles, false, "*.prj");
        if (result != HidSequenceManager::kResultOK || messages != kPatterns + 2 || saved.size() != 1
            || saved[0].getSize() != (juce::int64) s.stackKorva->project.size())
            return state.SkipWithError (("the import failed: result " + std::to_string (result) + ", " + std::to_string (messages) + " messages, " + std::to_string (saved.size()) + " files").c_str());
        saved[0].deleteFile();
    }
    report (state, floorMs, programMs);
}

void BM_ExportProject64 (benchmark::State& state)
{
    auto& s = *g_stack;
    if (! s.ok())
        return state.SkipWithError ("the virtual KORVAs or the stack did not start");

    double floorMs = 0, programMs = 0;
    for (auto _ : state)
    {
        auto start = Clock::now();
        const int messages = bareExport (*s.client, s.floorKorva->project);
        floorMs += msSince (start) + messages * kPacingMs;
        s.floorKorva->removeExtraProjects();

        start = Clock::now();
        s.sequencer->requestQueryExportableProject (s.exportFile, kPatterns);
        const int result = s.results.waitFor (s.results.m_export);
        const double elapsed = msSince (start);
        state.SetIterationTime (elapsed / 1000.0);
        programMs += elapsed;

        const bool stored = s.stackKorva->model->listProjects().size() == 6; // 4 demo, the 64, the copy
        s.stackKorva->removeExtraProjects();
        if (result != HidSequenceManager::kResultOK || messages != kPatterns + 3 || ! stored)
            return state.SkipWithError ("the export failed");
    }
    report (state, floorMs, programMs);
}
} // namespace

BENCHMARK (BM_ImportProject64)
    ->Setup (setUp)
    ->Teardown (tearDown)
    ->Unit (benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations (1)
    ->Repetitions (5);
BENCHMARK (BM_ExportProject64)
    ->Setup (setUp)
    ->Teardown (tearDown)
    ->Unit (benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations (1)
    ->Repetitions (5);

} // namespace korva
