#include "core/infra/UserFolders.h"

#include <cstdlib>

namespace korva
{

namespace infra
{

namespace
{
// The folder a variable of the session names, as Windows sets them at log-on;
// the shell's own answer when the variable is missing or not a full path
// (the test runner gives each test process folders of its own this way).
juce::File fromEnvironment (const wchar_t* name, juce::File::SpecialLocationType fallback)
{
    if (const wchar_t* value = ::_wgetenv (name))
        if (juce::File::isAbsolutePath (juce::String (value)))
            return juce::File (juce::String (value));
    return juce::File::getSpecialLocation (fallback);
}
} // namespace

juce::File UserFolders::home()
{
    return fromEnvironment (L"USERPROFILE", juce::File::userHomeDirectory);
}

juce::File UserFolders::applicationData()
{
    return fromEnvironment (L"APPDATA", juce::File::userApplicationDataDirectory);
}

} // namespace infra

} // namespace korva
