#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace korva
{

class MainWindow;
class InstanceLock;

class MELDRA_QX5_Application final : public juce::JUCEApplication
{
public:
    MELDRA_QX5_Application();
    ~MELDRA_QX5_Application() override;

    const juce::String getApplicationName() override { return "KORVA Manager"; }
    const juce::String getApplicationVersion() override { return KORVA_VERSION_STRING; }
    // One instance per user, enforced by InstanceLock in initialise (JUCE's own
    // lock is shared by all users of the machine).
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    void anotherInstanceStarted (const juce::String&) override {}
    void suspended() override {}
    void resumed() override {}
    void unhandledException (const std::exception*, const juce::String&, int) override {}

    MainWindow* getMainWindow() const noexcept { return m_mainWindow.get(); }

private:
    // A termination request from the system (SIGTERM, or Ctrl+C in a
    // terminal) ends the program like its close button does.
    void watchTerminationSignals();
    void stopWatchingTerminationSignals();
    // A later start's request to see the window raises it.
    void watchLaterStarts();

    static constexpr int kShowWindowTimeoutMs = 5000;

    std::unique_ptr<InstanceLock> m_instanceLock;
    int m_signalFd = -1;
    std::unique_ptr<MainWindow> m_mainWindow;
};

} // namespace korva
