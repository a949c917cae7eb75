#pragma once

// The user's own folders, as the system names them: where settings and the
// program's working files go, and the home folder the data folder starts in.

#include <juce_core/juce_core.h>

namespace korva
{

namespace infra
{

struct UserFolders
{
    // The home folder (Linux: $HOME; Windows: the user's profile folder,
    // %USERPROFILE%).
    static juce::File home();

    // The per-user application-data folder (Linux: ~/.config; Windows:
    // %APPDATA%, the roaming application data).
    static juce::File applicationData();
};

} // namespace infra

} // namespace korva
