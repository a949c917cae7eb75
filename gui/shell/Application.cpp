#include "gui/shell/Application.h"

#include "core/conversion/PatternDataManager.h"
#include "core/device/HidDeviceManager.h"
#include "core/device/HidSequenceManager.h"
#include "core/infra/Diagnostics.h"
#include "core/projects/ProjectDataManager.h"
#include "core/settings/DirectorySetting.h"
#include "core/settings/InstanceLock.h"
#include "gui/shell/MainWindow.h"

#include "gui/shell/TerminationSignals.h"

namespace korva
{

MELDRA_QX5_Application::MELDRA_QX5_Application() = default;
MELDRA_QX5_Application::~MELDRA_QX5_Application() = default;

void MELDRA_QX5_Application::initialise (const juce::String&)
{
    // A second start asks the running program to show its window, and ends.
    m_instanceLock = std::make_unique<InstanceLock> (InstanceLock::defaultLockFile());
    if (! m_instanceLock->isHeld())
    {
        juce::String problem;
        if (! m_instanceLock->askHolderToShowWindow (kShowWindowTimeoutMs, problem))
            infra::logPrintf ("KORVA Manager is running already, but its window could not be shown: %s",
                              problem.toRawUTF8());
        quit();
        return;
    }

    // Start-up order: the device manager, the pattern and project sides, then
    // the sequence manager handed to the device manager as its listener
    // (which starts device detection), then the data-folder setting, then the
    // window. The sides are made before the sequence manager, so that they
    // are deleted after it, at exit.
    auto* deviceManager = HidDeviceManager::getInstance();
    auto* patterns = korva::PatternDataManager::getInstance();
    auto* projects = ProjectDataManager::getInstance();
    auto* sequencer = HidSequenceManager::getInstance();
    sequencer->useDeviceManager (deviceManager);
    sequencer->setPatternConversions (patterns);
    sequencer->setProjectSide (projects);
    deviceManager->setListener (sequencer);

    DirectorySettingManager::getInstance()->apply();
    watchTerminationSignals();

    m_mainWindow = std::make_unique<MainWindow> (getApplicationName());
    watchLaterStarts();
}

void MELDRA_QX5_Application::watchLaterStarts()
{
    const int requests = m_instanceLock->getRequestDescriptor();
    if (requests < 0)
        return;

    juce::LinuxEventLoop::registerFdCallback (requests, [this] (int) {
        if (m_instanceLock->takeRequests() && m_mainWindow != nullptr)
            m_mainWindow->bringToFront();
    });
}

void MELDRA_QX5_Application::watchTerminationSignals()
{
    m_signalFd = terminationsignals::readFd();
    if (m_signalFd < 0)
        return;

    juce::LinuxEventLoop::registerFdCallback (m_signalFd, [this] (int) {
        terminationsignals::drain();
        systemRequestedQuit();
    });
}

void MELDRA_QX5_Application::stopWatchingTerminationSignals()
{
    if (m_signalFd >= 0)
        juce::LinuxEventLoop::unregisterFdCallback (m_signalFd);
    m_signalFd = -1;
}

void MELDRA_QX5_Application::shutdown()
{
    stopWatchingTerminationSignals();
    if (m_instanceLock != nullptr && m_instanceLock->getRequestDescriptor() >= 0)
        juce::LinuxEventLoop::unregisterFdCallback (m_instanceLock->getRequestDescriptor());

    // The window (with its pages and their task boxes) goes first; the device
    // manager follows; the framework then deletes the at-exit managers.
    m_mainWindow.reset();

    // A pattern dragged out leaves the framework animating the image of the
    // drag away on a window of its own, which would otherwise be deleted with
    // the framework's desktop, after the display it belongs to is closed:
    // a crash at exit. It goes now, while the display is there.
    juce::Desktop::getInstance().getAnimator().cancelAllAnimations (false);

    if (m_instanceLock != nullptr && m_instanceLock->isHeld())
    {
        HidDeviceManager::getInstance()->clearListener();
        HidSequenceManager::getInstance()->useDeviceManager (nullptr);
        HidDeviceManager::deleteInstance();
    }
    m_instanceLock.reset();
}

} // namespace korva
