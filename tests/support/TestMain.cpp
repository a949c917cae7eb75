// Test runner: keeps a JUCE initialiser alive for the whole run, so the
// message loop, timers and images work inside tests. Reports go to a log file
// in a temporary folder, never beside the test executable.

#include "tests/support/TestMain.h"

#include "infra/Diagnostics.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdlib>

namespace korvatest
{
int runAllTests (int argc, char** argv, const std::function<void()>& prepare)
{
    ::testing::InitGoogleTest (&argc, argv);

    juce::ScopedJuceInitialiser_GUI juce;

    const auto logFolder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                               .getNonexistentChildFile ("korva-test-log", "", false);
    logFolder.createDirectory();
    infra::diagnostics::setLogFile (logFolder.getChildFile ("log.txt"));
    infra::diagnostics::setDebuggerPresentOverride (0);
    infra::diagnostics::setStandardErrorEnabled (std::getenv ("KORVA_TEST_VERBOSE") != nullptr);

    if (prepare)
        prepare();

    const int result = RUN_ALL_TESTS();
    logFolder.deleteRecursively();
    return result;
}
} // namespace korvatest
