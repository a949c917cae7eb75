#include "gui/widgets/Resources.h"

#include "core/infra/Diagnostics.h"

#include <map>
#include <mutex>

namespace korva
{

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

// Each image is read once and kept until the program ends. Not in JUCE's
// image cache: that one looks every two seconds, for ever, for images nobody
// holds any more, and the pages hold theirs all the time.
class LoadedImages final : private juce::DeletedAtShutdown
{
public:
    ~LoadedImages() override { clearSingletonInstance(); }

    juce::Image get (const juce::File& file)
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        const auto key = file.getFullPathName();
        const auto found = m_images.find (key);
        if (found != m_images.end())
            return found->second;
        auto image = juce::ImageFileFormat::loadFrom (file);
        if (image.isValid())
            m_images.emplace (key, image);
        return image;
    }

    JUCE_DECLARE_SINGLETON (LoadedImages, false)

private:
    std::mutex m_lock;
    std::map<juce::String, juce::Image> m_images;
};

JUCE_IMPLEMENT_SINGLETON (LoadedImages)
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

    return LoadedImages::getInstance()->get (file);
}

} // namespace korva
