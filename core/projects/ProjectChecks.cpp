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
bool checkProjectFile (const juce::File& file, int expectedPatterns, int& patterns, juce::String& reason)
{
    juce::MemoryBlock data;
    if (! file.loadFileAsData (data))
    {
        reason = "cannot read the file";
        return false;
    }

    juce::MemoryBlock header (data.getData(), juce::jmin (data.getSize(), (size_t) ProjectDataManager::kBlockSize));
    if (data.getSize() < (size_t) ProjectDataManager::kBlockSize || ! ProjectDataManager::isProjectHeader (header))
    {
        reason = "not a project file (no project header)";
        return false;
    }

    patterns = ProjectDataManager::countPatterns (header);
    if (expectedPatterns >= 0 && patterns != expectedPatterns)
    {
        reason = "the header announces " + juce::String (patterns) + " patterns, KORVA listed "
                 + juce::String (expectedPatterns);
        return false;
    }

    const size_t expectedSize = (size_t) ProjectDataManager::kBlockSize * (size_t) (patterns + 1);
    if (data.getSize() != expectedSize)
    {
        reason = juce::String ((juce::int64) data.getSize()) + " bytes instead of "
                 + juce::String ((juce::int64) expectedSize) + " for " + juce::String (patterns) + " patterns";
        return false;
    }

    for (int i = 0; i < patterns; ++i)
    {
        const size_t offset = (size_t) ProjectDataManager::kBlockSize * (size_t) (i + 1);
        const juce::MemoryBlock block (static_cast<const char*> (data.getData()) + offset, 3);
        if (! ProjectDataManager::isPatternBlock (block))
        {
            reason = "pattern block " + juce::String (i + 1) + " is not a pattern";
            return false;
        }
    }
    return true;
}

} // namespace projectchecks

} // namespace korva
