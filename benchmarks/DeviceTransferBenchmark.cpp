// A 4096-byte message (69 data packets) to and from the virtual KORVA: once
// through HidDeviceManager, and once by a bare client on a socket of the same
// kind that only writes each report and blocks until its answer arrives, the
// floor of the protocol. The difference is the manager's own cost: its
// threads, locks and the access layer's reader.

#include "device/HidDeviceManager.h"
#include "device/hidlink/HidBackend.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstring>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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

std::unique_ptr<korvasim::VirtualKorva> startDevice (const std::string& folder)
{
    korvasim::Options options;
    options.folder = folder;
    options.name = "korva.sock";
    auto device = std::make_unique<korvasim::VirtualKorva> (options);
    device->setDefaultHandler (korvasim::silentHandler());
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
    std::unique_ptr<korvasim::VirtualKorva> device;
    Listener listener;
    std::unique_ptr<HidDeviceManager> manager;
};

ManagerSetup& managerSetup()
{
    static ManagerSetup setup;
    return setup;
}

//==============================================================================
// The bare client: one connection, blocking reads and writes, nothing else.
class BareClient
{
public:
    explicit BareClient (const std::string& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy (address.sun_path, path.c_str(), sizeof (address.sun_path) - 1);
        m_fd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (::connect (m_fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0)
        {
            std::uint8_t hello[1024];
            m_ok = ::recv (m_fd, hello, sizeof (hello), 0) > 0;
        }
    }
    ~BareClient() { ::close (m_fd); }

    bool ok() const { return m_ok; }

    void write (std::uint8_t code, std::uint8_t type, unsigned packet, const std::uint8_t* data = nullptr,
                std::size_t size = 0, std::uint32_t length = 0, std::uint16_t crc = 0)
    {
        std::uint8_t report[65] = {};
        report[1] = code;
        report[2] = type;
        report[3] = static_cast<std::uint8_t> (packet & 0xFF);
        report[4] = static_cast<std::uint8_t> (packet >> 8);
        if (code == 0xA0)
        {
            std::memcpy (report + 5, &length, 4);
            std::memcpy (report + 9, &crc, 2);
        }
        else if (data != nullptr)
        {
            std::memcpy (report + 5, data, size);
        }
        m_ok = m_ok && ::send (m_fd, report, sizeof (report), MSG_NOSIGNAL) == 65;
    }

    std::uint8_t read()
    {
        std::uint8_t report[65] = {};
        m_ok = m_ok && ::recv (m_fd, report, sizeof (report), 0) == 65;
        return report[1];
    }

    // Sends a message the way the protocol does, with nothing around it.
    void send (std::uint8_t type, const std::vector<std::uint8_t>& data)
    {
        write (0xA0, type, 0, nullptr, 0, static_cast<std::uint32_t> (data.size()),
               korvasim::crc16 (data.data(), data.size()));
        m_ok = m_ok && read() == 0xA8;
        std::size_t offset = 0;
        for (unsigned packet = 1; offset < data.size(); ++packet)
        {
            const auto count = std::min<std::size_t> (data.size() - offset, 60);
            write (0xA1, type, packet, data.data() + offset, count);
            offset += count;
            m_ok = m_ok && read() == (offset < data.size() ? 0xA9 : 0xAE);
        }
    }

    // Receives a message the device sends; the CRC is left to the comparison.
    void receive (std::size_t size)
    {
        m_ok = m_ok && read() == 0xA0;
        write (0xA8, kReceiveType, 0);
        std::size_t received = 0;
        for (unsigned packet = 1; received < size; ++packet)
        {
            m_ok = m_ok && read() == 0xA1;
            received += std::min<std::size_t> (size - received, 60);
            write (received < size ? 0xA9 : 0xAE, kReceiveType, packet);
        }
    }

private:
    int m_fd = -1;
    bool m_ok = false;
};

struct FloorSetup
{
    FloorSetup() : folder (makeFolder()), device (startDevice (folder)), client (folder + "/korva.sock") {}
    ~FloorSetup()
    {
        device.reset();
        juce::File (folder).deleteRecursively();
    }

    std::string folder;
    std::unique_ptr<korvasim::VirtualKorva> device;
    BareClient client;
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
    const korvasim::Message message{kReceiveType, payload()};
    for (auto _ : state)
    {
        setup.device->sendMessage (message);
        setup.client.receive (kPayloadSize);
    }
    if (! setup.client.ok())
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
    const korvasim::Message message{kReceiveType, payload()};
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
