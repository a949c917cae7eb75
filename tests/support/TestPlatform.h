#pragma once

// The little the test runner needs from the system, one file per platform.

#include <juce_core/juce_core.h>

namespace korva
{

namespace test
{

// A new, empty folder below `parent` whose name starts with `prefix`, made
// atomically so that test processes running side by side never share one.
// A non-existent file when it cannot be made.
juce::File makeUniqueFolder (const juce::File& parent, const juce::String& prefix);

// Sets an environment variable of this process; null removes it.
void setEnvironment (const char* name, const char* value);

// Makes `folder` the home of this process's user, with the folders the
// system keeps there (application data, temporary files), so that settings,
// data folders and locks of tests never touch the real ones.
void useAsHome (const juce::File& folder);

} // namespace test

} // namespace korva
