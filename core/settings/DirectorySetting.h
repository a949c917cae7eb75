#pragma once

// The data folder: where the project files live. Kept in "DirectorySetting.bin"
// in the per-user application-data folder.

#include "core/infra/ValueTreeConvertible.h"

#include <juce_events/juce_events.h>

#include <functional>

namespace korva
{

class DirectorySetting final : public infra::ValueTreeConvertible
{
public:
    DirectorySetting();

    // home/MELDRA/KORVA, written with "/" as separator on every system
    // (C:/Users/<name>/MELDRA/KORVA); computed once.
    static const juce::String& defaultDataDirectory();

    juce::String dataDirectory;
};

class DirectorySettingManager final : public juce::DeletedAtShutdown
{
public:
    // Told (new setting, previous setting) by apply.
    using Listener = std::function<void (const DirectorySetting&, const DirectorySetting&)>;

    static DirectorySettingManager* getInstance();
    static juce::File dirSettingFile();

    // Loads the given settings file (tests pass their own; the program uses dirSettingFile()).
    explicit DirectorySettingManager (const juce::File& settingsFile);
    ~DirectorySettingManager() override; // saves the setting

    // The current data folder. Safe from any thread.
    juce::String getDataDirectory() const;
    juce::File getDataDirectoryFile() const;

    // Chooses a new data folder ("\" becomes "/") and saves the setting at once,
    // so a crash later does not lose the choice.
    void setDataDirectory (const juce::String& path);

    void addListener (Listener listener);
    void apply();
    bool saveSetting();

private:
    const juce::File m_settingsFile;
    mutable juce::CriticalSection m_lock;
    DirectorySetting m_current;
    DirectorySetting m_applied;
    std::vector<Listener> m_listeners;

    static DirectorySettingManager* s_instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DirectorySettingManager)
};

} // namespace korva
