#include "tests/support/TestPlatform.h"

#include <windows.h>

namespace korva
{

namespace test
{

juce::File makeUniqueFolder (const juce::File& parent, const juce::String& prefix)
{
    // CreateDirectory fails when the folder exists: the one that succeeds is ours.
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const auto folder = parent.getChildFile (
            prefix + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()).substring (0, 6));
        if (::CreateDirectoryW (folder.getFullPathName().toWideCharPointer(), nullptr))
            return folder;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return {};
}

void setEnvironment (const char* name, const char* value)
{
    ::_putenv_s (name, value != nullptr ? value : "");
}

// The program takes its profile and application-data folders from the
// session's variables, and the system its temporary folder.
void useAsHome (const juce::File& folder)
{
    const auto applicationData = folder.getChildFile ("AppData/Roaming");
    const auto temporary = folder.getChildFile ("AppData/Local/Temp");
    applicationData.createDirectory();
    temporary.createDirectory();
    setEnvironment ("USERPROFILE", folder.getFullPathName().toRawUTF8());
    setEnvironment ("APPDATA", applicationData.getFullPathName().toRawUTF8());
    setEnvironment ("TEMP", temporary.getFullPathName().toRawUTF8());
    setEnvironment ("TMP", temporary.getFullPathName().toRawUTF8());
}

} // namespace test

} // namespace korva
