#include "device/DeviceMessages.h"

#include "device/HidSequenceManager.h"

namespace devicemessages
{
juce::String communicationError (int result)
{
    return "Communication Error (" + juce::String::formatted ("%04d", result) + ")";
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
} // namespace devicemessages
