#include "gui/pages/DevicePage.h"

#include "gui/widgets/FlashingMessage.h"

namespace korva
{

void devicePageTransitioned (juce::Component& page, bool shown, HidSequenceManager& sequencer,
                             const std::function<void()>& refresh)
{
    if (shown)
    {
        if (page.isShowing())
            page.grabKeyboardFocus();
        FlashingMessage::getInstance()->setMessage ({});
        refresh();
    }
    else
    {
        sequencer.getRequestor().clearReservation();
    }
}

void keepPolling (juce::Timer& poll, bool shown, bool connected, int periodMs)
{
    if (! shown || ! connected)
        poll.stopTimer();
    else if (! poll.isTimerRunning())
        poll.startTimer (periodMs);
}

} // namespace korva
