#include "core/settings/DirectorySetting.h"

#include "core/infra/FileTools.h"
#include "core/infra/UserFolders.h"
#include "core/infra/ValueTreeTools.h"
#include "core/infra/VarUtility.h"

namespace korva
{

using infra::ValueTreeConvertible;
using infra::ValueTreeTools;

namespace
{
const juce::Identifier kType ("DirectorySetting");
const juce::Identifier kDataDirectory ("dataDirectory");

juce::String withForwardSlashes (const juce::String& path)
{
    return path.replaceCharacter ('\\', '/');
}
} // namespace

DirectorySetting::DirectorySetting() : ValueTreeConvertible (kType), dataDirectory (defaultDataDirectory())
{
    class Function final : public IFunction
    {
    public:
        explicit Function (DirectorySetting* owner) : IFunction (owner) {}

        void fromValueTree (const juce::ValueTree& tree) override
        {
            if (tree.hasProperty (kDataDirectory))
                infra::VarUtility::fromVar (self().dataDirectory, tree[kDataDirectory]);
        }

        void toValueTree (juce::ValueTree& tree) override
        {
            tree.setProperty (kDataDirectory, self().dataDirectory, nullptr);
        }

        void reset() override { self().dataDirectory = defaultDataDirectory(); }

        void copyFrom (const ValueTreeConvertible* source) override
        {
            const auto* p = dynamic_cast<const DirectorySetting*> (source);
            if (INFRA_VERIFY ("DirectorySetting::{ctor}::Function::copyFrom", p))
                self().dataDirectory = p->dataDirectory;
        }

        void toString (juce::String& text) const override { text << "dataDirectory = " << self().dataDirectory; }

    private:
        DirectorySetting& self() const { return *static_cast<DirectorySetting*> (m_owner); }
    };

    addField (new Function (this));
}

const juce::String& DirectorySetting::defaultDataDirectory()
{
    // Windows: C:/Users/<name>/MELDRA/KORVA.
    static const juce::String path = withForwardSlashes (
        infra::UserFolders::home().getChildFile ("MELDRA").getChildFile ("KORVA").getFullPathName());
    return path;
}

//==============================================================================
DirectorySettingManager* DirectorySettingManager::s_instance = nullptr;

DirectorySettingManager* DirectorySettingManager::getInstance()
{
    if (s_instance == nullptr)
        s_instance = new DirectorySettingManager (dirSettingFile());
    return s_instance;
}

juce::File DirectorySettingManager::dirSettingFile()
{
    // Windows: %APPDATA%\MELDRA\KORVA Manager\DirectorySetting.bin.
    return infra::UserFolders::applicationData()
        .getChildFile ("MELDRA")
        .getChildFile ("KORVA Manager")
        .getChildFile ("DirectorySetting.bin");
}

DirectorySettingManager::DirectorySettingManager (const juce::File& settingsFile) : m_settingsFile (settingsFile)
{
    if (m_settingsFile.existsAsFile())
    {
        bool usable = false;
        try
        {
            const auto tree = infra::ValueTreeTools::fileToValueTree (m_settingsFile);
            if (INFRA_VERIFY ("DirectorySettingManager::DirectorySettingManager", tree.isValid()))
            {
                const int res = m_current.fromValueTree (tree, {});
                usable = INFRA_VERIFY ("DirectorySettingManager::DirectorySettingManager",
                                       res == ValueTreeConvertible::kOK);
            }
        }
        catch (...)
        {
            usable = false;
        }

        if (! usable)
            m_current.reset (true);
    }

    if (infra::FileTools::createAnyhow (juce::File (m_current.dataDirectory), false))
        apply();
}

DirectorySettingManager::~DirectorySettingManager()
{
    saveSetting();
    if (s_instance == this)
        s_instance = nullptr;
}

juce::String DirectorySettingManager::getDataDirectory() const
{
    const juce::ScopedLock lock (m_lock);
    return m_current.dataDirectory;
}

juce::File DirectorySettingManager::getDataDirectoryFile() const
{
    // Kept with "/" on every system; whether it is a full path is the
    // system's to say in its own separators (Windows: D:\Work, \\server\share).
    const auto path = getDataDirectory().replaceCharacter ('/', juce::File::getSeparatorChar());
    return juce::File::isAbsolutePath (path) ? juce::File (path) : juce::File();
}

void DirectorySettingManager::setDataDirectory (const juce::String& path)
{
    {
        const juce::ScopedLock lock (m_lock);
        const auto normalised = withForwardSlashes (path);
        if (normalised == m_current.dataDirectory)
            return;
        m_current.dataDirectory = normalised;
    }
    saveSetting();
}

void DirectorySettingManager::addListener (Listener listener)
{
    m_listeners.push_back (std::move (listener));
}

void DirectorySettingManager::apply()
{
    DirectorySetting current, applied;
    {
        const juce::ScopedLock lock (m_lock);
        current.copyFrom (m_current, true);
        applied.copyFrom (m_applied, true);
    }

    for (auto it = m_listeners.rbegin(); it != m_listeners.rend(); ++it)
        (*it) (current, applied);

    const juce::ScopedLock lock (m_lock);
    m_applied.copyFrom (m_current, true);
}

bool DirectorySettingManager::saveSetting()
{
    juce::ValueTree tree;
    {
        const juce::ScopedLock lock (m_lock);
        tree = m_current.toValueTree (true);
    }

    if (! INFRA_VERIFY ("DirectorySettingManager::saveSetting", tree.isValid()))
        return false;

    const auto dirSettingFile = [this] { return m_settingsFile; };
    return INFRA_VERIFY ("DirectorySettingManager::saveSetting",
                         ValueTreeTools::valueTreeToFile (tree, dirSettingFile(), false));
}

} // namespace korva
