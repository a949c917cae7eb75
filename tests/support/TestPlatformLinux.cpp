#include "tests/support/TestPlatform.h"

#include <stdlib.h>

namespace korva
{

namespace test
{

juce::File makeUniqueFolder (const juce::File& parent, const juce::String& prefix)
{
    auto pattern = parent.getChildFile (prefix + "XXXXXX").getFullPathName().toStdString();
    if (::mkdtemp (pattern.data()) == nullptr)
        return {};
    return juce::File (pattern);
}

void setEnvironment (const char* name, const char* value)
{
    if (value != nullptr)
        ::setenv (name, value, 1);
    else
        ::unsetenv (name);
}

void useAsHome (const juce::File& folder)
{
    setEnvironment ("HOME", folder.getFullPathName().toRawUTF8());
}

} // namespace test

} // namespace korva
