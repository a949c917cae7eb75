#pragma once

// How the pages learn what became of their requests. Every operation has an
// empty default; a page overrides what it handles. Slots 1 to 14, 16 and 17
// are called on the sequence manager's thread, slot 15 and 18 to 21 on the
// message thread, and openErrorOccurred on the sequence manager's thread;
// overrides hop to the message thread themselves.

#include "core/device/HidDeviceManager.h"
#include "core/infra/Diagnostics.h"

namespace korva
{

class HidSequenceManagerListener : public infra::ExistenceConfirmable
{
public:
    using eResult = HidDeviceManager::eResult;

    virtual ~HidSequenceManagerListener() = default;

    virtual void connectionChanged() {}
    virtual void sendErrorOccurred (juce::uint8 /*dataType*/, eResult /*result*/) {}
    virtual void receiveErrorOccurred (juce::uint8 /*dataType*/, eResult /*result*/) {}
    virtual void getProjectInfoResponsed (int /*result*/, bool /*changed*/) {}
    virtual void deleteProjectResponsed (int /*result*/) {}
    virtual void renameProjectResponsed (int /*result*/) {}
    virtual void importProjectDataResponsed (int /*result*/) {}
    virtual void queryExportProjectResponsed (int /*result*/) {}
    virtual void exportProjectDataResponsed (int /*result*/) {}
    virtual void getPatternInfoResponsed (int /*result*/) {}
    virtual void importPatternDataResponsed (juce::File /*midiFile*/, int /*result*/) {}
    virtual void queryExportPatternResponsed (int /*result*/) {}
    virtual void exportPatternDataResponsed (int /*result*/) {}
    virtual void receivedProjectDataResponsed (int /*result*/) {}
    virtual void getVersionInfoResponsed (int /*result*/) {}
    virtual void readProjectFileErrorOccurred() {}
    virtual void readSmfErrorOccurred() {}
    virtual void deleteProjectRequestStarted() {}
    virtual void renameProjectRequestStarted() {}
    virtual void importProjectDataRequestStarted() {}
    virtual void exportProjectDataRequestStarted() {}
    // A KORVA was plugged in but could not be opened: the node's path and the
    // system's error number (EACCES when this user may not open it). Once
    // per plug-in; the device stays unconnected.
    virtual void openErrorOccurred (juce::String /*devicePath*/, int /*error*/) {}
};

} // namespace korva
