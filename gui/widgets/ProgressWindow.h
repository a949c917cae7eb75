#pragma once

// The progress window of a device request: follows the sequencer's progress,
// closes itself half a second after the sequencer signals the end, and can
// offer "Cancel". It deletes itself when done.

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <functional>

namespace korva
{

class ProgressWindow final : public juce::ThreadWithProgressWindow
{
public:
    static constexpr int kPollPeriodMs = 100;
    static constexpr int kCloseDelayMs = 500;
    static constexpr int kThreadPriority = 0;
    static constexpr int kBarUpdatePeriodMs = 50;

    // The window's thread polls the sequencer: `progress` reads the request's
    // progress (0 .. 1), `takeFinished` says whether the request ended and
    // clears that signal when it did. What they read must outlive the
    // window. `cancel` asks the sequencer to cancel the transfer. `status`,
    // when given, is read with the progress and replaces the message.
    ProgressWindow (const juce::String& title, const juce::String& message, bool hasProgressBar,
                    bool hasCancelButton, std::function<double()> progress, std::function<bool()> takeFinished,
                    std::function<void()> cancel, std::function<juce::String()> status = nullptr);
    ~ProgressWindow() override;

    // Shows the window and starts following the request. Message thread.
    void launch();

    // The value the bar shows (-1: the moving stripes).
    double getShownProgress() const noexcept { return m_shownProgress.load(); }
    bool hasCancelButton() const noexcept { return m_hasCancelButton; }
    juce::String getStatus() const;

private:
    void run() override;
    void threadComplete (bool userPressedCancel) override;

    void show (double value);

    // The bar reads its value on the message thread: it is handed over there.
    class BarUpdater final : public juce::Timer
    {
    public:
        explicit BarUpdater (ProgressWindow& owner) : m_owner (owner) {}
        void timerCallback() override { m_owner.setProgress (m_owner.m_shownProgress.load()); }

    private:
        ProgressWindow& m_owner;
    };

    void showStatus (const juce::String& text);

    mutable juce::CriticalSection m_statusLock;
    juce::String m_status;
    const bool m_hasCancelButton;
    const std::function<juce::String()> m_readStatus;
    const std::function<double()> m_progress;
    const std::function<bool()> m_takeFinished;
    std::function<void()> m_cancel;
    std::atomic<double> m_shownProgress { 0.0 };
    BarUpdater m_barUpdater { *this };

    JUCE_DECLARE_WEAK_REFERENCEABLE (ProgressWindow)
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProgressWindow)
};

} // namespace korva
