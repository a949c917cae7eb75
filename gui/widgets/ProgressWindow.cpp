#include "gui/widgets/ProgressWindow.h"

#include "core/infra/AsyncTask.h"
#include "core/infra/Diagnostics.h"

namespace korva
{

ProgressWindow::ProgressWindow (const juce::String& title, const juce::String& message, bool hasProgressBar,
                                      bool hasCancelButton, const std::atomic<double>* progress,
                                      std::atomic<bool>* finished, std::function<void()> cancel)
    : juce::ThreadWithProgressWindow (title, hasProgressBar, hasCancelButton, 10000, "Cancel"),
      m_status (message),
      m_hasCancelButton (hasCancelButton),
      m_progress (progress),
      m_finished (finished),
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
    // set flag here always belongs to this request, even when it ended before
    // this thread started. It is cleared only after it has been seen set.
    while (m_finished != nullptr && ! m_finished->load())
    {
        if (threadShouldExit())
            return;
        if (m_progress != nullptr)
            show (m_progress->load());
        wait (kPollPeriodMs);
    }

    if (m_finished != nullptr)
    {
        bool seen = true;
        m_finished->compare_exchange_strong (seen, false);
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
