#include "core/device/DeviceMessages.h"

#include "core/device/HidSequenceManager.h"
#include "core/infra/FileTools.h"

#include <cerrno>
#include <cstring>

namespace korva
{

namespace devicemessages
{
juce::String cannotOpenDevice (const juce::String& devicePath, int error)
{
    const juce::String reason = infra::FileTools::errorText (error);
    juce::String text = "KORVA is plugged in, but " + devicePath + " cannot be opened (" + reason + ").";
    if (error == EBUSY)
        text << " Another program is using it: KORVA Manager or a korva command, perhaps of another user."
                " Close that program first.";
    else if (error == EACCES || error == EPERM)
        text << " " << accessDeniedRemedy();
    return text;
}

juce::String communicationError (int result)
{
    return "Communication Error (" + juce::String::formatted ("%04d", result) + ")";
}

juce::String cannotSaveProject (const infra::FileFailure& failure)
{
    return "Could not save the project in " + failure.file.getFullPathName() + ": " + failure.reason() + ".";
}

juce::String cannotReadProject (const infra::FileFailure& failure)
{
    return "Could not read the project file " + failure.file.getFullPathName() + ": " + failure.reason() + ".";
}

juce::String importFailure (int result, const infra::FileFailure& local)
{
    return local.failed() ? cannotSaveProject (local) : requestFailure (result);
}

juce::String exportFailure (int result, const infra::FileFailure& local)
{
    return local.failed() ? cannotReadProject (local) : communicationError (result);
}

juce::String requestFailure (int result)
{
    return result == HidSequenceManager::kResultBusy ? juce::String (kBusy) : communicationError (result);
}

juce::String roomCheckFailure (int result)
{
    return result == HidSequenceManager::kResultNoSpace ? juce::String (kNotEnoughSpace) : requestFailure (result);
}

juce::String projectInfoFailure (int result)
{
    return "Get Project Info | " + requestFailure (result);
}

juce::String patternInfoFailure (int result)
{
    return "Get Pattern Info | " + communicationError (result);
}

juce::String patternCheckFailure (int result)
{
    switch (result)
    {
        case HidSequenceManager::kResultDeviceDataOld: return kDeviceDataOld;
        case HidSequenceManager::kResultAppDataOld: return kAppDataOld;
        default: return communicationError (result);
    }
}

juce::String patternImportFailure (int result)
{
    if (result == HidSequenceManager::kResultRenderError || result == HidSequenceManager::kResultMidiWriteError)
        return "Failed to convert pattern into MIDI file (" + juce::String::formatted ("%04d", result) + ")";
    return patternCheckFailure (result);
}

juce::String patternToMidiFailure (PatternToMidiResult result)
{
    return result == kMidiFileWritten ? juce::String() : patternImportFailure (HidSequenceManager::resultOf (result));
}
} // namespace devicemessages

} // namespace korva
