#include "app/Resources.h"

#include "infra/Diagnostics.h"

namespace
{
juce::File applicationFolder (const char* name)
{
    const auto executable = infra::executableFile();
    const auto beside = executable.getChildFile (juce::String ("../") + name);

    // Under a debugger the folders are looked for where a development tree
    // keeps them, four levels above the executable's folder; a build tree
    // that has them beside the executable keeps working under a debugger.
    if (infra::diagnostics::isDebuggerPresent())
    {
        const auto developmentTree = executable.getChildFile (juce::String ("../../../../../") + name);
        if (developmentTree.isDirectory() || ! beside.isDirectory())
            return developmentTree;
    }
    return beside;
}
} // namespace

juce::File getResourceDirectory()
{
    return applicationFolder ("Resource");
}

juce::File getManualDirectory()
{
    return applicationFolder ("Manual");
}

juce::File getManualFile()
{
    return getManualDirectory().getChildFile ("English").getChildFile ("KORVA Manager User's Manual_EN.pdf");
}

juce::Image loadResourceImage (const juce::String& fileName)
{
    const auto file = getResourceDirectory().getChildFile (fileName);
    if (! file.existsAsFile() || ! file.getFileExtension().equalsIgnoreCase (".png"))
        return {};
    return juce::ImageCache::getFromFile (file);
}
