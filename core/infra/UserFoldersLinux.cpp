#include "core/infra/UserFolders.h"

namespace korva
{

namespace infra
{

// JUCE reads $HOME (and $XDG_CONFIG_HOME) each time.
juce::File UserFolders::home()
{
    return juce::File::getSpecialLocation (juce::File::userHomeDirectory);
}

juce::File UserFolders::applicationData()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory);
}

} // namespace infra

} // namespace korva
