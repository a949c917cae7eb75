#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

namespace korva
{

// Files dropped onto a component while a box is open reach it all the same
// (cmake/juce-desktop.patch): acting on them under the box would start work
// the user cannot see begin, and dropping them would lose them. A holder
// hands each drop on at once, or, while a modal component blocks its
// component, once nothing does any more, in the order they came.
// Message thread only.
class DropHolder final : private juce::Timer
{
public:
    explicit DropHolder (juce::Component& target) : m_target (target) {}
    ~DropHolder() override { stopTimer(); }

    void deliver (std::function<void()> drop);
    int getNumHeld() const noexcept { return (int) m_held.size(); }

    // How often a blocked component is looked at again (tests shorten it).
    int checkIntervalMs = 100;

private:
    void timerCallback() override;

    juce::Component& m_target;
    std::vector<std::function<void()>> m_held;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DropHolder)
};

} // namespace korva
