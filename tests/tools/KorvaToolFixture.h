#pragma once

// The korva tool's device commands as their tests run them: the built tool
// as a program against korva-sim as a program, each test with a home, a
// folder of virtual devices and a device store of its own.

#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/ToolProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace korva
{

namespace test
{

// The tests never touch a real KORVA: with one plugged in, the tool would
// take it before the virtual one.
inline bool realKorvaPlugged()
{
    for (const auto& entry : juce::RangedDirectoryIterator (juce::File ("/sys/class/hidraw"), false, "*",
                                                            juce::File::findDirectories | juce::File::findFiles))
    {
        const auto uevent = entry.getFile().getChildFile ("device/uevent").loadFileAsString().toUpperCase();
        if (uevent.contains ("HID_ID=0003:00007C4E:00000A31"))
            return true;
    }
    return false;
}

inline Bytes bytesOfFile (const juce::File& file)
{
    juce::MemoryBlock data;
    EXPECT_TRUE (file.loadFileAsData (data)) << file.getFullPathName();
    const auto* p = static_cast<const uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

struct KorvaDeviceTool : ::testing::Test
{
    TempFolder root;
    const juce::File home = root / "home";
    const juce::File devices = root / "devices";
    const juce::File store = root / "store";
    const juce::File work = root / "work";
    std::unique_ptr<RunningProcess> sim;

    void SetUp() override
    {
        if (realKorvaPlugged())
            GTEST_SKIP() << "a real KORVA is plugged in";
        ASSERT_TRUE (home.createDirectory() && work.createDirectory());
    }

    void TearDown() override { stopSim(); }

    // The program's files: the data folder and the temporary folder.
    juce::File dataFolder() const { return home.getChildFile ("MELDRA/KORVA"); }
    juce::File tempFolder() const { return home.getChildFile (".config/MELDRA/KORVA Manager/Temp"); }

    Environment environment() const
    {
        return {{"HOME", home.getFullPathName().toStdString()},
                {"XDG_CONFIG_HOME", home.getChildFile (".config").getFullPathName().toStdString()},
                {"KORVA_VIRTUAL_DIR", devices.getFullPathName().toStdString()}};
    }

    void startSim (std::vector<std::string> switches = {})
    {
        std::vector<std::string> args{"--dir",   devices.getFullPathName().toStdString(),
                                      "--name",  "sim.sock",
                                      "--store", store.getFullPathName().toStdString(),
                                      "--response-delay", "5",
                                      "--quiet"};
        args.insert (args.end(), switches.begin(), switches.end());
        sim = std::make_unique<RunningProcess> (KORVA_SIM_EXECUTABLE, args, work);
        ASSERT_TRUE (sim->started());
        ASSERT_TRUE (waitUntil ([this] { return devices.getChildFile ("sim.sock").exists() || ! sim->isRunning(); }))
            << "korva-sim did not start";
        ASSERT_TRUE (sim->isRunning());
    }

    void stopSim()
    {
        if (sim == nullptr)
            return;
        sim->signal (SIGTERM);
        const ProcessResult r = sim->finish (10000);
        EXPECT_EQ (r.exitCode, 0) << r.err;
        sim.reset();
    }

    ProcessResult korva (const std::vector<std::string>& args, int timeoutMs = 30000) const
    {
        return runProcess (KORVA_TOOL_BINARY, args, work, timeoutMs, environment());
    }

    // A command that must succeed; its standard output.
    std::string ok (const std::vector<std::string>& args) const
    {
        const ProcessResult r = korva (args);
        EXPECT_EQ (r.exitCode, 0) << args[0] << ": " << r.err;
        EXPECT_EQ (r.err, "") << args[0];
        return r.out;
    }

    // A command that must fail with exactly this message.
    void fails (const std::vector<std::string>& args, const std::string& message, int exitCode = 1) const
    {
        const ProcessResult r = korva (args);
        EXPECT_EQ (r.exitCode, exitCode) << args[0] << ": " << r.err;
        EXPECT_EQ (r.err, "korva: " + message + "\n") << args[0];
    }
};
} // namespace test

} // namespace korva
