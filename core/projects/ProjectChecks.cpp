#include "core/projects/ProjectChecks.h"

#include "core/projects/ProjectDataManager.h"

namespace korva
{

namespace projectchecks
{
namespace
{
juce::String couldNot (ProjectAction action, const char* reason)
{
    return juce::String ("Could not ") + (action == ProjectAction::kRename ? "rename" : "delete") + " this project. "
           + reason;
}
} // namespace

juce::String checkNewName (const juce::String& newName, const juce::String& currentName, bool checkDeviceNames)
{
    if (newName == currentName)
        return {};
    if (newName.length() > ProjectDataManager::kMaxNameLength)
        return kNameTooLong;
    if (! ProjectDataManager::isValidProjectName (newName))
        return kInvalidCharacters;
    if (checkDeviceNames && ProjectDataManager::isProjectNameOnDevice (newName))
        return kNameExists;
    return {};
}

juce::String checkDeviceAction (ProjectAction action, bool connected, int index)
{
    if (! connected)
        return couldNot (action, "KORVA is not connected.");
    if (! ProjectDataManager::isProjectIndexOnDevice (index))
        return couldNot (action, "The project does not exist.");
    if (index == ProjectDataManager::getInstance()->currentProjectIndex.load())
        return couldNot (action, "The project is being used by KORVA.");
    return {};
}

juce::String checkExport (const juce::String& projectName)
{
    return ProjectDataManager::isProjectNameOnDevice (projectName) ? juce::String (kSameNameOnDevice)
                                                                    : juce::String();
}

juce::String cannotChangeFile (ProjectAction action, const juce::File& file, int error)
{
    const infra::FileFailure failure { file, error, {} };
    return juce::String (action == ProjectAction::kRename ? "Could not rename the project in "
                                                          : "Could not delete the project file ")
           + file.getFullPathName() + ": " + failure.reason() + ".";
}

juce::String deleteQuestion (const juce::String& projectName)
{
    return "Deleting project " + projectName + ". Are you sure?";
}
} // namespace projectchecks

} // namespace korva
