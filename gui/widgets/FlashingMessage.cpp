#include "gui/widgets/FlashingMessage.h"

namespace korva
{

FlashingMessage* FlashingMessage::s_instance = nullptr;

FlashingMessage* FlashingMessage::getInstance()
{
    if (s_instance == nullptr)
        s_instance = new FlashingMessage();
    return s_instance;
}

void FlashingMessage::deleteInstance()
{
    delete s_instance;
    s_instance = nullptr;
}

FlashingMessage::~FlashingMessage()
{
    stopTimer();
}

void FlashingMessage::setMessage (const juce::String& text)
{
    if (text.isNotEmpty())
        startTimer (kBlinkPeriodMs);
    else
        stopTimer();

    m_text = text;
    sendActionMessage (kActionMessage);
}

void FlashingMessage::timerCallback()
{
    m_phase = ! m_phase;
    sendActionMessage (kActionMessage);
}

} // namespace korva
