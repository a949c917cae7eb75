#pragma once

// An emulated hidraw KORVA (korva-hidraw-emu plug) for the tests that run in
// the emulation's mount namespace: the program reaches it through libudev,
// sysfs and /dev/hidrawN, the way it reaches a real KORVA, and korva-sim
// answers behind the node.

#include "tests/support/ProgramProcess.h"

#include <juce_core/juce_core.h>

#include <memory>
#include <string>
#include <vector>

namespace korva
{

namespace test
{

// Empty when this process runs inside the emulation; otherwise the reason it
// does not (not root, no FUSE, no namespace).
std::string hidrawEmulationUnavailable();

// True under CI=true, where the emulation must run.
bool runningUnderCi();

class HidrawKorva
{
public:
    // korva-hidraw-emu and korva-sim log to `log`, over every plug-in.
    explicit HidrawKorva (juce::File log);
    ~HidrawKorva(); // unplugs a device still plugged in

    // Plugs a KORVA in: korva-sim with `simArguments` (--store ... and any
    // device switches) behind /dev/hidrawN, N the lowest free number unless
    // given, the node's mode 0600 (as without the udev rule) unless given.
    // Waits until the node is there.
    bool plugIn (const std::vector<std::string>& simArguments, int number = -1, const std::string& mode = {});
    // Unplugs it: the node and its sysfs entries go; waits until the
    // emulation has ended, which it does once the program closed the node.
    bool unplug (int timeoutMs = 10000);
    // The same in two steps, for a program that runs on this thread: the
    // node goes (true once it has), and later the emulation ends.
    bool beginUnplug();
    bool hasEnded();
    // Kills the emulation: the node and its entries stay, and every
    // operation on the node fails (ENOTCONN): a device that died in place.
    void kill();
    // Stops korva-sim where it is (SIGSTOP), as a hung firmware: the node
    // stays and takes what is written, and nothing answers; `thaw` lets it
    // go on (SIGCONT). False when there is no korva-sim to stop.
    bool freeze();
    bool thaw();

    bool isPluggedIn() const noexcept { return m_process != nullptr; }
    // The node of the last plug-in ("/dev/hidraw3").
    const std::string& node() const noexcept { return m_node; }

    juce::String log() const;
    int countInLog (const juce::String& text) const;

private:
    bool signalDevice (int signalNumber);

    juce::File m_log;
    std::unique_ptr<ProgramProcess> m_process;
    std::string m_node;
};

} // namespace test

// Skips the test, in one line, when `reasonExpression` (why `what` the test
// needs cannot be had here) is not empty; fails it under CI=true, where it
// must be had. For SetUp or a test's body.
#define KORVA_REQUIRE(what, reasonExpression)                                                                         \
    do                                                                                                                 \
    {                                                                                                                  \
        const std::string korvaUnavailable = (reasonExpression);                                                       \
        if (! korvaUnavailable.empty())                                                                                \
        {                                                                                                              \
            if (korva::test::runningUnderCi())                                                                           \
                FAIL() << what << " must be had under CI=true, but: " << korvaUnavailable;                             \
            GTEST_SKIP() << "no " << what << " here: " << korvaUnavailable;                                            \
        }                                                                                                              \
    } while (false)

// Where the emulation cannot run.
#define KORVA_REQUIRE_HIDRAW_EMULATION()                                                                               \
    KORVA_REQUIRE ("emulated hidraw KORVA", korva::test::hidrawEmulationUnavailable())

} // namespace korva
