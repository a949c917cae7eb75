// A 4096-byte message (69 data packets) to and from the virtual KORVA: once
// through HidDeviceManager, and once by a bare client on a socket of the same
// kind that only writes each report and blocks until its answer arrives, the
// floor of the protocol. The difference is the manager's own cost: its
// threads, locks and the access layer's reader.

#include "benchmarks/BareKorvaClient.h"
#include "core/device/HidDeviceManager.h"
#include "core/hidlink/HidBackend.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <stdlib.h>
#include <thread>

namespace korva
{

namespace
{
constexpr std::size_t kPayloadSize = 4096;
constexpr std::uint8_t kSendType = 0x30;
constexpr std::uint8_t kReceiveType = 0x31;

std::vector<std::uint8_t> payload()
{
    std::vector<std::uint8_t> bytes (kPayloadSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t> (i * 13 + 7);
    return bytes;
}

std::string makeFolder()
{
    char pattern[] = "/tmp/korva-bench-XXXXXX";
    const char* folder = ::mkdtemp (pattern);
    return folder != nullptr ? folder : "";
}

std::unique_ptr<korva::sim::VirtualKorva> startDevice (const std::string& folder)
{
    korva::sim::Options options;
    options.folder = folder;
    options.name = "korva.sock";
    auto device = std::make_unique<korva::sim::VirtualKorva> (options);
    device->setDefaultHandler (korva::sim::silentHandler());
    std::string error;
    if (! device->start (error))
        return nullptr;
    return device;
}

//==============================================================================
// The manager with its device.
class Listener final : public HidDeviceManager::IHidDeviceManagerListener
{
public:
    void onHidConnected (juce::StringArray&) override { bump (m_connected); }
    void onHidSendCompleted (HidDeviceManager::eResult result) override
    {
        m_failed = m_failed || result != HidDeviceManager::kSuccess;
        bump (m_sent);
    }
    void onHidRecvCompleted (HidDeviceManager::eResult result, juce::uint8, juce::MemoryBlock& data) override
    {
        m_failed = m_failed || result != HidDeviceManager::kSuccess || data.getSize() != kPayloadSize;
        bump (m_received);
    }

    bool waitFor (const int& counter, int target)
    {
        std::unique_lock<std::mutex> lock (m_mutex);
        return m_changed.wait_for (lock, std::chrono::seconds (10), [&] { return counter >= target; });
    }

    int m_connected = 0, m_sent = 0, m_received = 0;
    std::atomic<bool> m_failed{false};

private:
    void bump (int& counter)
    {
        {
            const std::lock_guard<std::mutex> lock (m_mutex);
            ++counter;
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
};

struct ManagerSetup
{
    ManagerSetup()
    {
        folder = makeFolder();
        ::setenv ("KORVA_VIRTUAL_DIR", folder.c_str(), 1);
        device = startDevice (folder);
        hidlink::HidManager::createInstance ({hidlink::makeVirtualBackend (folder)});
        manager = std::make_unique<HidDeviceManager>();
        manager->setListener (&listener);

        const auto deadline = juce::Time::getMillisecondCounter() + 5000;
        while (listener.m_connected == 0 && juce::Time::getMillisecondCounter() < deadline)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    }

    ~ManagerSetup()
    {
        manager->clearListener();
        manager.reset();
        device.reset();
        juce::File (folder).deleteRecursively();
    }

    std::string folder;
    std::unique_ptr<korva::sim::VirtualKorva> device;
    Listener listener;
    std::unique_ptr<HidDeviceManager> manager;
};

ManagerSetup& managerSetup()
{
    static ManagerSetup setup;
    return setup;
}

struct FloorSetup
{
    FloorSetup() : folder (makeFolder()), device (startDevice (folder)), client (folder + "/korva.sock") {}
    ~FloorSetup()
    {
        device.reset();
        juce::File (folder).deleteRecursively();
    }

    std::string folder;
    std::unique_ptr<korva::sim::VirtualKorva> device;
    korva::bench::BareKorvaClient client;
};

FloorSetup& floorSetup()
{
    static FloorSetup setup;
    return setup;
}

//==============================================================================
void BM_FloorSend4096 (benchmark::State& state)
{
    auto& setup = floorSetup();
    const auto data = payload();
    for (auto _ : state)
        setup.client.send (kSendType, data);
    if (! setup.client.ok())
        state.SkipWithError ("the bare client failed");
}

void BM_FloorReceive4096 (benchmark::State& state)
{
    auto& setup = floorSetup();
    const korva::sim::Message message{kReceiveType, payload()};
    bool whole = true;
    for (auto _ : state)
    {
        setup.device->sendMessage (message);
        whole = setup.client.receive().size() == kPayloadSize && whole;
    }
    if (! setup.client.ok() || ! whole)
        state.SkipWithError ("the bare client failed");
}

// The send thread goes idle right after the listener has heard of the end;
// until then a request is refused (the request sequencer waits 50 ms before
// its next message). Trying again at once keeps the transfers back to back,
// as they are in the other benchmarks.
bool sendWhenIdle (HidDeviceManager& manager, const juce::MemoryBlock& block)
{
    const auto deadline = juce::Time::getMillisecondCounter() + 1000;
    while (! manager.sendRequest (kSendType, block))
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

void BM_ManagerSend4096 (benchmark::State& state)
{
    auto& setup = managerSetup();
    const auto data = payload();
    const juce::MemoryBlock block (data.data(), data.size());
    int sent = setup.listener.m_sent;
    for (auto _ : state)
    {
        if (! sendWhenIdle (*setup.manager, block) || ! setup.listener.waitFor (setup.listener.m_sent, ++sent))
        {
            state.SkipWithError ("no transfer");
            break;
        }
    }
    if (setup.listener.m_failed)
        state.SkipWithError ("a transfer failed");
}

void BM_ManagerReceive4096 (benchmark::State& state)
{
    auto& setup = managerSetup();
    const korva::sim::Message message{kReceiveType, payload()};
    int received = setup.listener.m_received;
    for (auto _ : state)
    {
        setup.device->sendMessage (message);
        if (! setup.listener.waitFor (setup.listener.m_received, ++received))
        {
            state.SkipWithError ("no transfer");
            break;
        }
    }
    if (setup.listener.m_failed)
        state.SkipWithError ("a transfer failed");
}
} // namespace

BENCHMARK (BM_FloorSend4096)->Unit (benchmark::kMillisecond)->UseRealTime()->Repetitions (10);
BENCHMARK (BM_ManagerSend4096)->Unit (benchmark::kMillisecond)->UseRealTime()->Repetitions (10);
BENCHMARK (BM_FloorReceive4096)->Unit (benchmark::kMillisecond)->UseRealTime()->Repetitions (10);
BENCHMARK (BM_ManagerReceive4096)->Unit (benchmark::kMillisecond)->UseRealTime()->Repetitions (10);

} // namespace korva
