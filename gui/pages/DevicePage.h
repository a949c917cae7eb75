#pragma once

// What the pages that poll the KORVA every second while shown (PROJECT and
// PATTERN) do when they are shown or hidden.

#include "core/device/HidSequenceManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace korva
{

// Shown: the page takes the keyboard (Ctrl+PageUp/PageDown reach the tab bar
// through it), the status line is cleared and `refresh` brings the page up to
// date. Hidden: a poll still waiting for its turn is dropped, as it would
// only refresh a page nobody sees.
void devicePageTransitioned (juce::Component& page, bool shown, HidSequenceManager& sequencer,
                             const std::function<void()>& refresh);

// A page's question to the KORVA, asked every second while there is
// something to ask: the page shown and a KORVA connected. Otherwise the poll
// rests, and an idle program sleeps. Message thread only.
class DevicePoll final : private juce::Timer
{
public:
    static constexpr int kDefaultPeriodMs = 1000;

    explicit DevicePoll (std::function<void()> ask);
    ~DevicePoll() override;

    // Starts or stops the poll as the page's state asks. A poll that runs on
    // keeps its rhythm: being told again does not put the next question off.
    void keep (bool shown, bool connected);

    // Another period, from the next start on (tests ask far more often than
    // every second).
    void setPeriod (int milliseconds) noexcept { m_periodMs = milliseconds; }
    bool isPolling() const noexcept { return isTimerRunning(); }

private:
    void timerCallback() override;

    std::function<void()> m_ask;
    int m_periodMs = kDefaultPeriodMs;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DevicePoll)
};

} // namespace korva
