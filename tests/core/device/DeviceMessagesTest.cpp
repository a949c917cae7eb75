// The texts a user reads for each result a device request can end with; the
// pages and the korva tool all take them from here.

#include "core/device/DeviceMessages.h"
#include "core/device/HidSequenceManager.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace devicemessages;

TEST (DeviceMessages, EachResultGetsTheProgramsText)
{
    const juce::String busy = "KORVA is busy.";
    const juce::String deviceOld = "The pattern data of KORVA is old. Please upgrade the firmware of KORVA.";
    const juce::String appOld = "The pattern data of KORVA Manager is old. Please upgrade KORVA Manager.";

    struct Case
    {
        juce::String (*message) (int);
        int result;
        juce::String text;
    };
    const Case cases[] = {
        {communicationError, 9, "Communication Error (0009)"},
        {communicationError, 1001, "Communication Error (1001)"},
        {requestFailure, HidSequenceManager::kResultBusy, busy},
        {requestFailure, HidSequenceManager::kResultNoSpace, "Communication Error (2001)"},
        {roomCheckFailure, HidSequenceManager::kResultBusy, busy},
        {roomCheckFailure, HidSequenceManager::kResultNoSpace, "Cannot load the the project. Not enough space on KORVA."},
        {roomCheckFailure, HidSequenceManager::kResultLengthError, "Communication Error (1001)"},
        {projectInfoFailure, HidSequenceManager::kResultBusy, "Get Project Info | KORVA is busy."},
        {projectInfoFailure, 7, "Get Project Info | Communication Error (0007)"},
        {patternInfoFailure, HidSequenceManager::kResultBusy, "Get Pattern Info | Communication Error (2005)"},
        {patternImportFailure, HidSequenceManager::kResultRenderError, "Failed to convert pattern into MIDI file (2002)"},
        {patternImportFailure, HidSequenceManager::kResultMidiWriteError,
         "Failed to convert pattern into MIDI file (2003)"},
        {patternImportFailure, HidSequenceManager::kResultDeviceDataOld, deviceOld},
        {patternImportFailure, HidSequenceManager::kResultAppDataOld, appOld},
        {patternImportFailure, HidSequenceManager::kResultBusy, "Communication Error (2005)"},
        {patternCheckFailure, HidSequenceManager::kResultDeviceDataOld, deviceOld},
        {patternCheckFailure, HidSequenceManager::kResultAppDataOld, appOld},
        {patternCheckFailure, HidSequenceManager::kResultRenderError, "Communication Error (2002)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ (c.message (c.result), c.text) << c.result;
}

TEST (DeviceMessages, EachPatternConversionOutcomeHasItsCodeAndText)
{
    struct Case
    {
        PatternToMidiResult result;
        int code;
        juce::String text;
    };
    const Case cases[] = {
        {kMidiFileWritten, HidSequenceManager::kResultOK, ""},
        {kRenderNotFinished, 2002, "Failed to convert pattern into MIDI file (2002)"},
        {kMidiFileNotWritten, 2003, "Failed to convert pattern into MIDI file (2003)"},
        {kPatternFormatOlder, 2006, "The pattern data of KORVA is old. Please upgrade the firmware of KORVA."},
        {kPatternFormatNewer, 2007, "The pattern data of KORVA Manager is old. Please upgrade KORVA Manager."},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ (HidSequenceManager::resultOf (c.result), c.code) << c.result;
        EXPECT_EQ (patternToMidiFailure (c.result), c.text) << c.result;
    }
}

} // namespace korva
