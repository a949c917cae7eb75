#include "app/DevicePage.h"

#include "app/FlashingMessage.h"

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
