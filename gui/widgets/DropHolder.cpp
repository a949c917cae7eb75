#include "gui/widgets/DropHolder.h"

namespace korva
{

void DropHolder::deliver (std::function<void()> drop)
{
    if (m_held.empty() && ! m_target.isCurrentlyBlockedByAnotherModalComponent())
    {
        drop();
        return;
    }
    m_held.push_back (std::move (drop));
    startTimer (checkIntervalMs);
}

void DropHolder::timerCallback()
{
    if (m_target.isCurrentlyBlockedByAnotherModalComponent())
        return;
    stopTimer();
    // A drop may open a box of its own: the ones after it wait for that box.
    while (! m_held.empty())
    {
        auto drop = std::move (m_held.front());
        m_held.erase (m_held.begin());
        drop();
        if (m_target.isCurrentlyBlockedByAnotherModalComponent())
        {
            if (! m_held.empty())
                startTimer (checkIntervalMs);
            return;
        }
    }
}

} // namespace korva
