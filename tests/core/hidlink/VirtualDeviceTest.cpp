#include "core/hidlink/HidBackend.h"
#include "core/hidlink/VirtualDevice.h"
#include "tests/core/device/VirtualDeviceFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
extern char** environ;

namespace korva
{

using namespace korva::test;

namespace
{
juce::uint32 trailingNumber (const juce::String& identifier)
{
    return static_cast<juce::uint32> (identifier.fromLastOccurrenceOf (",", false, false).getLargeIntValue());
}

double elapsedMsUntil (const std::function<bool()>& condition, int limitMs = 3000)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    if (! waitUntil (condition, limitMs))
        return 1.0e9;
    return juce::Time::getMillisecondCounterHiRes() - start;
}

double processCpuMs()
{
    rusage usage{};
    ::getrusage (RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double childCpuMs (pid_t pid)
{
    std::ifstream stat ("/proc/" + std::to_string (pid) + "/stat");
    std::string text ((std::istreambuf_iterator<char> (stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind (')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields (text.substr (close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
    {
        if (i == 14)
            utime = std::stod (field);
        if (i == 15)
            stime = std::stod (field);
    }
    return (utime + stime) * 1000.0 / static_cast<double> (::sysconf (_SC_CLK_TCK));
}

struct NullInputCallback final : hidlink::HidInputCallback
{
    void onHidInput (hidlink::HidInput*, const std::uint8_t* data, int size) override
    {
        const std::lock_guard<std::mutex> lock (mutex);
        reports.emplace_back (data, data + size);
    }
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> reports;
};
} // namespace

//==============================================================================
TEST_F (VirtualDeviceFixture, ListedWithinASecondOfItsStartAndGoneWithinASecondOfItsStop)
{
    createRegistry();
    EXPECT_TRUE (registry()->getDeviceIdentifiers().isEmpty());

    auto device = startDevice (deviceOptions ("korva.sock"));
    const auto listed = elapsedMsUntil ([&] { return registry()->getDeviceIdentifiers().size() == 1; });
    EXPECT_LT (listed, 1000.0);

    const auto identifiers = registry()->getDeviceIdentifiers();
    ASSERT_EQ (identifiers.size(), 1);
    const auto first = identifiers[0];
    EXPECT_EQ (first, "KORVA," + juce::String (device->getSocketPath()) + "," + juce::String (trailingNumber (first)));

    device->stop();
    EXPECT_FALSE (juce::File (device->getSocketPath()).exists());
    EXPECT_LT (elapsedMsUntil ([&] { return registry()->getDeviceIdentifiers().isEmpty(); }), 1000.0);

    // Started again at the same place: a new device with a higher number.
    device = startDevice (deviceOptions ("korva.sock"));
    EXPECT_LT (elapsedMsUntil ([&] { return registry()->getDeviceIdentifiers().size() == 1; }), 1000.0);
    EXPECT_GT (trailingNumber (registry()->getDeviceIdentifiers()[0]), trailingNumber (first));
}

TEST_F (VirtualDeviceFixture, OnlyTargetIdsAreListedAndTheHelloGivesStringsAndLengths)
{
    auto korva = startDevice (deviceOptions ("a.sock"));
    auto other = deviceOptions ("b.sock");
    other.vendorId = 0x1234;
    auto stranger = startDevice (other);
    auto odd = deviceOptions ("c.sock");
    odd.inputReportLength = 33;
    odd.outputReportLength = 64;
    odd.product = "KORVA Mk2";
    odd.versionNumber = 0x0207;
    auto oddDevice = startDevice (odd);

    // Neither a plain file nor a hidden socket is a device.
    std::ofstream (folder + "/notes.txt") << "not a socket";
    createRegistry();

    const auto identifiers = registry()->getDeviceIdentifiers();
    ASSERT_EQ (identifiers.size(), 2);
    EXPECT_TRUE (identifiers[0].startsWith ("KORVA," + juce::String (folder) + "/a.sock,"));
    EXPECT_TRUE (identifiers[1].startsWith ("KORVA Mk2," + juce::String (folder) + "/c.sock,"));

    const auto caps = registry()->findDevice (identifiers[1])->getCaps();
    EXPECT_EQ (caps.manufacturer, "MELDRA");
    EXPECT_EQ (caps.versionNumber, 0x0207);
    EXPECT_EQ (caps.inputReportLength, 33);
    EXPECT_EQ (caps.outputReportLength, 64);

    // A stranger plugged in later is not listed either.
    auto late = deviceOptions ("d.sock");
    late.productId = 0x0A32;
    auto lateDevice = startDevice (late);
    auto lateKorva = startDevice (deviceOptions ("e.sock"));
    ASSERT_TRUE (waitUntil ([&] { return registry()->getDeviceIdentifiers().size() == 3; }));
    EXPECT_TRUE (registry()->getDeviceIdentifiers()[2].contains ("/e.sock,"));
}

TEST_F (VirtualDeviceFixture, ReportsTravelBothWaysThroughTheSocket)
{
    auto device = startDevice (deviceOptions ("korva.sock"));
    createRegistry();
    NullInputCallback callback;
    std::unique_ptr<hidlink::HidInput> input (
        hidlink::HidInput::create (registry()->getDeviceIdentifiers()[0], &callback));
    ASSERT_NE (input, nullptr);
    input->open();
    // The reader and the writer, each with a connection of its own (the
    // registry's short greetings may still be closing).
    EXPECT_TRUE (waitUntil ([&] { return device->getConnectionCount() == 2; }));

    std::vector<std::uint8_t> out (65, 0);
    out[1] = 0x42;
    out[64] = 0x99;
    EXPECT_TRUE (input->write (out.data(), 65));
    ASSERT_TRUE (waitUntil ([&] { return device->getReceivedReports().size() == 1; }));
    EXPECT_EQ (device->getReceivedReports()[0], out);

    device->sendRawMessage ({0xA9, 0x05, 0x02, 0x00});
    ASSERT_TRUE (waitUntil (
        [&]
        {
            const std::lock_guard<std::mutex> lock (callback.mutex);
            return callback.reports.size() == 1;
        }));
    std::vector<std::uint8_t> expected (64, 0);
    expected[0] = 0xA9;
    expected[1] = 0x05;
    expected[2] = 0x02;
    EXPECT_EQ (callback.reports[0], expected);
}

TEST_F (VirtualDeviceFixture, TheDefaultRegistryWatchesHidrawAndTheVirtualFolderOfTheEnvironment)
{
    // $KORVA_VIRTUAL_DIR points at the test's folder (the fixture sets it).
    auto device = startDevice (deviceOptions ("korva.sock"));
    hidlink::HidManager::deleteInstance();
    auto* registry = hidlink::HidManager::getInstance();
    ASSERT_NE (registry, nullptr);
    EXPECT_EQ (hidlink::HidManager::getInstance(), registry) << "one per process";

    // A KORVA plugged into this machine would be listed as well.
    const auto identifiers = registry->getDeviceIdentifiers();
    bool found = false;
    for (const auto& identifier : identifiers)
        found = found || identifier.startsWith ("KORVA," + juce::String (device->getSocketPath()) + ",");
    EXPECT_TRUE (found);
    hidlink::HidManager::deleteInstance();
}

// A socket left behind by a device whose program was killed answers no
// connection: it is not listed, and it does not hide a device plugged in
// after it. A device started under its name removes it first.
TEST_F (VirtualDeviceFixture, AStaleSocketIsNotListedAndADeviceStartedUnderItsNameReplacesIt)
{
    const auto stalePath = folder + "/korva.sock";
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy (address.sun_path, stalePath.c_str(), stalePath.size() + 1);
        const int fd = ::socket (AF_UNIX, SOCK_SEQPACKET, 0);
        ASSERT_EQ (::bind (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)), 0);
        ::close (fd); // bound, never listening, and its program gone
    }
    createRegistry();
    EXPECT_TRUE (registry()->getDeviceIdentifiers().isEmpty());

    auto other = startDevice (deviceOptions ("other.sock"));
    ASSERT_TRUE (waitUntil ([&] { return registry()->getDeviceIdentifiers().size() == 1; }));
    EXPECT_TRUE (registry()->getDeviceIdentifiers()[0].contains ("/other.sock,"));

    auto same = startDevice (deviceOptions ("korva.sock"));
    ASSERT_TRUE (same->isRunning());
    ASSERT_TRUE (waitUntil ([&] { return registry()->getDeviceIdentifiers().size() == 2; }));
    EXPECT_TRUE (registry()->getDeviceIdentifiers()[1].contains ("/korva.sock,"));
}

TEST (HidrawBackend, WorksWhereUdevIsNotRunning)
{
    // Udev's database is not needed: sysfs is read directly, and hot-plug
    // falls back to watching /dev when there is no udev to listen to.
    DebugOutputCapture traces;
    auto backend = hidlink::makeHidrawBackend();
    for (const auto& caps : backend->enumerate())
        EXPECT_EQ (caps.path.rfind ("/dev/", 0), 0u) << caps.path;
    EXPECT_NE (backend->createWatcher(), nullptr);

    // Not a HID device: only the path is known, so it is never kept.
    const auto null = backend->describe ("/dev/null");
    EXPECT_EQ (null.path, "/dev/null");
    EXPECT_FALSE (null.isTarget());
    EXPECT_EQ (null.inputReportLength, 0);

    int error = 0;
    EXPECT_EQ (backend->openPort ("/dev/hidraw-that-is-not-there", hidlink::HidPortUse::kReading, error), nullptr);
    EXPECT_EQ (error, ENOENT);
    EXPECT_TRUE (
        traces.contains ("HidrawBackend: cannot open /dev/hidraw-that-is-not-there: No such file or directory"));
    EXPECT_TRUE (backend->ownsPath ("/dev/hidraw3"));
    EXPECT_FALSE (backend->ownsPath ("/run/user/1000/korva/korva.sock"));
}

//==============================================================================
TEST (VirtualDeviceContract, HelloRoundTripsAndBadHellosAreRefused)
{
    hidlink::virtualdevice::Hello hello;
    hello.vendorId = 0x7C4E;
    hello.productId = 0x0A31;
    hello.versionNumber = 0x0100;
    hello.inputReportLength = 65;
    hello.outputReportLength = 64;
    hello.manufacturer = "MELDRA";
    hello.product = std::string (300, 'P'); // cut to 255

    const auto bytes = hidlink::virtualdevice::encodeHello (hello);
    hidlink::virtualdevice::Hello decoded;
    ASSERT_TRUE (hidlink::virtualdevice::decodeHello (bytes.data(), bytes.size(), decoded));
    EXPECT_EQ (decoded.vendorId, 0x7C4E);
    EXPECT_EQ (decoded.outputReportLength, 64);
    EXPECT_EQ (decoded.manufacturer, "MELDRA");
    EXPECT_EQ (decoded.product, std::string (255, 'P'));

    // Every cut-off copy is refused (each its own allocation, so a read past
    // the end is caught by the address sanitizer).
    for (std::size_t size = 0; size < bytes.size(); ++size)
    {
        std::vector<std::uint8_t> cut (bytes.begin(), bytes.begin() + static_cast<long> (size));
        EXPECT_FALSE (hidlink::virtualdevice::decodeHello (cut.data(), cut.size(), decoded)) << size;
    }
    auto wrongMagic = bytes;
    wrongMagic[0] = 'X';
    EXPECT_FALSE (hidlink::virtualdevice::decodeHello (wrongMagic.data(), wrongMagic.size(), decoded));
}

TEST (VirtualDeviceContract, FolderComesFromTheEnvironmentAndMustBeSafe)
{
    const ScopedEnvironment korva ("KORVA_VIRTUAL_DIR", nullptr);
    const ScopedEnvironment runtime ("XDG_RUNTIME_DIR", "/run/user/4242");
    EXPECT_EQ (hidlink::virtualdevice::defaultFolder(), "/run/user/4242/korva");
    {
        const ScopedEnvironment noRuntime ("XDG_RUNTIME_DIR", nullptr);
        EXPECT_EQ (hidlink::virtualdevice::defaultFolder(), "/tmp/korva-" + std::to_string (::getuid()));
    }
    {
        const ScopedEnvironment chosen ("KORVA_VIRTUAL_DIR", "/somewhere/else");
        EXPECT_EQ (hidlink::virtualdevice::defaultFolder(), "/somewhere/else");
    }

    TempFolder temp;
    const auto base = temp.get().getFullPathName().toStdString();
    std::string error;

    const auto fresh = base + "/fresh";
    ASSERT_TRUE (hidlink::virtualdevice::prepareFolder (fresh, error)) << error;
    struct stat info
    {
    };
    ASSERT_EQ (::stat (fresh.c_str(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0700u);

    // Anyone who can put a socket there could pose as the device.
    const auto open = base + "/open";
    ASSERT_EQ (::mkdir (open.c_str(), 0700), 0);
    ::chmod (open.c_str(), 0777);
    EXPECT_FALSE (hidlink::virtualdevice::prepareFolder (open, error));
    EXPECT_NE (error.find ("other users"), std::string::npos);

    const auto link = base + "/link";
    ASSERT_EQ (::symlink (fresh.c_str(), link.c_str()), 0);
    EXPECT_FALSE (hidlink::virtualdevice::prepareFolder (link, error));

    const auto file = base + "/file";
    std::ofstream (file) << "x";
    EXPECT_FALSE (hidlink::virtualdevice::prepareFolder (file, error));
    EXPECT_FALSE (hidlink::virtualdevice::prepareFolder (base + "/missing/parent", error));
}

//==============================================================================
// korva-sim as its own process, the way a user runs it.
TEST_F (VirtualDeviceFixture, KorvaSimProgramIsListedIdlesAndRemovesItsSocketOnSigterm)
{
    createRegistry();

    const std::string program = KORVA_SIM_EXECUTABLE;
    const TempFolder store;
    const std::vector<std::string> arguments = {
        program, "--dir", folder, "--name", "sim.sock", "--store", store.get().getFullPathName().toStdString(), "--quiet"};
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back (const_cast<char*> (argument.c_str()));
    argv.push_back (nullptr);

    pid_t pid = 0;
    ASSERT_EQ (::posix_spawn (&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);

    const auto listed = elapsedMsUntil ([&] { return registry()->getDeviceIdentifiers().size() == 1; });
    EXPECT_LT (listed, 1000.0);

    // Idle with a computer connected (the reader and the writer connections).
    NullInputCallback callback;
    std::unique_ptr<hidlink::HidInput> input (
        hidlink::HidInput::create (registry()->getDeviceIdentifiers()[0], &callback));
    ASSERT_NE (input, nullptr);
    input->open();

    const double before = childCpuMs (pid);
    juce::Thread::sleep (2000);
    const double used = childCpuMs (pid) - before;
    std::cout << "[ figure   ] korva-sim idle with a computer connected: " << used << " ms CPU in 2000 ms\n";
    EXPECT_LT (used, 20.0);

    ::kill (pid, SIGTERM);
    int status = 0;
    ASSERT_EQ (::waitpid (pid, &status, 0), pid);
    EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
    EXPECT_FALSE (juce::File (folder + "/sim.sock").exists());
    EXPECT_LT (elapsedMsUntil ([&] { return registry()->getDeviceIdentifiers().isEmpty(); }), 1000.0);
}

TEST_F (VirtualDeviceFixture, IdleRegistryAndDeviceTakeNoMeasurableCpu)
{
    createRegistry();

    const auto measure = []
    {
        const double before = processCpuMs();
        juce::Thread::sleep (2000);
        return processCpuMs() - before;
    };

    const double empty = measure();

    auto device = startDevice (deviceOptions ("korva.sock"));
    ASSERT_TRUE (waitUntil ([&] { return registry()->getDeviceIdentifiers().size() == 1; }));
    NullInputCallback callback;
    std::unique_ptr<hidlink::HidInput> input (
        hidlink::HidInput::create (registry()->getDeviceIdentifiers()[0], &callback));
    input->open();
    const double plugged = measure();

    std::cout << "[ figure   ] idle registry without a device: " << empty
              << " ms CPU in 2000 ms; with a virtual device open (device in-process): " << plugged
              << " ms CPU in 2000 ms\n";
    EXPECT_LT (empty, 20.0);
    EXPECT_LT (plugged, 20.0);
}

} // namespace korva
