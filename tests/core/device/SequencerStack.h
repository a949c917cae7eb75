#pragma once

// The program's device link as the tests of the whole link build it: the
// transport and the request sequencer on this thread's message loop, a
// listener that records what the pages would hear, and the project data
// manager's data folder pointed at a folder of the test's own. The registry
// of devices is the test's to make (virtual devices, hidraw, ...).

#include "core/device/HidDeviceManager.h"
#include "core/device/HidSequenceManager.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "tests/support/MessageLevelKorva.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace korva
{

namespace test
{

struct SequencerStack
{
    RecordingListener listener;
    std::unique_ptr<HidDeviceManager> transport;
    std::unique_ptr<HidSequenceManager> sequencer;
    std::function<juce::File()> previousDataDirectory;
    bool dataFolderReplaced = false;

    // Imports go to `folder`; the device list starts empty.
    void useDataFolder (const juce::File& folder)
    {
        KorvaProjectList::getInstance()->clear();
        auto* projects = ProjectDataManager::getInstance();
        previousDataDirectory = projects->dataDirectory;
        dataFolderReplaced = true;
        projects->dataDirectory = [folder] { return folder; };
        projects->setProjectName ({});
    }

    // Starts the transport (looking for devices every 100 ms) and the
    // sequencer, and waits until they are connected to the registry's first device.
    ::testing::AssertionResult startSequencer (HidSequenceManager::PatternConversions* patterns = nullptr,
                                               int timeoutMs = 3000)
    {
        transport = std::make_unique<HidDeviceManager> (HidDeviceManager::Timing { 100, 1000, 5 });
        sequencer = std::make_unique<HidSequenceManager>();
        sequencer->useDeviceManager (transport.get());
        sequencer->setProjectSide (ProjectDataManager::getInstance());
        if (patterns != nullptr)
            sequencer->setPatternConversions (patterns);
        sequencer->addListener (&listener);
        transport->setListener (sequencer.get());
        if (! waitFor ("connectionChanged", timeoutMs) || ! sequencer->isConnected())
            return ::testing::AssertionFailure() << "not connected";
        listener.clear();
        return ::testing::AssertionSuccess();
    }

    // The program's shutdown order, then the data folder as it was.
    void stopStack()
    {
        if (transport != nullptr)
            transport->clearListener();
        if (sequencer != nullptr)
        {
            sequencer->useDeviceManager (nullptr);
            sequencer->removeListener (&listener);
        }
        transport.reset();
        sequencer.reset();
        if (dataFolderReplaced)
            ProjectDataManager::getInstance()->dataDirectory = previousDataDirectory;
        dataFolderReplaced = false;
    }

    bool waitFor (const std::string& event, int timeoutMs = 5000)
    {
        return runMessageLoopUntil ([&] { return listener.has (event); }, timeoutMs);
    }
};

} // namespace test

} // namespace korva
