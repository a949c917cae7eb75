#include "gui/widgets/ProgressWindow.h"

#include "core/infra/AsyncTask.h"
#include "core/infra/Diagnostics.h"

namespace korva
{

ProgressWindow::ProgressWindow (const juce::String& title, const juce::String& message, bool hasProgressBar,
                                bool hasCancelButton, std::function<double()> progress,
                                std::function<bool()> takeFinished, std::function<void()> cancel,
                                std::function<juce::String()> status)
    : juce::ThreadWithProgressWindow (title, hasProgressBar, hasCancelButton, 10000, "Cancel"),
      m_status (message),
      m_hasCancelButton (hasCancelButton),
      m_readStatus (std::move (status)),
      m_progress (std::move (progress)),
      m_takeFinished (std::move (takeFinished)),
      m_cancel (std::move (cancel))
{
    setStatusMessage (message);
}

ProgressWindow::~ProgressWindow()
{
    m_barUpdater.stopTimer();
    // Closed early (its page went away): the worker must not outlive the window.
    stopThread (1000);
}

void ProgressWindow::launch()
{
    m_barUpdater.startTimer (kBarUpdatePeriodMs);
    launchThread (infra::threadPriority (kThreadPriority));
}

void ProgressWindow::show (double value)
{
    m_shownProgress = value;
}

juce::String ProgressWindow::getStatus() const
{
    const juce::ScopedLock lock (m_statusLock);
    return m_status;
}

void ProgressWindow::showStatus (const juce::String& text)
{
    {
        const juce::ScopedLock lock (m_statusLock);
        if (text == m_status)
            return;
        m_status = text;
    }
    setStatusMessage (text);
}

void ProgressWindow::run()
{
    show (-1.0);

    // The sequencer clears the end signal before the request goes out, so a
    // set signal here always belongs to this request, even when it ended
    // before this thread started. It is cleared only as it is taken.
    while (m_takeFinished && ! m_takeFinished())
    {
        if (threadShouldExit())
            return;
        if (m_progress)
            show (m_progress());
        if (m_readStatus)
            showStatus (m_readStatus());
        wait (kPollPeriodMs);
    }

    show (-1.0);
    wait (kCloseDelayMs);
}

void ProgressWindow::threadComplete (bool userPressedCancel)
{
    if (userPressedCancel)
    {
        infra::debugPrint ("Pressed Cancel Of ProgressWindow");
        if (m_cancel)
            m_cancel();
    }
    delete this;
}

} // namespace korva
