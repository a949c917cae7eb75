#include "gui/widgets/ProgressWindow.h"

#include "core/infra/AsyncTask.h"
#include "core/infra/Diagnostics.h"

namespace korva
{

ProgressWindow::ProgressWindow (const juce::String& title, const juce::String& message, bool hasProgressBar,
                                bool hasCancelButton, std::function<double()> progress,
                                std::function<bool()> takeFinished, std::function<void()> cancel)
    : juce::ThreadWithProgressWindow (title, hasProgressBar, hasCancelButton, 10000, "Cancel"),
      m_status (message),
      m_hasCancelButton (hasCancelButton),
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
