// Test runner: keeps a JUCE initialiser alive for the whole run, so the
// message loop, timers and images work inside tests. Reports go to a log file
// in a temporary folder, never beside the test executable.

#include "tests/support/TestMain.h"

#include "core/infra/Diagnostics.h"
#include "tests/support/TestPlatform.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>

namespace korva
{

namespace test
{
int runAllTests (int argc, char** argv, const std::function<void()>& prepare)
{
    ::testing::InitGoogleTest (&argc, argv);

    // Tests never touch the real home folder: settings, data folders and
    // locks all go below a home of their own.
    const auto home = makeUniqueFolder (juce::File::getSpecialLocation (juce::File::tempDirectory),
                                        "korva-test-home-");
    if (home != juce::File())
        useAsHome (home);

    juce::ScopedJuceInitialiser_GUI juce;

    const auto logFolder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                               .getNonexistentChildFile ("korva-test-log", "", false);
    logFolder.createDirectory();
    infra::diagnostics::setLogFile (logFolder.getChildFile ("log.txt"));
    infra::diagnostics::setDebuggerPresentOverride (0);
    const bool verbose = std::getenv ("KORVA_TEST_VERBOSE") != nullptr;
    infra::diagnostics::setStandardErrorEnabled (verbose);
    infra::diagnostics::setTracesToStandardError (verbose);

    if (prepare)
        prepare();

    const int result = RUN_ALL_TESTS();
    logFolder.deleteRecursively();
    if (home != juce::File())
        home.deleteRecursively();
    return result;
}
} // namespace test

} // namespace korva
