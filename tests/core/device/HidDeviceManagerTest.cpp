// The transport against the virtual KORVA, whose side of the protocol is
// written on its own (tools/korva-sim).

#include "core/device/HidDeviceManager.h"
#include "core/device/HidDeviceTransferThreads.h"
#include "tests/core/device/VirtualDeviceFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <random>
#include <thread>

namespace korva
{

using namespace korva::test;
using Result = HidDeviceManager::eResult;
using Bytes = std::vector<std::uint8_t>;

// Reaches what nothing in the program touches: the abort flags and statuses.
struct HidDeviceManagerTestAccess
{
    // The threads themselves: a hook that runs on another thread must not
    // read the manager's members while the manager is being destroyed.
    static HidDeviceTransferThread* sendThread (HidDeviceManager& manager) { return manager.m_pSendThread.get(); }
    static HidDeviceTransferThread* recvThread (HidDeviceManager& manager) { return manager.m_pRecvThread.get(); }
    static int sendStatus (HidDeviceManager& manager) { return manager.m_pSendThread->getStatus(); }
    static int recvStatus (HidDeviceManager& manager) { return manager.m_pRecvThread->getStatus(); }
};

namespace
{
Bytes report (std::initializer_list<int> head, std::size_t size = 65)
{
    Bytes bytes (size, 0);
    std::size_t i = 0;
    for (int value : head)
        bytes[i++] = static_cast<std::uint8_t> (value);
    return bytes;
}

Bytes payloadOf (std::size_t size, unsigned seed = 1)
{
    Bytes payload (size);
    std::mt19937 random (seed);
    for (auto& byte : payload)
        byte = static_cast<std::uint8_t> (random());
    return payload;
}

// A one-byte message (01, CRC 0x1021) of type 0x20, sent raw by the device.
const Bytes kStartOfOneByte = {0xA0, 0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x21, 0x10};
const Bytes kDataOfOneByte = {0xA1, 0x20, 0x01, 0x00, 0x01};

juce::MemoryBlock block (const Bytes& bytes)
{
    return juce::MemoryBlock (bytes.data(), bytes.size());
}

struct Received
{
    Result result;
    std::uint8_t type;
    Bytes payload;
};

// Records every notification; the tests wait on it without polling.
class RecordingListener final : public HidDeviceManager::IHidDeviceManagerListener
{
public:
    void onHidConnected (juce::StringArray& identifiers) override
    {
        record ([&] { connected.push_back (identifiers); });
    }
    void onHidDisconnected (juce::StringArray& identifiers) override
    {
        record ([&] { disconnected.push_back (identifiers); });
    }
    void onHidOpenFailed (const hidlink::HidOpenFailure& failure) override
    {
        record ([&] { openFailures.push_back (failure); });
    }
    void onHidSendCompleted (Result result) override
    {
        record ([&] { sent.push_back (result); });
    }
    void onHidRecvStarted() override
    {
        if (recvStartedHook)
            recvStartedHook();
        record ([&] { ++recvStarted; });
    }
    void onHidRecvCompleted (Result result, juce::uint8 type, juce::MemoryBlock& data) override
    {
        const auto* bytes = static_cast<const std::uint8_t*> (data.getData());
        record ([&] { received.push_back ({result, type, Bytes (bytes, bytes + data.getSize())}); });
    }

    template <typename Predicate>
    bool waitFor (Predicate predicate, int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> lock (mutex);
        return changed.wait_for (lock, std::chrono::milliseconds (timeoutMs), predicate);
    }

    bool waitForSent (std::size_t count, int timeoutMs = 5000)
    {
        return waitFor ([&] { return sent.size() >= count; }, timeoutMs);
    }
    bool waitForReceived (std::size_t count, int timeoutMs = 5000)
    {
        return waitFor ([&] { return received.size() >= count; }, timeoutMs);
    }

    template <typename T>
    T read (const T& field)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return field;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<juce::StringArray> connected, disconnected;
    std::vector<hidlink::HidOpenFailure> openFailures;
    std::vector<Result> sent;
    std::vector<Received> received;
    int recvStarted = 0;
    std::vector<juce::Thread::ThreadID> connectThreads;
    std::function<void()> recvStartedHook;

private:
    template <typename Fn>
    void record (Fn change)
    {
        {
            const std::lock_guard<std::mutex> lock (mutex);
            change();
            connectThreads.push_back (juce::Thread::getCurrentThreadId());
        }
        changed.notify_all();
    }
};

// One virtual KORVA, a registry that sees only it, and a manager that looks
// for devices every 100 ms. Answers are waited for as in the program (five
// waits of a second), so a loaded machine does not fail a test; tests that
// expect a time-out shorten the waits to 100 ms (shortenWaits).
struct ManagerFixture : VirtualDeviceFixture
{
    HidDeviceManager::Timing timing{100, 1000, 5};
    int deviceAckWaitMs = 1000;

    void shortenWaits()
    {
        timing.ackWaitMs = 100;
        deviceAckWaitMs = 100;
    }

    RecordingListener listener;
    std::unique_ptr<korva::sim::VirtualKorva> device;
    std::unique_ptr<HidDeviceManager> manager;

    void TearDown() override
    {
        manager.reset(); // deletes the registry as well
        device.reset();
    }

    korva::sim::Options options (const std::string& name = "korva.sock") const
    {
        auto result = deviceOptions (name);
        result.timing.ackWaitMs = deviceAckWaitMs;
        result.timing.responseDelayMs = 50; // the device thinks a while before it answers
        return result;
    }

    // Starts the device and the manager and waits for the connection.
    void connect (const korva::sim::Options& deviceOptions)
    {
        device = startDevice (deviceOptions);
        start();
        ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.connected).size() == 1; }, 3000));
    }

    void start()
    {
        createRegistry();
        manager = std::make_unique<HidDeviceManager> (timing);
        manager->setListener (&listener);
    }

    Bytes sentReport (std::size_t index) const
    {
        const auto reports = device->getReceivedReports();
        return index < reports.size() ? reports[index] : Bytes();
    }

    // The index of the first start message the device received from `from` on.
    std::size_t startReportFrom (std::size_t from) const
    {
        const auto reports = device->getReceivedReports();
        for (auto i = from; i < reports.size(); ++i)
            if (reports[i].size() > 1 && reports[i][1] == 0xA0)
                return i;
        return reports.size();
    }

    int dataReportsReceived() const
    {
        int count = 0;
        for (const auto& bytes : device->getReceivedReports())
            count += bytes.size() > 1 && bytes[1] == 0xA1 ? 1 : 0;
        return count;
    }

    bool send (std::uint8_t type, const Bytes& payload) { return manager->sendRequest (type, block (payload)); }
};

// Every test of the transport runs threads that meet (the reader, the two
// transfer threads, the manager's own and the device's), so all of them also
// run under ThreadSanitizer.
struct HidDeviceManagerConcurrency : ManagerFixture
{
};
} // namespace

//==============================================================================
TEST (HidDeviceManagerCrc, IsCrc16XmodemAndAgreesWithTheVirtualDevice)
{
    const std::string check = "123456789";
    EXPECT_EQ (HidDeviceManager::calcCrc16 (check.data(), check.size()), 0x31C3);
    EXPECT_EQ (HidDeviceManager::calcCrc16 (nullptr, 0), 0);
    EXPECT_EQ (HidDeviceManager::calcCrc16 (Bytes{0x00, 0x05}.data(), 2), 0x50A5);
    EXPECT_EQ (HidDeviceManager::calcCrc16 (Bytes{0x01}.data(), 1), 0x1021);

    for (unsigned seed = 1; seed <= 20; ++seed)
    {
        const auto payload = payloadOf (seed * 97, seed);
        EXPECT_EQ (HidDeviceManager::calcCrc16 (payload.data(), payload.size()),
                   korva::sim::crc16 (payload.data(), payload.size()));
    }
}

TEST_F (HidDeviceManagerConcurrency, ConnectsOnItsOwnThreadAndDisconnectsWhenTheDeviceGoes)
{
    connect (options());
    const auto identifier = listener.read (listener.connected)[0];
    ASSERT_EQ (identifier.size(), 1);
    EXPECT_TRUE (identifier[0].startsWith ("KORVA," + juce::String (device->getSocketPath()) + ","));
    EXPECT_EQ (listener.read (listener.connectThreads)[0], manager->getThreadId());

    device->stop();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.disconnected).size() == 1; }, 3000));
    EXPECT_EQ (listener.read (listener.disconnected)[0], identifier);
}

TEST_F (HidDeviceManagerConcurrency, SendsTheReportsOfTheProtocolByteForByte)
{
    auto deviceOptions = options();
    connect (deviceOptions);
    device->setDefaultHandler (korva::sim::silentHandler());

    ASSERT_TRUE (send (0x01, {0x00, 0x05}));
    ASSERT_TRUE (listener.waitForSent (1));
    EXPECT_EQ (listener.read (listener.sent), std::vector<Result>{HidDeviceManager::kSuccess});
    EXPECT_EQ (manager->getSendProgress(), 1.0);

    EXPECT_EQ (sentReport (0), report ({0x00, 0xA0, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA5, 0x50}));
    EXPECT_EQ (sentReport (1), report ({0x00, 0xA1, 0x01, 0x01, 0x00, 0x00, 0x05}));
    EXPECT_EQ (device->getReceivedReports().size(), 2u);
}

TEST_F (HidDeviceManagerConcurrency, ReceivesAMessageByteForByte)
{
    connect (options());
    device->sendMessage ({0x01, {0x01}});

    ASSERT_TRUE (listener.waitForReceived (1));
    const auto received = listener.read (listener.received)[0];
    EXPECT_EQ (received.result, HidDeviceManager::kSuccess);
    EXPECT_EQ (received.type, 0x01);
    EXPECT_EQ (received.payload, Bytes{0x01});
    EXPECT_EQ (listener.read (listener.recvStarted), 1);
    EXPECT_EQ (manager->getRecvProgress(), 1.0);

    EXPECT_EQ (device->getSentReports().at (0),
               report ({0x00, 0xA0, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x21, 0x10}));
    // The last acknowledgement was written before the notification; the device may read it a little later.
    ASSERT_TRUE (waitUntil ([&] { return device->getReceivedReports().size() == 2; }));
    EXPECT_EQ (sentReport (0), report ({0x00, 0xA8, 0x01, 0x00, 0x00}));
    EXPECT_EQ (sentReport (1), report ({0x00, 0xAE, 0x01, 0x01, 0x00}));
}

TEST_F (HidDeviceManagerConcurrency, PayloadsOfEverySizeGoOutAndComeBack)
{
    connect (options());

    struct Case
    {
        std::size_t size;
        int packets;
    };
    std::size_t transfers = 0;
    for (const auto& c : {Case{60, 1}, Case{61, 2}, Case{4096, 69}, Case{1, 1}, Case{0, 1}})
    {
        const auto before = device->getReceivedReports().size();
        const int dataBefore = dataReportsReceived();
        const auto payload = payloadOf (c.size, static_cast<unsigned> (c.size));

        ASSERT_TRUE (send (0x31, payload)) << c.size;
        ++transfers;
        ASSERT_TRUE (listener.waitForSent (transfers)) << c.size;
        // The last acknowledgement of the previous echo may have been counted late.
        const auto start = startReportFrom (before);
        EXPECT_EQ (listener.read (listener.sent).back(), HidDeviceManager::kSuccess) << c.size;
        EXPECT_EQ (dataReportsReceived() - dataBefore, c.packets) << c.size;
        EXPECT_EQ (device->getRequests().back().payload, payload) << c.size;

        // The device echoes the request; an empty start message is refused.
        ASSERT_TRUE (listener.waitForReceived (transfers)) << c.size;
        const auto received = listener.read (listener.received).back();
        EXPECT_EQ (received.type, 0x31);
        if (c.size > 0)
        {
            EXPECT_EQ (received.result, HidDeviceManager::kSuccess) << c.size;
            EXPECT_EQ (received.payload, payload) << c.size;
        }
        else
        {
            EXPECT_EQ (received.result, HidDeviceManager::kRecvStartError);
            EXPECT_TRUE (received.payload.empty());
            // The empty request itself: length 0, CRC 0, then one packet without bytes.
            EXPECT_EQ (sentReport (start), report ({0x00, 0xA0, 0x31}));
            EXPECT_EQ (sentReport (start + 1), report ({0x00, 0xA1, 0x31, 0x01, 0x00}));
        }

        if (c.size == 61)
        {
            EXPECT_EQ (sentReport (start + 2), report ({0x00, 0xA1, 0x31, 0x02, 0x00, payload[60]}));
        }

        // The receiver must be idle again before the next request goes out.
        ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::recvStatus (*manager) == 0; }));
    }
}

//==============================================================================
// Every result a transfer can end with, provoked through the device's fault
// switches (kCanceled through the abort flags, which nothing else sets).
struct ResultCase
{
    const char* name;
    Result expected;
    std::function<void (korva::sim::Options&)> configure;
    std::function<void (ManagerFixture&)> act;
    bool receive;          // the result comes from the receiver
    bool unplugs;          // the device is gone afterwards
    bool timesOut = false; // five waits pass: shortened to 100 ms each
};

void PrintTo (const ResultCase& c, std::ostream* out)
{
    *out << c.name;
}

class HidDeviceManagerResultsConcurrency : public ManagerFixture, public ::testing::WithParamInterface<ResultCase>
{
};

namespace
{
void sendTwoPackets (ManagerFixture& f)
{
    ASSERT_TRUE (f.send (0x10, payloadOf (100)));
}

void deviceSends (ManagerFixture& f)
{
    f.device->sendMessage ({0x20, payloadOf (100)});
}

const ResultCase kResultCases[] = {
    {"Success", HidDeviceManager::kSuccess, {}, sendTwoPackets, false, false},
    {"CanceledSend",
     HidDeviceManager::kCanceled,
     {},
     [] (ManagerFixture& f)
     {
         // Set once the device has the start message: the send stops after
         // the next acknowledgement at the latest.
         auto* sendThread = HidDeviceManagerTestAccess::sendThread (*f.manager);
         f.device->setReportObserver (
             [sendThread] (const Bytes& bytes)
             {
                 if (bytes.size() > 1 && bytes[1] == 0xA0)
                     sendThread->setAbort();
             });
         ASSERT_TRUE (f.send (0x10, payloadOf (200)));
     },
     false,
     false},
    {"CanceledRecv",
     HidDeviceManager::kCanceled,
     {},
     [] (ManagerFixture& f)
     {
         auto* recvThread = HidDeviceManagerTestAccess::recvThread (*f.manager);
         f.listener.recvStartedHook = [recvThread] { recvThread->setAbort(); };
         deviceSends (f);
     },
     true,
     false},
    {"SendStartWriteError", HidDeviceManager::kSendStartWriteError,
     [] (korva::sim::Options& o) { o.outputReportLength = 64; }, sendTwoPackets, false, false},
    {"SendStartAckTimeout", HidDeviceManager::kSendStartAckTimeout, [] (korva::sim::Options& o) { o.faults.mute = true; },
     sendTwoPackets, false, false, true},
    {"SendDataWriteError", HidDeviceManager::kSendDataWriteError,
     [] (korva::sim::Options& o) { o.faults.vanishAfterReceived = 0; }, sendTwoPackets, false, true},
    {"SendDataRejected", HidDeviceManager::kSendDataRejected, [] (korva::sim::Options& o) { o.faults.rejectPacket = 1; },
     sendTwoPackets, false, false},
    {"SendDataAckTimeout", HidDeviceManager::kSendDataAckTimeout, [] (korva::sim::Options& o) { o.faults.dropAck = 1; },
     sendTwoPackets, false, false, true},
    {"RecvStartError",
     HidDeviceManager::kRecvStartError,
     {},
     [] (ManagerFixture& f) {
         f.device->sendMessage ({0x20, {}});
     },
     true,
     false},
    {"RecvStartAckWriteError", HidDeviceManager::kRecvStartAckWriteError,
     [] (korva::sim::Options& o) { o.faults.vanishAfterSent = 0; }, deviceSends, true, true},
    {"RecvDataTimeout", HidDeviceManager::kRecvDataTimeout, [] (korva::sim::Options& o) { o.faults.stallAfterSent = 0; },
     deviceSends, true, false, true},
    {"RecvAckWriteError", HidDeviceManager::kRecvAckWriteError,
     [] (korva::sim::Options& o) { o.faults.vanishAfterSent = 1; }, deviceSends, true, true},
    {"RecvChecksumError", HidDeviceManager::kRecvChecksumError,
     [] (korva::sim::Options& o) { o.faults.corruptCrc = true; }, deviceSends, true, false},
};
} // namespace

TEST_P (HidDeviceManagerResultsConcurrency, IsProvokedByTheDevice)
{
    const auto& c = GetParam();
    if (c.timesOut)
        shortenWaits();
    auto deviceOptions = options();
    if (c.configure)
        c.configure (deviceOptions);
    connect (deviceOptions);
    device->setDefaultHandler (korva::sim::silentHandler());

    c.act (*this);

    if (c.receive)
    {
        ASSERT_TRUE (listener.waitForReceived (1));
        EXPECT_EQ (listener.read (listener.received)[0].result, c.expected);
        EXPECT_EQ (listener.read (listener.received)[0].type, 0x20);
    }
    else
    {
        ASSERT_TRUE (listener.waitForSent (1));
        EXPECT_EQ (listener.read (listener.sent)[0], c.expected);
    }

    // Unplugged in the middle of a transfer: the next tick disconnects.
    if (c.unplugs)
    {
        EXPECT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.disconnected).size() == 1; }, 3000));
    }
}

INSTANTIATE_TEST_SUITE_P (EveryResult, HidDeviceManagerResultsConcurrency, ::testing::ValuesIn (kResultCases),
                          [] (const ::testing::TestParamInfo<ResultCase>& info)
                          { return std::string (info.param.name); });

TEST_F (HidDeviceManagerConcurrency, TimeOutsAreFiveWaitsOfOneSecond)
{
    {
        const HidDeviceManager program;
        EXPECT_EQ (program.getTiming().ackWaitMs, 1000);
        EXPECT_EQ (program.getTiming().ackTries, 5);
    }

    // A device that never answers: the send fails after all the waits, each
    // as long as told (here four of 150 ms), and not much later.
    timing.ackWaitMs = 150;
    timing.ackTries = 4;
    auto deviceOptions = options();
    deviceOptions.faults.mute = true;
    connect (deviceOptions);

    const auto start = juce::Time::getMillisecondCounterHiRes();
    ASSERT_TRUE (send (0x10, payloadOf (10)));
    ASSERT_TRUE (listener.waitForSent (1));
    const auto elapsed = juce::Time::getMillisecondCounterHiRes() - start;
    EXPECT_EQ (listener.read (listener.sent)[0], HidDeviceManager::kSendStartAckTimeout);
    EXPECT_GE (elapsed, 590.0);
    EXPECT_LT (elapsed, 1200.0);
}

//==============================================================================
TEST_F (HidDeviceManagerConcurrency, RequestsAreRefusedWithTheirTraces)
{
    DebugOutputCapture traces;
    device = startDevice (options());
    createRegistry();
    manager = std::make_unique<HidDeviceManager> (timing);

    manager->setListener (nullptr);
    EXPECT_TRUE (traces.contains ("listener == nullptr"));
    EXPECT_FALSE (send (0x10, {1}));
    EXPECT_TRUE (traces.contains ("m_pListener == nullptr"));

    // A listener, but no device yet: the first tick has not come.
    manager->setListener (&listener);
    EXPECT_FALSE (send (0x10, {1}));
    EXPECT_TRUE (traces.contains ("m_pHidInput == nullptr"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.connected).size() == 1; }, 3000));

    // While sending: the device holds its answers back.
    device->holdOutput (true);
    auto* managerPointer = manager.get();
    ASSERT_TRUE (send (0x10, {1}));
    ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::sendStatus (*managerPointer) == 2; }));
    EXPECT_FALSE (send (0x10, {2}));
    EXPECT_TRUE (traces.contains ("Send Status(kStartDataSending(2)) != kDoNothing"));
    device->holdOutput (false);
    ASSERT_TRUE (listener.waitForSent (1));
    // The send thread goes idle right after the notification; until then a
    // start message would be dropped.
    ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::sendStatus (*managerPointer) == 0; }));

    // While receiving: the start of a one-byte message, its data not yet sent.
    device->sendRawMessage (kStartOfOneByte);
    ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::recvStatus (*managerPointer) == 1; }));
    EXPECT_FALSE (send (0x10, {3}));
    EXPECT_TRUE (traces.contains ("Recv Status(kStartDataRecving(1)) != kDoNothing"));
    device->sendRawMessage (kDataOfOneByte);
    ASSERT_TRUE (listener.waitForReceived (1));
    EXPECT_EQ (listener.read (listener.received)[0].result, HidDeviceManager::kSuccess);
}

TEST_F (HidDeviceManagerConcurrency, MessagesOutOfTurnAreDroppedWithTheirTraces)
{
    connect (options());
    device->setDefaultHandler (korva::sim::silentHandler());
    DebugOutputCapture traces;
    auto* managerPointer = manager.get();

    // A start message while sending is dropped; the send goes on.
    device->holdOutput (true);
    ASSERT_TRUE (send (0x01, {0x00, 0x05}));
    ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::sendStatus (*managerPointer) == 2; }));
    device->sendRawMessage ({0xA0, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x21, 0x10});
    ASSERT_TRUE (waitUntil ([&] { return traces.contains ("Send Thread State Err(Cmd:160 / SendThreadStatus:2)"); }));
    device->holdOutput (false);
    ASSERT_TRUE (listener.waitForSent (1));
    // The send thread goes idle right after the notification; until then a
    // start message would be dropped.
    ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::sendStatus (*managerPointer) == 0; }));
    EXPECT_EQ (listener.read (listener.sent)[0], HidDeviceManager::kSuccess);
    EXPECT_EQ (listener.read (listener.recvStarted), 0);

    // An acknowledgement while receiving is dropped; the receive goes on.
    device->sendRawMessage (kStartOfOneByte);
    ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::recvStatus (*managerPointer) == 1; }));
    device->sendRawMessage ({0xA9, 0x20, 0x01});
    ASSERT_TRUE (waitUntil ([&] { return traces.contains ("Send Thread State Err(Cmd:169 / RecvThreadStatus:1)"); }));
    device->sendRawMessage (kDataOfOneByte);
    ASSERT_TRUE (listener.waitForReceived (1));
    EXPECT_EQ (listener.read (listener.received)[0].result, HidDeviceManager::kSuccess);

    device->sendRawMessage ({0x55, 0x01});
    ASSERT_TRUE (waitUntil ([&] { return traces.contains ("CmdErr(0x55))"); }));
}

// A start message decides how much the receiver allocates: lengths of 0,
// negative ones and those beyond a megabyte are refused before anything else.
TEST_F (HidDeviceManagerConcurrency, ImplausibleStartMessagesAreRefused)
{
    connect (options());
    DebugOutputCapture traces;

    const Bytes starts[] = {
        {0xA0, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},             // length 0
        {0xA0, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80},             // negative as a signed number
        {0xA0, 0x22, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F},             // 2 GB
        {0xA0, 0x23, 0x00, 0x00, 0x01, 0x00, 0x10, 0x00},             // 1 MB and a byte
        {0xA0, 0x24, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x21, 0x10}, // packet number 1
    };
    std::size_t count = 0;
    for (const auto& start : starts)
    {
        device->sendRawMessage (start);
        ASSERT_TRUE (listener.waitForReceived (++count));
        const auto received = listener.read (listener.received).back();
        EXPECT_EQ (received.result, HidDeviceManager::kRecvStartError) << int (start[1]);
        EXPECT_EQ (received.type, start[1]);
        ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::recvStatus (*manager) == 0; }));
    }
    EXPECT_TRUE (traces.contains ("Recv length(1048577) > kMaxRecvLength(1048576)"));
    EXPECT_EQ (device->getReceivedReports().size(), 0u) << "nothing is acknowledged";
}

TEST_F (HidDeviceManagerConcurrency, InputOfAnotherLengthIsDropped)
{
    auto shortReports = options();
    shortReports.inputReportLength = 33;
    connect (shortReports);
    DebugOutputCapture traces;

    device->sendRawMessage ({0xA8, 0x01});
    ASSERT_TRUE (waitUntil ([&] { return traces.contains ("kReadLength(64) != length(32)"); }));
}

TEST_F (HidDeviceManagerConcurrency, OnlyTheFirstOfTwoDevicesIsConnected)
{
    device = startDevice (options ("a.sock"));
    auto second = startDevice (options ("b.sock"));
    start();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.connected).size() == 1; }, 3000));
    EXPECT_TRUE (listener.read (listener.connected)[0][0].contains ("/a.sock,"));
    // Between changes of the registry nobody looks for devices (here every
    // 100 ms, were it polled): each change that follows is told by the
    // registry itself.
    runMessageLoopFor (300);
    const int passes = manager->getDetectionPasses();
    runMessageLoopFor (500);
    EXPECT_EQ (manager->getDetectionPasses(), passes);

    // Unplugging the other one changes nothing.
    second->stop();
    runMessageLoopFor (500);
    EXPECT_TRUE (listener.read (listener.disconnected).empty());

    // Plugged in again, it takes over when the first one goes.
    second = startDevice (options ("b.sock"));
    device->stop();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.connected).size() == 2; }, 3000));
    EXPECT_EQ (listener.read (listener.disconnected).size(), 1u);
    EXPECT_TRUE (listener.read (listener.connected)[1][0].contains ("/b.sock,"));
    second.reset();
}

//==============================================================================
// Two threads race to send while the device holds its answers back; exactly
// one wins each round, every transfer ends once, and progress is read all
// the while.
TEST_F (HidDeviceManagerConcurrency, RacingRequestsAndBackToBackTransfers)
{
    connect (options());
    std::atomic<bool> stop{false};
    std::thread progressReader (
        [&]
        {
            while (! stop)
            {
                const auto sendProgress = manager->getSendProgress();
                const auto recvProgress = manager->getRecvProgress();
                EXPECT_TRUE (sendProgress >= 0.0 && sendProgress <= 1.0);
                EXPECT_TRUE (recvProgress >= 0.0 && recvProgress <= 1.0);
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
            }
        });

    constexpr int kRounds = 12;
    std::vector<Bytes> accepted;
    for (int round = 0; round < kRounds; ++round)
    {
        const auto a = payloadOf (static_cast<std::size_t> (40 + round * 23), static_cast<unsigned> (round * 2 + 1));
        const auto b = payloadOf (static_cast<std::size_t> (70 + round * 11), static_cast<unsigned> (round * 2 + 2));
        std::atomic<int> wins{0};
        Bytes winner;
        std::mutex winnerLock;
        juce::WaitableEvent go (true);
        const auto racer = [&] (const Bytes& payload)
        {
            go.wait (1000);
            if (manager->sendRequest (0x30, block (payload)))
            {
                ++wins;
                const std::lock_guard<std::mutex> lock (winnerLock);
                winner = payload;
            }
        };
        device->holdOutput (true);
        std::thread first (racer, a), second (racer, b);
        go.signal();
        first.join();
        second.join();
        device->holdOutput (false);
        ASSERT_EQ (wins.load(), 1) << round;
        accepted.push_back (winner);

        ASSERT_TRUE (listener.waitForReceived (static_cast<std::size_t> (round + 1))) << round;
        ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::recvStatus (*manager) == 0; }));
    }
    stop = true;
    progressReader.join();

    const auto sent = listener.read (listener.sent);
    const auto received = listener.read (listener.received);
    ASSERT_EQ (sent.size(), static_cast<std::size_t> (kRounds));
    ASSERT_EQ (received.size(), static_cast<std::size_t> (kRounds));
    for (int round = 0; round < kRounds; ++round)
    {
        EXPECT_EQ (sent[static_cast<std::size_t> (round)], HidDeviceManager::kSuccess);
        EXPECT_EQ (received[static_cast<std::size_t> (round)].result, HidDeviceManager::kSuccess);
        EXPECT_EQ (received[static_cast<std::size_t> (round)].payload, accepted[static_cast<std::size_t> (round)]);
    }
}

// A device that answers the moment it has acknowledged the last packet: its
// start message arrives before the send thread has woken up to that
// acknowledgement, and must not be dropped.
TEST_F (HidDeviceManagerConcurrency, AnAnswerRightAfterTheLastAcknowledgementIsReceived)
{
    auto deviceOptions = options();
    deviceOptions.timing.responseDelayMs = 0; // echoes at once
    connect (deviceOptions);

    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round)
    {
        const auto payload = payloadOf (static_cast<std::size_t> (1 + round * 7), static_cast<unsigned> (round + 1));
        // Refused while the receive thread is still going idle after the last answer.
        ASSERT_TRUE (waitUntil ([&] { return send (0x30, payload); })) << round;
        ASSERT_TRUE (listener.waitForReceived (static_cast<std::size_t> (round + 1), 2000)) << round;
        const auto received = listener.read (listener.received).back();
        EXPECT_EQ (received.result, HidDeviceManager::kSuccess) << round;
        EXPECT_EQ (received.payload, payload) << round;
    }
}

// The device goes in the middle of a message it sends: the receive ends at
// once, and a device plugged in again is served straight away.
TEST_F (HidDeviceManagerConcurrency, UnpluggingEndsATransferInProgressAtOnce)
{
    auto stalling = options();
    stalling.faults.stallAfterSent = 3; // the message stops after its third packet
    connect (stalling);
    device->sendMessage ({0x31, payloadOf (4096)});
    ASSERT_TRUE (waitUntil ([&] { return device->getSentReports().size() == 4; })); // the start and three packets
    ASSERT_TRUE (waitUntil ([&] { return device->getReceivedReports().size() == 4; }));

    device->stop();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.disconnected).size() == 1; }, 3000));
    const auto disconnected = juce::Time::getMillisecondCounterHiRes();
    ASSERT_TRUE (listener.waitForReceived (1, 3000));
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - disconnected, 500.0);
    EXPECT_EQ (listener.read (listener.received)[0].result, HidDeviceManager::kCanceled);

    device = startDevice (options());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.connected).size() == 2; }, 3000));
    ASSERT_TRUE (send (0x30, {1, 2, 3}));
    ASSERT_TRUE (listener.waitForReceived (2));
    EXPECT_EQ (listener.read (listener.received)[1].payload, (Bytes{1, 2, 3}));
}

// The manager goes while a send waits for an answer and a receive waits for
// data: its threads end without notifying anybody, and promptly.
TEST_F (HidDeviceManagerConcurrency, DestroyedInTheMiddleOfTransfers)
{
    for (const bool receiving : {false, true})
    {
        auto deviceOptions = options (receiving ? "r.sock" : "s.sock");
        deviceOptions.faults.stallAfterSent = 0;
        connect (deviceOptions);
        auto* managerPointer = manager.get();

        if (receiving)
        {
            device->sendMessage ({0x20, payloadOf (300)});
            ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::recvStatus (*managerPointer) == 1; }));
        }
        else
        {
            device->holdOutput (true);
            ASSERT_TRUE (send (0x10, payloadOf (300)));
            ASSERT_TRUE (waitUntil ([&] { return HidDeviceManagerTestAccess::sendStatus (*managerPointer) == 2; }));
        }

        const auto start = juce::Time::getMillisecondCounterHiRes();
        manager.reset();
        EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 2000.0);
        EXPECT_TRUE (listener.read (listener.sent).empty());
        EXPECT_TRUE (listener.read (listener.received).empty());
        EXPECT_EQ (hidlink::HidManager::getInstanceWithoutCreating(), nullptr);

        device.reset();
        listener.connected.clear();
    }
}

// A KORVA this user may not open (a hidraw node without the udev rule) is not
// connected, and the listener hears of it once per plug-in: not at every look
// for devices, and it does not keep another device from being connected.
TEST (HidDeviceOpenFailureConcurrency, IsToldOncePerPlugInAndTheDeviceStaysUnconnected)
{
    auto backend = std::make_shared<FakeBackend>();
    backend->present = {fakeCaps ("a")};
    backend->setOpenError ("/fake/a", EACCES);
    ScopedRegistry registry ({backend});
    RecordingListener listener;
    HidDeviceManager manager (HidDeviceManager::Timing{50, 1000, 5});
    manager.setListener (&listener);

    const auto failures = [&] { return listener.read (listener.openFailures).size(); };
    ASSERT_TRUE (runMessageLoopUntil ([&] { return failures() == 1; }));
    EXPECT_EQ (listener.read (listener.openFailures)[0].path, "/fake/a");
    EXPECT_EQ (listener.read (listener.openFailures)[0].error, EACCES);

    // Another KORVA comes: it is connected, while the first is not tried again.
    backend->inject (true, fakeCaps ("b"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.connected).size() == 1; }));
    EXPECT_TRUE (listener.read (listener.connected)[0][0].contains ("/fake/b"));
    EXPECT_EQ (failures(), 1u);

    // Both go; the first is plugged in again: told again, once.
    backend->inject (false, fakeCaps ("b"));
    backend->inject (false, fakeCaps ("a"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.disconnected).size() == 1; }));
    backend->inject (true, fakeCaps ("a"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return failures() == 2; }));

    // With the rule applied and plugged in once more, it is connected.
    backend->setOpenError ("/fake/a", 0);
    backend->inject (false, fakeCaps ("a"));
    backend->inject (true, fakeCaps ("a"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return listener.read (listener.connected).size() == 2; }));
    EXPECT_EQ (failures(), 2u);
    manager.clearListener();
}

} // namespace korva
