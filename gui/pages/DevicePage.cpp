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

//==============================================================================
DevicePoll::DevicePoll (std::function<void()> ask) : m_ask (std::move (ask)) {}

DevicePoll::~DevicePoll()
{
    stopTimer();
}

void DevicePoll::keep (bool shown, bool connected)
{
    if (! shown || ! connected)
        stopTimer();
    else if (! isTimerRunning())
        startTimer (m_periodMs);
}

void DevicePoll::timerCallback()
{
    m_ask();
}

} // namespace korva
