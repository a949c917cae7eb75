// The Windows backend under the registry, with Windows's services made up
// (FakeWinHidApi.h): the same tests on every system.

#include "core/hidlink/HidBackend.h"
#include "core/hidlink/HidLink.h"
#include "core/hidlink/WinHidBackend.h"
#include "tests/core/hidlink/FakeWinHidApi.h"
#include "tests/core/hidlink/HidLinkTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

namespace korva
{

using namespace korva::test;
using Interface = FakeWinHidApi::Interface;

namespace
{
struct WinHidFixture : ::testing::Test
{
    std::shared_ptr<FakeWinHidApi> api = std::make_shared<FakeWinHidApi>();
    // Short slices and retries: nothing in these tests waits for them.
    hidlink::WinHidTiming timing{20, 20};
    std::unique_ptr<ScopedRegistry> registry;

    void create()
    {
        registry = std::make_unique<ScopedRegistry> (
            std::vector<std::shared_ptr<hidlink::HidBackend>>{hidlink::makeWinHidBackend (api, timing)});
    }

    juce::StringArray identifiers() const { return (*registry)->getDeviceIdentifiers(); }

    std::vector<std::string> registeredPaths() const
    {
        std::vector<std::string> paths;
        for (const auto& identifier : identifiers())
            if (auto device = (*registry)->findDevice (identifier))
                paths.push_back (device->getCaps().path);
        return paths;
    }

    bool waitForPaths (const std::vector<std::string>& paths)
    {
        return waitUntil ([&] { return registeredPaths() == paths; }, 3000);
    }

    std::unique_ptr<hidlink::HidInput> openInput (const std::string& path, hidlink::HidInputCallback& callback)
    {
        for (const auto& identifier : identifiers())
            if (auto device = (*registry)->findDevice (identifier); device != nullptr && device->getCaps().path == path)
            {
                std::unique_ptr<hidlink::HidInput> input (hidlink::HidInput::create (identifier, &callback));
                if (input != nullptr)
                    input->open();
                return input;
            }
        return nullptr;
    }
};

// The cases where threads meet; they also run under ThreadSanitizer.
struct WinHidConcurrency : WinHidFixture
{
};

// A KORVA interface with everything readable.
Interface korvaInterface (const std::string& instance)
{
    Interface made;
    made.path = interfacePath (instance);
    return made;
}

hidlink::WinGuid otherGuid()
{
    auto guid = hidInterfaceGuid();
    guid.data4[7] ^= 1;
    return guid;
}
} // namespace

//==============================================================================
// Enumeration lists every interface in the system's order and describes it;
// the registry keeps the KORVAs among them that could be described.
TEST_F (WinHidFixture, EnumerationKeepsTheDescribableKorvasInOrder)
{
    Interface mouse = korvaInterface ("mouse");
    mouse.path = interfacePath ("0000", "vid_046d&pid_c077");
    mouse.attributes = {0x046D, 0xC077, 0x0110};
    Interface otherProduct = korvaInterface ("0002");
    otherProduct.attributes.productId = 0x0A32;
    Interface busy = korvaInterface ("0003");
    busy.openError = hidlink::winerror::kSharingViolation;
    Interface withoutAttributes = korvaInterface ("0004");
    withoutAttributes.attributesReadable = false;
    Interface withoutLengths = korvaInterface ("0005");
    withoutLengths.reportLengthsReadable = false;
    // 600 two-byte characters: more than the 1023 bytes kept.
    Interface longName = korvaInterface ("0006");
    longName.product.clear();
    for (int i = 0; i < 600; ++i)
        longName.product += "\xC3\xA9";
    longName.attributes.versionNumber = 0x0203;
    longName.reportLengths = {33, 17};

    for (const auto& made : {korvaInterface ("0001"), mouse, otherProduct, busy, withoutAttributes, withoutLengths,
                             longName})
        api->plug (made);
    create();

    EXPECT_EQ (registeredPaths(), (std::vector<std::string>{korvaInterface ("0001").path, withoutLengths.path,
                                                             longName.path}));
    EXPECT_EQ (api->counts().listsAlive, 0) << "the list is released";

    const auto ids = identifiers();
    ASSERT_EQ (ids.size(), 3);
    EXPECT_TRUE (ids[0].startsWith ("KORVA," + juce::String (korvaInterface ("0001").path) + ",")) << ids[0];
    EXPECT_EQ (trailingNumber (ids[1]), trailingNumber (ids[0]) + 1);

    const auto first = (*registry)->findDevice (ids[0])->getCaps();
    EXPECT_EQ (first.versionNumber, 0x0100);
    EXPECT_EQ (first.manufacturer, "MELDRA");
    EXPECT_EQ (first.inputReportLength, 65);
    EXPECT_EQ (first.outputReportLength, 65);

    const auto lengthless = (*registry)->findDevice (ids[1])->getCaps();
    EXPECT_EQ (lengthless.product, "KORVA");
    EXPECT_EQ (lengthless.inputReportLength, 0);
    EXPECT_EQ (lengthless.outputReportLength, 0);

    const auto described = (*registry)->findDevice (ids[2])->getCaps();
    EXPECT_EQ (described.versionNumber, 0x0203);
    EXPECT_EQ (described.inputReportLength, 33);
    EXPECT_EQ (described.outputReportLength, 17);
    EXPECT_EQ (described.product, longName.product.substr (0, 1022)) << "cut whole characters at 1023 bytes at most";
}

// A member whose detail cannot be read ends the enumeration: what was found
// before it stands.
TEST_F (WinHidFixture, AMemberThatCannotBeReadEndsTheEnumeration)
{
    const std::vector<std::string> all = {korvaInterface ("0001").path, korvaInterface ("0002").path,
                                          korvaInterface ("0003").path};
    for (int instance = 1; instance <= 3; ++instance)
        api->plug (korvaInterface ("000" + std::to_string (instance)));

    for (const int failing : {-1, 0, 1, 2, 3})
    {
        api->failMember (failing);
        create();
        const auto kept = failing < 0 ? all.size() : static_cast<size_t> (failing);
        EXPECT_EQ (registeredPaths(),
                   std::vector<std::string> (all.begin(), all.begin() + static_cast<std::ptrdiff_t> (kept)))
            << "failing member " << failing;
        EXPECT_EQ (api->counts().listsAlive, 0);
        registry.reset();
    }
}

// The hot-plug window is made, and destroyed, by the registry's thread,
// before the enumeration: a device plugged in meanwhile is not missed, and
// one unplugged meanwhile is not left behind.
TEST_F (WinHidConcurrency, TheWindowIsTheRegistrysThreadsAndWatchesFromBeforeTheEnumeration)
{
    const auto early = korvaInterface ("0001");
    const auto late = korvaInterface ("0002");
    const auto gone = korvaInterface ("0003");
    api->plug (early);
    api->plug (gone);

    // While the list is read: one interface comes, another (described
    // already) goes. Neither change may be handed on before the enumeration
    // is over: the removal would come before the arrival it undoes, which
    // the order of the callbacks shows.
    ConnectRecorder recorder;
    bool notified = true;
    api->onMember ([&] (std::uint32_t index) {
        if (index == 2)
        {
            api->plug (late, false);
            notified = api->notifyArrival (late.path) && notified;
            api->unplug (gone.path);
            notified = api->notifyRemoval (gone.path) && notified;
        }
    });
    create();
    EXPECT_TRUE (notified) << "the window exists before the enumeration";

    EXPECT_TRUE (waitForPaths ({early.path, late.path})) << juce::StringArray (identifiers()).joinIntoString (" ");
    EXPECT_TRUE (waitUntil ([&] { return recorder.events().size() == 4; }, 3000));
    EXPECT_EQ (recorder.events(),
               (std::vector<std::string>{"+" + early.path, "+" + gone.path, "+" + late.path, "-" + gone.path}));

    const auto threads = api->windowThreads();
    ASSERT_EQ (threads.size(), 1u);
    EXPECT_EQ (threads[0], (*registry)->getNotificationThreadId());
    EXPECT_NE (threads[0], juce::Thread::getCurrentThreadId());

    const auto registryThread = (*registry)->getNotificationThreadId();
    registry.reset();
    ASSERT_EQ (api->windowThreads().size(), 2u);
    EXPECT_EQ (api->windowThreads()[1], registryThread) << "destroyed by the thread that made it";
    EXPECT_EQ (api->counts().windowsAlive, 0);
}

//==============================================================================
// Arrivals and completed removals of KORVA interfaces of the HID class, and
// nothing else, reach the registry, on its thread.
TEST_F (WinHidConcurrency, NotificationsOfKorvaInterfacesReachTheRegistryOnItsThread)
{
    create();
    ConnectRecorder recorder;
    // The registry hears of a change first, the recorder next.
    const auto waitForEvents = [&] (std::size_t count)
    { return waitUntil ([&] { return recorder.events().size() >= count; }, 3000); };
    const auto a = korvaInterface ("0001");
    api->plug (a, false);

    struct Ignored
    {
        std::uint32_t event;
        std::uint32_t deviceType;
        hidlink::WinGuid guid;
        std::string name;
        const char* why;
    };
    const Ignored ignored[] = {
        {0x8001, hidlink::kDeviceTypeInterface, hidInterfaceGuid(), a.path, "query remove"},
        {0x8003, hidlink::kDeviceTypeInterface, hidInterfaceGuid(), a.path, "remove pending"},
        {0x0007, 0, {}, {}, "nodes changed, no header"},
        {hidlink::kDeviceArrival, 3, hidInterfaceGuid(), a.path, "a port, not an interface"},
        {hidlink::kDeviceArrival, hidlink::kDeviceTypeInterface, otherGuid(), a.path, "another interface class"},
        {hidlink::kDeviceArrival, hidlink::kDeviceTypeInterface, hidInterfaceGuid(),
         interfacePath ("0009", "vid_046d&pid_c077"), "another device"},
        {hidlink::kDeviceArrival, hidlink::kDeviceTypeInterface, hidInterfaceGuid(),
         interfacePath ("0009", "vid_7c4e&pid_0a32"), "another product"},
        {hidlink::kDeviceRemoveComplete, hidlink::kDeviceTypeInterface, otherGuid(), a.path, "removal, another class"},
    };
    for (const auto& notification : ignored)
        ASSERT_TRUE (api->notify (notification.event, notification.deviceType, notification.guid, notification.name))
            << notification.why;

    // The path is searched upper-cased: lower-case ids match.
    ASSERT_TRUE (api->notifyArrival (a.path));
    ASSERT_TRUE (waitForPaths ({a.path}));
    ASSERT_TRUE (waitForEvents (1));
    const auto first = identifiers()[0];
    EXPECT_TRUE (first.startsWith ("KORVA," + juce::String (a.path) + ","));
    EXPECT_EQ (recorder.events(), std::vector<std::string>{"+" + a.path}) << "nothing else got through";
    EXPECT_EQ (recorder.caps()[0].outputReportLength, 65) << "an arrival is described";

    // Upper-case ids match as well; an arrival registers even a device
    // whose attributes cannot be read.
    auto b = korvaInterface ("0002");
    b.path = "\\\\?\\HID#VID_7C4E&PID_0A31#7&2A5F03C1&0&0002#{4D1E55B2-F16F-11CF-88CB-001111000030}";
    b.attributesReadable = false;
    api->plug (b, false);
    ASSERT_TRUE (api->notifyArrival (b.path));
    ASSERT_TRUE (waitForPaths ({a.path, b.path}));
    ASSERT_TRUE (waitForEvents (2));
    EXPECT_EQ (recorder.caps()[1].path, b.path);
    EXPECT_EQ (recorder.caps()[1].vendorId, 0);

    // A second arrival for a registered path replaces its device.
    ASSERT_TRUE (api->notifyArrival (a.path));
    ASSERT_TRUE (waitForPaths ({b.path, a.path}));
    const auto second = identifiers()[1];
    EXPECT_GT (trailingNumber (second), trailingNumber (first));
    EXPECT_EQ ((*registry)->findDevice (first), nullptr);

    // A removal goes by the path alone (nothing can be read of it any more);
    // an unknown path changes nothing.
    api->unplug (a.path);
    ASSERT_TRUE (api->notifyRemoval (interfacePath ("0009")));
    ASSERT_TRUE (api->notifyRemoval (a.path));
    ASSERT_TRUE (waitForPaths ({b.path}));
    ASSERT_TRUE (waitForEvents (5));
    EXPECT_EQ (recorder.caps()[4].path, a.path);
    EXPECT_EQ (recorder.caps()[4].vendorId, 0);

    // Plugged in again: a higher number than ever before.
    api->plug (a, false);
    ASSERT_TRUE (api->notifyArrival (a.path));
    ASSERT_TRUE (waitForPaths ({b.path, a.path}));
    EXPECT_GT (trailingNumber (identifiers()[1]), trailingNumber (second));

    ASSERT_TRUE (waitForEvents (6));
    EXPECT_EQ (recorder.events(), (std::vector<std::string>{"+" + a.path, "+" + b.path, "+" + a.path,
                                                             "-" + interfacePath ("0009"), "-" + a.path,
                                                             "+" + a.path}));
    for (auto thread : recorder.threads())
        EXPECT_EQ (thread, (*registry)->getNotificationThreadId());
}

//==============================================================================
// Reports go through the Windows port as through any other: a repeated one,
// and a first one of zeros, are not passed on; the report ID is left out.
TEST_F (WinHidFixture, TheReaderPassesOnlyNewReportsWithoutTheirReportId)
{
    const auto a = korvaInterface ("0001");
    api->plug (a);
    create();
    RecordingCallback callback;
    auto input = openInput (a.path, callback);
    ASSERT_NE (input, nullptr);
    EXPECT_EQ (input->getOpenFailure().error, 0);

    const std::vector<std::vector<std::uint8_t>> sent = {
        report ({}),
        report ({0x00, 0xA8, 0x01}),
        report ({0x00, 0xA8, 0x01}),
        report ({0x00, 0xA9, 0x01, 0x01}),
        report ({0x00, 0xA8, 0x01}),
        report ({}),
    };
    for (const auto& bytes : sent)
        api->send (a.path, bytes);

    ASSERT_TRUE (callback.waitForCount (4));
    ASSERT_TRUE (api->waitForPendingRead (a.path)) << "the next read is under way";
    const auto received = callback.reports();
    ASSERT_EQ (received.size(), 4u);
    const std::size_t passedOn[] = {1, 3, 4, 5};
    for (std::size_t i = 0; i < 4; ++i)
    {
        const auto& expected = sent[passedOn[i]];
        EXPECT_EQ (received[i], std::vector<std::uint8_t> (expected.begin() + 1, expected.end())) << "report " << i;
    }
    EXPECT_LE (api->counts().longestAwaitMs, timing.readSliceMs) << "a read is waited on in slices";
}

// A read that is waiting when the reader stops is cancelled, and its end
// awaited, at once: the slice it waits in is not waited out.
TEST_F (WinHidConcurrency, StoppingTheReaderCancelsItsPendingRead)
{
    timing.readSliceMs = 60000;
    const auto a = korvaInterface ("0001");
    api->plug (a);
    create();
    RecordingCallback callback;
    auto input = openInput (a.path, callback);
    ASSERT_NE (input, nullptr);
    ASSERT_TRUE (api->waitForPendingRead (a.path));

    // The input holds the last reference: the device, its reader with it,
    // goes with the input.
    registry.reset();
    const auto start = juce::Time::getMillisecondCounterHiRes();
    input.reset();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 2000.0);

    const auto counts = api->counts();
    EXPECT_EQ (counts.readersAlive, 0);
    EXPECT_EQ (counts.cancelledReads, 1);
    EXPECT_EQ (counts.readersClosedPending, 0) << "the read was over before its handle closed";
    EXPECT_TRUE (callback.reports().empty());
}

// A read that fails with an error meaning the device has gone (at once, or
// while it waits: unplugged without a removal notice) takes the device out
// of the registry. Another failure is tried again after the retry delay,
// and the device stays.
TEST_F (WinHidConcurrency, AReadFailureMeaningTheDeviceHasGoneTakesItOutOfTheRegistry)
{
    struct Case
    {
        std::uint32_t error; // 0: unplugged while the read waits
        bool gone;
    };
    const Case cases[] = {
        {hidlink::winerror::kDeviceNotConnected, true},
        {hidlink::winerror::kInvalidHandle, true},
        {hidlink::winerror::kGenFailure, true},
        {hidlink::winerror::kOperationAborted, true},
        {hidlink::winerror::kDeviceRemoved, true},
        {0, true},
        {hidlink::winerror::kCrc, false},
        {hidlink::winerror::kTimeout, false},
    };

    int instance = 0;
    for (const auto& test : cases)
    {
        SCOPED_TRACE ("Windows error " + std::to_string (test.error));
        DebugOutputCapture traces;
        // Devices of their own each time: what the last ones went through does not count.
        const auto a = korvaInterface ("A" + std::to_string (++instance));
        const auto b = korvaInterface ("B" + std::to_string (instance));
        api->plug (a);
        api->plug (b);
        create();
        RecordingCallback callback;
        auto input = openInput (a.path, callback);
        ASSERT_NE (input, nullptr);
        ASSERT_TRUE (api->waitForPendingRead (a.path));

        if (test.error == 0)
            api->unplug (a.path);
        else
        {
            api->change (a.path, [&] (Interface& made) { made.readError = test.error; });
            api->send (a.path, report ({0x00, 0xA8})); // ends the read under way: the next one fails
        }

        if (test.gone)
        {
            EXPECT_TRUE (waitForPaths ({b.path}));
            EXPECT_TRUE (traces.contains ("HidDevice: " + a.path
                                          + " does not answer any more (reading ended): it counts as unplugged"));
        }
        else
        {
            // Tried again and again, each after the retry delay, the device still there.
            ASSERT_TRUE (api->waitForReads (a.path, 4));
            EXPECT_EQ (registeredPaths(), (std::vector<std::string>{a.path, b.path}));
            EXPECT_EQ (api->counts().longestSleepMs, timing.retryDelayMs);
            EXPECT_EQ (traces.count ("WinHidBackend: reading " + a.path + " failed (Windows error "
                                     + std::to_string (test.error) + "), trying again"),
                       1)
                << "a run of failures is told once";

            // Once reading works again, reports come through.
            api->change (a.path, [] (Interface& made) { made.readError = 0; });
            api->send (a.path, report ({0x00, 0xA9}));
            EXPECT_TRUE (callback.waitForCount (2));
        }

        input.reset();
        registry.reset();
        api->unplug (a.path);
        api->unplug (b.path);
        EXPECT_EQ (api->counts().readersAlive, 0);
    }
}

//==============================================================================
// The writer checks the length, and traces Windows's own error codes, which
// the port judges: one meaning the device has gone takes it out of the
// registry, another does not.
TEST_F (WinHidFixture, TheWriterTracesAndJudgesWindowsErrors)
{
    const auto a = korvaInterface ("0001");
    const auto b = korvaInterface ("0002");
    api->plug (a);
    api->plug (b);
    create();
    RecordingCallback callback;
    auto input = openInput (a.path, callback);
    ASSERT_NE (input, nullptr);
    const auto bytes = report ({0x00, 0xA0, 0x01});

    DebugOutputCapture traces;
    EXPECT_FALSE (input->write (bytes.data(), 64));
    EXPECT_TRUE (traces.contains ("Err(Capability output size) : size = 64 / capability output size = 65"));

    EXPECT_TRUE (input->write (bytes.data(), 65));
    EXPECT_EQ (api->written (a.path), std::vector<std::vector<std::uint8_t>>{bytes});

    api->change (a.path, [] (Interface& made) { made.writeShortBy = 1; });
    EXPECT_FALSE (input->write (bytes.data(), 65));
    EXPECT_TRUE (traces.contains ("Err(WriteFile) : bytesWritten = 64 / writeSize = 65"));

    // A time-out is no sign of a device gone: writing goes on.
    api->change (a.path, [] (Interface& made) {
        made.writeShortBy = 0;
        made.writeError = hidlink::winerror::kTimeout;
    });
    EXPECT_FALSE (input->write (bytes.data(), 65));
    EXPECT_TRUE (traces.contains ("Err(WriteFile):GetLastError() = 1460"));
    api->change (a.path, [] (Interface& made) { made.writeError = 0; });
    EXPECT_TRUE (input->write (bytes.data(), 65));

    api->change (a.path, [] (Interface& made) { made.writeError = hidlink::winerror::kDeviceNotConnected; });
    traces.clear();
    EXPECT_FALSE (input->write (bytes.data(), 65));
    EXPECT_TRUE (traces.contains ("Err(WriteFile):GetLastError() = 1167"));
    EXPECT_TRUE (waitForPaths ({b.path}));
    EXPECT_TRUE (traces.contains ("HidDevice: " + a.path
                                  + " does not answer any more (a write failed): it counts as unplugged"));
}

// A device that cannot be opened is told with an errno value the layers
// above know; the Windows error is traced.
TEST_F (WinHidFixture, AFailedOpenIsToldAsAnErrnoValue)
{
    const auto a = korvaInterface ("0001");
    api->plug (a);
    create();

    struct Case
    {
        std::uint32_t windowsError;
        int error;
    };
    const Case cases[] = {
        {hidlink::winerror::kAccessDenied, EACCES},
        {hidlink::winerror::kSharingViolation, EBUSY},
        {hidlink::winerror::kFileNotFound, ENODEV},
        {hidlink::winerror::kPathNotFound, ENODEV},
        {hidlink::winerror::kDeviceNotConnected, ENODEV},
        {hidlink::winerror::kNoSuchDevice, ENODEV},
        {hidlink::winerror::kGenFailure, EIO},
        {1, EIO},
    };
    RecordingCallback callback;
    for (const auto& test : cases)
    {
        SCOPED_TRACE ("Windows error " + std::to_string (test.windowsError));
        EXPECT_EQ (hidlink::errnoForOpenError (test.windowsError), test.error);

        DebugOutputCapture traces;
        api->change (a.path, [&] (Interface& made) { made.openError = test.windowsError; });
        auto input = openInput (a.path, callback);
        ASSERT_NE (input, nullptr);
        const auto failure = input->getOpenFailure();
        EXPECT_EQ (failure.path, a.path);
        EXPECT_EQ (failure.error, test.error);
        EXPECT_TRUE (traces.contains ("WinHidBackend: cannot open " + a.path + " for reading: Windows error "
                                      + std::to_string (test.windowsError) + " (" + std::strerror (test.error) + ")"));
        const auto bytes = report ({0x00, 0xA0});
        EXPECT_FALSE (input->write (bytes.data(), 65)) << "not open, not written";
    }

    api->change (a.path, [] (Interface& made) { made.openError = 0; });
    auto input = openInput (a.path, callback);
    EXPECT_EQ (input->getOpenFailure().error, 0);
    EXPECT_EQ (api->counts().readersAlive, 1);
}

//==============================================================================
// What the registry promises its client, on the Windows backend too: a second
// input on a device takes the reports over, and the first one leaving does
// not cut the second off.
TEST_F (WinHidFixture, ASecondInputTakesOverAndTheFirstOneLeavingDoesNotCutItOff)
{
    const auto a = korvaInterface ("0001");
    api->plug (a);
    create();
    RecordingCallback firstCallback, secondCallback;
    auto first = openInput (a.path, firstCallback);
    ASSERT_NE (first, nullptr);
    std::unique_ptr<hidlink::HidInput> second (hidlink::HidInput::create (first->getIdentifier(), &secondCallback));
    ASSERT_NE (second, nullptr);

    api->send (a.path, report ({0x00, 0xA8}));
    ASSERT_TRUE (secondCallback.waitForCount (1));

    first.reset();
    api->send (a.path, report ({0x00, 0xA9}));
    ASSERT_TRUE (secondCallback.waitForCount (2));
    EXPECT_TRUE (firstCallback.reports().empty());
    EXPECT_EQ (secondCallback.sources(), (std::vector<hidlink::HidInput*>{second.get(), second.get()}));
}

// Deleting an input while its reader is in the callback waits for the call
// to return; afterwards the reader calls nobody (a call would reach freed
// memory, which the sanitizers see).
TEST_F (WinHidConcurrency, DeletingAnInputWhileItsReaderDeliversWaitsForTheDelivery)
{
    const auto a = korvaInterface ("0001");
    api->plug (a);
    create();

    struct BlockingCallback final : hidlink::HidInputCallback
    {
        void onHidInput (hidlink::HidInput*, const std::uint8_t*, int) override
        {
            entered.signal();
            release.wait (10000);
            deletedBeforeReturn = deleted->load();
            ++calls;
        }
        juce::WaitableEvent entered, release;
        std::atomic<bool>* deleted = nullptr;
        std::atomic<bool> deletedBeforeReturn{false};
        std::atomic<int> calls{0};
    };

    std::atomic<bool> deleted{false};
    auto callback = std::make_unique<BlockingCallback>();
    callback->deleted = &deleted;
    auto input = openInput (a.path, *callback);
    ASSERT_NE (input, nullptr);
    api->send (a.path, report ({0x00, 0xA8}));
    ASSERT_TRUE (callback->entered.wait (3000));

    juce::WaitableEvent deleting;
    std::thread deleter (
        [&]
        {
            deleting.signal();
            input.reset();
            deleted = true;
        });
    ASSERT_TRUE (deleting.wait (3000));
    callback->release.signal();
    deleter.join();
    EXPECT_TRUE (deleted.load());
    EXPECT_FALSE (callback->deletedBeforeReturn.load()) << "the deletion must wait for the delivery";
    EXPECT_EQ (callback->calls.load(), 1);
    callback.reset();

    // Two more reports: the reader takes both and asks for the next, having
    // called nobody.
    const int readsSoFar = api->readsBegun (a.path);
    api->send (a.path, report ({0x00, 0xA9}));
    api->send (a.path, report ({0x00, 0xAE}));
    EXPECT_TRUE (api->waitForReads (a.path, readsSoFar + 2));
}

} // namespace korva
