// The whole device link on the path a real KORVA takes: the registry finds
// the device through libudev and sysfs, learns of hot-plug by watching /dev,
// reads its report descriptor and talks to /dev/hidrawN, reports without a
// report ID coming in and with one going out. The device is korva-sim behind
// an emulated hidraw node (korva-hidraw-emu); the test runs in the
// emulation's mount namespace, where /sys and /dev hold nothing else.

#include "core/hidlink/HidBackend.h"
#include "tests/core/device/SequencerStack.h"
#include "tests/core/hidlink/FakeBackend.h"
#include "tests/support/HidrawKorva.h"
#include "tools/korva-sim/ProjectStore.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;
using Bytes = std::vector<std::uint8_t>;

namespace
{
Bytes bytesOfFile (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    const auto* p = static_cast<const std::uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

struct HidrawStackConcurrency : ::testing::Test, SequencerStack
{
    TempFolder temp;
    HidrawKorva korva{temp / "korva-sim.txt"};
    HidrawKorva other{temp / "other-korva-sim.txt"};
    std::unique_ptr<ScopedRegistry> registry;

    juce::File dataFolder() const { return temp / "data"; }
    juce::File storeFolder() const { return temp / "store"; }

    void SetUp() override
    {
        KORVA_REQUIRE_HIDRAW_EMULATION();
        useDataFolder (dataFolder());
    }

    void TearDown() override
    {
        // The stack lets go of the nodes before the devices are unplugged.
        stopStack();
        registry.reset();
        korva.unplug();
        other.unplug();
    }

    bool plugIn (const std::vector<std::string>& switches = {}, int number = -1, HidrawKorva* device = nullptr)
    {
        std::vector<std::string> arguments{"--store", storeFolder().getFullPathName().toStdString()};
        arguments.insert (arguments.end(), switches.begin(), switches.end());
        return (device != nullptr ? *device : korva).plugIn (arguments, number);
    }

    // The program's stack with only the hidraw backend.
    void startStack()
    {
        registry = std::make_unique<ScopedRegistry> (
            std::vector<std::shared_ptr<hidlink::HidBackend>>{hidlink::makeHidrawBackend()});
        ASSERT_TRUE (startSequencer (nullptr, 5000));
    }

    // The project as the device keeps it on disk.
    Bytes onDevice (int index) const
    {
        korva::sim::ProjectStore store (storeFolder().getFullPathName().toStdString(), {});
        std::string error;
        if (! store.open (error) || store.project (index) == nullptr)
            return {};
        return *store.project (index);
    }

    juce::Array<juce::File> savedProjects() const
    {
        return dataFolder().findChildFiles (juce::File::findFiles, false, "*");
    }
};
} // namespace

// The device is found with its name and node, and a project goes out and
// comes back whole, report by report through the node.
TEST_F (HidrawStackConcurrency, FindsTheKorvaAndCarriesAProjectBothWaysWhole)
{
    ASSERT_TRUE (plugIn()) << korva.log();
    startStack();
    const auto identifiers = registry->get()->getDeviceIdentifiers();
    ASSERT_EQ (identifiers.size(), 1);
    EXPECT_TRUE (identifiers[0].startsWith ("KORVA," + juce::String (korva.node()) + ",")) << identifiers[0];
    const auto caps = registry->get()->findDevice (registry->get()->getDeviceIdentifiers()[0])->getCaps();
    EXPECT_EQ (caps.manufacturer, "MELDRA");
    EXPECT_EQ (caps.versionNumber, 0x0100);
    EXPECT_EQ (caps.inputReportLength, 65) << "from the report descriptor";
    EXPECT_EQ (caps.outputReportLength, 65);

    sequencer->requestImportProjectData (2);
    ASSERT_TRUE (waitFor ("import 1000", 15000)) << korva.log();
    ASSERT_EQ (savedProjects().size(), 1);
    const auto image = onDevice (2);
    ASSERT_EQ (image.size(), 6u * 4096); // five patterns
    EXPECT_EQ (bytesOfFile (savedProjects()[0]), image);

    sequencer->requestQueryExportableProject (savedProjects()[0], 5);
    ASSERT_TRUE (waitFor ("export 1000", 15000)) << korva.log();
    EXPECT_EQ (onDevice (4), image);

    // Every report reached the device as 65 bytes behind report ID 0.
    EXPECT_EQ (korva.countInLog ("were expected"), 0) << korva.log();
    EXPECT_EQ (korva.countInLog ("report ID"), 0) << korva.log();
}

// Unplugged in the middle of an import: the request ends, nothing is kept.
// Plugged in again under another node number (the registry hears of it by
// watching /dev, as where udevd does not run), it is connected as a new
// device and the same import gives the whole project.
TEST_F (HidrawStackConcurrency, UnpluggedDuringAnImportThenPluggedInUnderAnotherNumber)
{
    ASSERT_TRUE (plugIn ({"--slow", "150"}, 3)) << korva.log();
    startStack();
    const auto first = registry->get()->getDeviceIdentifiers()[0];
    EXPECT_TRUE (first.contains (",/dev/hidraw3,")) << first;

    sequencer->requestImportProjectData (0);
    ASSERT_TRUE (waitFor ("importStarted"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return korva.countInLog ("sending: type 0x03, 4096 bytes") >= 2; }))
        << korva.log();

    ASSERT_TRUE (korva.beginUnplug());
    ASSERT_TRUE (waitFor ("connectionChanged"));
    EXPECT_FALSE (sequencer->isConnected());
    EXPECT_TRUE (sequencer->isRequestFinished());
    // The program closes the node, and the device is gone for good.
    ASSERT_TRUE (runMessageLoopUntil ([&] { return korva.hasEnded(); })) << korva.log();
    EXPECT_TRUE (registry->get()->getDeviceIdentifiers().isEmpty());
    EXPECT_TRUE (savedProjects().isEmpty());

    listener.clear();
    ASSERT_TRUE (plugIn ({}, 7)) << korva.log();
    ASSERT_TRUE (waitFor ("connectionChanged"));
    const auto second = registry->get()->getDeviceIdentifiers();
    ASSERT_EQ (second.size(), 1);
    EXPECT_TRUE (second[0].contains (",/dev/hidraw7,")) << second[0];
    EXPECT_NE (second[0], first);

    sequencer->requestImportProjectData (0);
    ASSERT_TRUE (waitFor ("import 1000", 15000)) << korva.log();
    ASSERT_EQ (savedProjects().size(), 1);
    EXPECT_EQ (bytesOfFile (savedProjects()[0]), onDevice (0));
}

// A KORVA that dies where it is (its node and sysfs entries stay, every
// operation on the node fails): the dead link tells that it has gone, at
// once rather than after the transfer's waits; and it does not hide the
// KORVA plugged in next.
TEST_F (HidrawStackConcurrency, AKorvaThatDiesInPlaceCountsAsUnpluggedAndTheNextIsServed)
{
    ASSERT_TRUE (plugIn ({"--slow", "150"})) << korva.log();
    startStack();
    sequencer->requestImportProjectData (0);
    ASSERT_TRUE (waitFor ("importStarted"));

    const auto deadNode = korva.node();
    korva.kill();
    // Left alone, the receive would wait five seconds, and the device would stay listed.
    ASSERT_TRUE (waitFor ("connectionChanged", 3000));
    EXPECT_FALSE (sequencer->isConnected());
    EXPECT_TRUE (juce::File (deadNode).isSymbolicLink()) << "the dead device's node stays";
    EXPECT_TRUE (savedProjects().isEmpty());

    listener.clear();
    ASSERT_TRUE (plugIn ({}, -1, &other)) << other.log();
    EXPECT_NE (other.node(), deadNode);
    ASSERT_TRUE (waitFor ("connectionChanged"));
    sequencer->requestImportProjectData (0);
    ASSERT_TRUE (waitFor ("import 1000", 15000)) << other.log();
    ASSERT_EQ (savedProjects().size(), 1);
    EXPECT_EQ (bytesOfFile (savedProjects()[0]), onDevice (0));
}

} // namespace korva
