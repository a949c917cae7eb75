#include "core/hidlink/HidBackend.h"
#include "core/hidlink/HidLink.h"
#include "tests/core/hidlink/FakeBackend.h"
#include "tests/core/hidlink/HidLinkTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <condition_variable>
#include <thread>

namespace korva
{

using namespace korva::test;
using hidlink::HidPort;

namespace
{
void sendTo (int fd, const std::vector<std::uint8_t>& bytes)
{
    ASSERT_EQ (::send (fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t> (bytes.size()));
}

struct RegistryFixture : ::testing::Test
{
    std::shared_ptr<FakeBackend> backend = std::make_shared<FakeBackend>();
    std::unique_ptr<ScopedRegistry> registry;

    void create()
    {
        registry = std::make_unique<ScopedRegistry> (std::vector<std::shared_ptr<hidlink::HidBackend>>{backend});
    }

    bool waitForIdentifiers (int count)
    {
        return waitUntil ([&] { return (*registry)->getDeviceIdentifiers().size() == count; }, 3000);
    }
};

// The cases where threads meet; they also run under ThreadSanitizer.
struct HidLinkConcurrency : RegistryFixture
{
};
} // namespace

//==============================================================================
TEST (FdHidPort, PutsTheReportIdInFrontOfUnnumberedReportsOnly)
{
    for (const bool prepend : {true, false})
    {
        int fds[2];
        ASSERT_EQ (::socketpair (AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
        hidlink::FdHidPort port (fds[0], prepend);

        // hidraw hands an unnumbered report over without its report-ID byte.
        const auto sent = prepend ? report ({0xA8, 0x01}, 64) : report ({0x00, 0xA8, 0x01}, 65);
        sendTo (fds[1], sent);

        std::vector<std::uint8_t> buffer (65, 0xEE);
        int bytesRead = 0;
        ASSERT_EQ (port.readReport (buffer.data(), 65, 1000, bytesRead), HidPort::ReadStatus::kReport);
        EXPECT_EQ (bytesRead, 65);
        EXPECT_EQ (buffer, report ({0x00, 0xA8, 0x01}, 65)) << "prepend " << prepend;

        // Written reports go out as they are, report ID first.
        const auto out = report ({0x00, 0xA0, 0x01});
        EXPECT_EQ (port.writeReport (out.data(), 65), 65);
        std::vector<std::uint8_t> received (100, 0);
        ASSERT_EQ (::recv (fds[1], received.data(), received.size(), 0), 65);
        received.resize (65);
        EXPECT_EQ (received, out);
        ::close (fds[1]);
    }
}

// The lock that keeps two programs off one KORVA: exclusive while held (a
// second claim, which another program's would be, is EBUSY), free once let
// go; a lock file it makes may be locked by every user.
TEST (HidClaim, OneClaimAtATimeAndFreeOnceLetGo)
{
    TempFolder tmp;
    const auto node = (tmp / "hidraw0").getFullPathName().toStdString();
    int error = 0;
    EXPECT_EQ (hidlink::claimWithLock (node, false, error), nullptr);
    EXPECT_EQ (error, ENOENT) << "a node that is not there is not made";

    ASSERT_TRUE ((tmp / "hidraw0").create());
    auto first = hidlink::claimWithLock (node, false, error);
    ASSERT_NE (first, nullptr) << std::strerror (error);
    EXPECT_EQ (hidlink::claimWithLock (node, false, error), nullptr);
    EXPECT_EQ (error, EBUSY);
    first.reset();
    EXPECT_NE (hidlink::claimWithLock (node, false, error), nullptr) << std::strerror (error);

    const auto lockFile = tmp / "korva.sock.lock";
    const auto made = hidlink::claimWithLock (lockFile.getFullPathName().toStdString(), true, error);
    ASSERT_NE (made, nullptr) << std::strerror (error);
    struct stat info {};
    ASSERT_EQ (::stat (lockFile.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0666u);
}

TEST (FdHidPort, TellsTimeoutWakeAndGoneApart)
{
    int fds[2];
    ASSERT_EQ (::socketpair (AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    hidlink::FdHidPort port (fds[0], false);
    std::uint8_t buffer[65];
    int bytesRead = 0;

    const auto start = juce::Time::getMillisecondCounterHiRes();
    EXPECT_EQ (port.readReport (buffer, 65, 100, bytesRead), HidPort::ReadStatus::kTimeout);
    EXPECT_GE (juce::Time::getMillisecondCounterHiRes() - start, 90.0);

    // A report that arrived before the hang-up is still read, then the device is gone.
    sendTo (fds[1], report ({0x00, 0xA9}));
    ::close (fds[1]);
    EXPECT_EQ (port.readReport (buffer, 65, 1000, bytesRead), HidPort::ReadStatus::kReport);
    EXPECT_EQ (buffer[1], 0xA9);
    EXPECT_EQ (port.readReport (buffer, 65, 1000, bytesRead), HidPort::ReadStatus::kGone);
    EXPECT_LT (port.writeReport (buffer, 65), 0);

    port.wake();
    EXPECT_EQ (port.readReport (buffer, 65, 1000, bytesRead), HidPort::ReadStatus::kWoken);
    EXPECT_EQ (port.readReport (buffer, 65, 1000, bytesRead), HidPort::ReadStatus::kWoken) << "a wake-up lasts";
}

//==============================================================================
TEST_F (RegistryFixture, EnumerationKeepsTargetDevicesInOrder)
{
    backend->present = {fakeCaps ("a"), fakeCaps ("mouse", 0x046D, 0xC077), fakeCaps ("b"),
                        fakeCaps ("other-product", hidlink::kKorvaVendorId, 0x0A32)};
    create();

    const auto identifiers = (*registry)->getDeviceIdentifiers();
    ASSERT_EQ (identifiers.size(), 2);
    EXPECT_TRUE (identifiers[0].startsWith ("KORVA,/fake/a,"));
    EXPECT_TRUE (identifiers[1].startsWith ("KORVA,/fake/b,"));
    EXPECT_EQ (trailingNumber (identifiers[1]), trailingNumber (identifiers[0]) + 1);

    ASSERT_NE ((*registry)->findDevice (identifiers[1]), nullptr);
    EXPECT_EQ ((*registry)->findDevice (identifiers[1])->getCaps().path, "/fake/b");
    EXPECT_EQ ((*registry)->findDevice (identifiers[1].toUpperCase()), nullptr) << "identifiers are exact";
    EXPECT_EQ ((*registry)->findDevice ({}), nullptr);
}

TEST_F (HidLinkConcurrency, HotPlugRunsOnTheRegistrysThreadAndAnArrivalReplacesTheSamePath)
{
    create();
    ConnectRecorder recorder;

    backend->inject (true, fakeCaps ("a"));
    ASSERT_TRUE (waitForIdentifiers (1));
    const auto first = (*registry)->getDeviceIdentifiers()[0];

    // The same path again: the registry never holds two devices with one path.
    backend->inject (true, fakeCaps ("a"));
    ASSERT_TRUE (waitUntil ([&] { return (*registry)->getDeviceIdentifiers() != juce::StringArray (first); }));
    const auto second = (*registry)->getDeviceIdentifiers();
    ASSERT_EQ (second.size(), 1);
    EXPECT_GT (trailingNumber (second[0]), trailingNumber (first));
    EXPECT_EQ ((*registry)->findDevice (first), nullptr);

    // Removal goes by path alone; an unknown path changes nothing.
    backend->inject (false, hidlink::HidDeviceCaps ("/fake/unknown"));
    backend->inject (false, hidlink::HidDeviceCaps ("/fake/a"));
    ASSERT_TRUE (waitForIdentifiers (0));

    // Plugged in again: a higher number than ever before.
    backend->inject (true, fakeCaps ("a"));
    ASSERT_TRUE (waitForIdentifiers (1));
    EXPECT_GT (trailingNumber ((*registry)->getDeviceIdentifiers()[0]), trailingNumber (second[0]));

    ASSERT_TRUE (waitUntil ([&] { return recorder.events().size() == 5; }));
    EXPECT_EQ (recorder.events(),
               (std::vector<std::string>{"+/fake/a", "+/fake/a", "-/fake/unknown", "-/fake/a", "+/fake/a"}));
    for (auto thread : recorder.threads())
    {
        EXPECT_EQ (thread, (*registry)->getNotificationThreadId());
        EXPECT_NE (thread, juce::Thread::getCurrentThreadId());
    }
}

TEST_F (RegistryFixture, DestroyingTheRegistryKeepsOpenDevicesAlive)
{
    backend->present = {fakeCaps ("a")};
    create();
    RecordingCallback callback;
    std::unique_ptr<hidlink::HidInput> input (
        hidlink::HidInput::create ((*registry)->getDeviceIdentifiers()[0], &callback));
    ASSERT_NE (input, nullptr);
    input->open();

    registry.reset();
    EXPECT_EQ (hidlink::HidManager::getInstanceWithoutCreating(), nullptr);

    // The input still works: its device outlives the registry.
    sendTo (backend->peers ("/fake/a")[0], report ({0x00, 0xA8}));
    EXPECT_TRUE (callback.waitForCount (1));
    EXPECT_EQ (hidlink::HidInput::create ("KORVA,/fake/a,1", &callback), nullptr) << "no registry, no input";
}

//==============================================================================
TEST_F (RegistryFixture, ReaderPassesOnlyNewReportsWithoutTheirReportId)
{
    backend->present = {fakeCaps ("a")};
    create();
    RecordingCallback callback;
    std::unique_ptr<hidlink::HidInput> input (
        hidlink::HidInput::create ((*registry)->getDeviceIdentifiers()[0], &callback));
    ASSERT_NE (input, nullptr);
    EXPECT_EQ (input->getInputReportLength(), 65);
    EXPECT_EQ (input->getOutputReportLength(), 65);
    input->open();
    const int peer = backend->peers ("/fake/a").at (0);

    // A first report of zeros and a repeated report are dropped.
    const std::vector<std::vector<std::uint8_t>> sent = {
        report ({}),
        report ({0x00, 0xA8, 0x01}),
        report ({0x00, 0xA8, 0x01}),
        report ({0x00, 0xA9, 0x01, 0x01}),
        report ({0x00, 0xA8, 0x01}),
        report ({}),
    };
    for (const auto& bytes : sent)
        sendTo (peer, bytes);

    ASSERT_TRUE (callback.waitForCount (4));
    const auto received = callback.reports();
    ASSERT_EQ (received.size(), 4u);
    const std::vector<std::uint8_t> expected[] = {std::vector<std::uint8_t> (sent[1].begin() + 1, sent[1].end()),
                                                  std::vector<std::uint8_t> (sent[3].begin() + 1, sent[3].end()),
                                                  std::vector<std::uint8_t> (sent[4].begin() + 1, sent[4].end()),
                                                  std::vector<std::uint8_t> (64, 0)};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ (received[i], expected[i]) << "report " << i;
    for (auto* source : callback.sources())
        EXPECT_EQ (source, input.get());
}

TEST_F (RegistryFixture, WriterChecksTheLengthAndTracesFailures)
{
    backend->present = {fakeCaps ("a")};
    create();
    RecordingCallback callback;
    std::unique_ptr<hidlink::HidInput> input (
        hidlink::HidInput::create ((*registry)->getDeviceIdentifiers()[0], &callback));
    const auto bytes = report ({0x00, 0xA0, 0x01});

    DebugOutputCapture traces;
    EXPECT_FALSE (input->write (bytes.data(), 65)) << "not open yet";
    EXPECT_TRUE (traces.lines().empty());

    input->open();
    EXPECT_FALSE (input->write (bytes.data(), 64));
    EXPECT_TRUE (traces.contains ("Err(Capability output size) : size = 64 / capability output size = 65"));

    EXPECT_TRUE (input->write (bytes.data(), 65));
    const int writerPeer = backend->peers ("/fake/a").at (1);
    std::vector<std::uint8_t> received (100, 0);
    ASSERT_EQ (::recv (writerPeer, received.data(), received.size(), 0), 65);
    received.resize (65);
    EXPECT_EQ (received, bytes);

    // The device end has gone.
    ::shutdown (writerPeer, SHUT_RDWR);
    traces.clear();
    EXPECT_FALSE (input->write (bytes.data(), 65));
    EXPECT_TRUE (traces.contains ("Err(WriteFile):GetLastError() = " + std::to_string (EPIPE)));
}

namespace
{
class ShortPort final : public hidlink::HidPort
{
public:
    ReadStatus readReport (std::uint8_t*, int, int, int&) override { return ReadStatus::kGone; }
    void wake() override {}
    int writeReport (const std::uint8_t*, int size) override { return size - 1; }
    bool errorMeansGone (int) const noexcept override { return false; }
};
} // namespace

TEST (HidDeviceWrite, AShortWriteIsAFailure)
{
    DebugOutputCapture traces;
    hidlink::HidDeviceWrite writer (fakeCaps ("a"), std::make_unique<ShortPort>());
    const auto bytes = report ({0x00, 0xA0});
    EXPECT_FALSE (writer.write (bytes.data(), 65));
    EXPECT_TRUE (traces.contains ("Err(WriteFile) : bytesWritten = 64 / writeSize = 65"));
}

TEST_F (RegistryFixture, ASecondInputTakesOverAndTheFirstOneLeavingDoesNotCutItOff)
{
    backend->present = {fakeCaps ("a")};
    create();
    const auto identifier = (*registry)->getDeviceIdentifiers()[0];
    RecordingCallback firstCallback, secondCallback;
    std::unique_ptr<hidlink::HidInput> first (hidlink::HidInput::create (identifier, &firstCallback));
    first->open();
    std::unique_ptr<hidlink::HidInput> second (hidlink::HidInput::create (identifier, &secondCallback));
    EXPECT_EQ (second->getIdentifier(), identifier);

    const int peer = backend->peers ("/fake/a").at (0);
    sendTo (peer, report ({0x00, 0xA8}));
    ASSERT_TRUE (secondCallback.waitForCount (1));

    first.reset();
    sendTo (peer, report ({0x00, 0xA9}));
    ASSERT_TRUE (secondCallback.waitForCount (2));
    EXPECT_TRUE (firstCallback.reports().empty());
    EXPECT_EQ (secondCallback.sources(), (std::vector<hidlink::HidInput*>{second.get(), second.get()}));
}

TEST (HidDeviceRead, StopsPromptlyWhetherWaitingOrAfterTheDeviceWentAway)
{
    struct NullCallback final : hidlink::HidDeviceReadCallback
    {
        void onRead (const std::uint8_t*, int) override { ++calls; }
        void onReadGone() override { ++gone; }
        std::atomic<int> calls{0}, gone{0};
    } callback;

    for (const bool gone : {false, true})
    {
        int fds[2];
        ASSERT_EQ (::socketpair (AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
        auto reader = std::make_unique<hidlink::HidDeviceRead> (
            fakeCaps ("a"), std::make_unique<hidlink::FdHidPort> (fds[0], false), &callback);
        if (gone)
        {
            ::close (fds[1]);
            ASSERT_TRUE (waitUntil ([&] { return callback.gone.load() == 1; }));
        }

        const auto start = juce::Time::getMillisecondCounterHiRes();
        reader.reset();
        EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 500.0) << "gone " << gone;
        if (! gone)
            ::close (fds[1]);
    }
    EXPECT_EQ (callback.calls.load(), 0);
    EXPECT_EQ (callback.gone.load(), 1) << "the end is told once, and only when it comes";
}

// A device that stops answering without being unplugged (its program was
// killed, its end of the link closed) counts as unplugged at once: it leaves
// the registry whether its reader or a write finds out. A device plugged in
// at the same path since then is another device, and stays.
TEST_F (HidLinkConcurrency, ADeviceWhoseLinkDiesLeavesTheRegistryButNotItsSuccessor)
{
    DebugOutputCapture traces;
    backend->present = {fakeCaps ("a"), fakeCaps ("b")};
    create();
    const auto first = (*registry)->getDeviceIdentifiers();
    ASSERT_EQ (first.size(), 2);
    RecordingCallback callback;
    std::unique_ptr<hidlink::HidInput> oldA (hidlink::HidInput::create (first[0], &callback));
    std::unique_ptr<hidlink::HidInput> b (hidlink::HidInput::create (first[1], &callback));
    oldA->open();
    b->open();

    // "a" is plugged in again before its old link is found dead.
    backend->inject (true, fakeCaps ("a"));
    ASSERT_TRUE (waitUntil ([&] { return ! (*registry)->getDeviceIdentifiers().contains (first[0]); }));
    const auto newA = (*registry)->getDeviceIdentifiers()[1];

    ::close (backend->peers ("/fake/a").at (0)); // the old reader's end
    ASSERT_TRUE (waitUntil (
        [&] { return traces.contains ("HidDevice: /fake/a does not answer any more (reading ended): it counts as unplugged"); }));

    ::close (backend->peers ("/fake/b").at (1)); // the writer's end
    const auto bytes = report ({0x00, 0xA0});
    EXPECT_FALSE (b->write (bytes.data(), 65));
    EXPECT_TRUE (traces.contains ("HidDevice: /fake/b does not answer any more (a write failed): it counts as unplugged"));
    // Nothing more is written to it.
    EXPECT_FALSE (b->write (bytes.data(), 65));
    EXPECT_EQ (traces.count ("Err(WriteFile):GetLastError() = " + std::to_string (EPIPE)), 1);

    ASSERT_TRUE (waitUntil ([&] { return (*registry)->getDeviceIdentifiers() == juce::StringArray (newA); }))
        << (*registry)->getDeviceIdentifiers().joinIntoString (" ");
    // The registry tells of the removal just after it, outside its lock.
    EXPECT_TRUE (waitUntil ([&] { return traces.contains ("HidManager: /fake/b left the registry: its link is lost"); }));
    EXPECT_FALSE (traces.contains ("HidManager: /fake/a left the registry: its link is lost"))
        << "the old a was replaced already";
}

//==============================================================================
// A delivery in progress holds the device lock: deleting the input waits for
// it, and afterwards the (now destroyed) callback is never called again.
TEST_F (HidLinkConcurrency, DeletingAnInputWhileItsReaderDelivers)
{
    backend->present = {fakeCaps ("a")};
    create();

    struct BlockingCallback final : hidlink::HidInputCallback
    {
        void onHidInput (hidlink::HidInput*, const std::uint8_t*, int) override
        {
            entered.signal();
            release.wait (5000);
            ++calls;
        }
        juce::WaitableEvent entered, release;
        std::atomic<int> calls{0};
    };

    auto callback = std::make_unique<BlockingCallback>();
    auto* input = hidlink::HidInput::create ((*registry)->getDeviceIdentifiers()[0], callback.get());
    input->open();
    const int peer = backend->peers ("/fake/a").at (0);
    sendTo (peer, report ({0x00, 0xA8}));
    ASSERT_TRUE (callback->entered.wait (3000));

    std::atomic<bool> deleted{false};
    std::thread deleter (
        [&]
        {
            delete input;
            deleted = true;
        });
    juce::Thread::sleep (100);
    EXPECT_FALSE (deleted.load()) << "the deletion must wait for the delivery";

    callback->release.signal();
    deleter.join();
    EXPECT_TRUE (deleted.load());
    EXPECT_EQ (callback->calls.load(), 1);
    callback.reset();

    // Reports after the deletion reach nobody (a call would hit freed memory).
    sendTo (peer, report ({0x00, 0xA9}));
    sendTo (peer, report ({0x00, 0xAE}));
    juce::Thread::sleep (100);
}

} // namespace korva
