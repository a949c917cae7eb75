#include "gui/widgets/View.h"

namespace korva
{

View::View (const juce::String& name) : m_viewId (name)
{
}

View::~View() = default;

void View::getVisibleChildBounds (juce::RectangleList<int>& list) const
{
    for (auto* child : getChildren())
        if (child->isVisible())
            list.add (child->getBounds());
}

void View::onTransitioned (bool shown)
{
    if (m_transitionListener == nullptr)
        return;

    auto* transitionListener = m_transitionListener;
    if (! INFRA_VERIFY ("View::onTransitioned", !transitionListener || QVS_EXISTS (transitionListener)))
    {
        m_transitionListener = nullptr;
        return;
    }
    transitionListener->viewTransitioned (shown);
}

//==============================================================================
//==============================================================================
ViewDispatcher::ViewDispatcher (const juce::String& name, const Settings& settings)
    : View (name), m_settings (settings), m_lastTickTime (juce::Time::currentTimeMillis())
{
    setWantsKeyboardFocus (true);
    if (m_settings.tickPeriodMs > 0)
        startTimer (m_settings.firstTickDelayMs);
}

ViewDispatcher::~ViewDispatcher()
{
    m_tabBar.reset();
    m_history.clear();
    if (m_currentView != nullptr)
        removeChildComponent (m_currentView.get());
    m_currentView = nullptr;
    m_views.clear();
    stopTimer();
}

void ViewDispatcher::setTabBar (std::unique_ptr<TransitionCtrlBar> bar)
{
    if (m_tabBar != nullptr)
        removeChildComponent (m_tabBar.get());
    m_tabBar = std::move (bar);
    if (m_tabBar != nullptr)
        addAndMakeVisible (m_tabBar.get());
    resized();
}

void ViewDispatcher::addView (View::Ptr view, const juce::String& tabText, bool showFirst)
{
    if (view == nullptr)
        return;

    if (showFirst)
    {
        m_views.removeObject (view.get());
        m_views.insert (0, view.get());
        goToFirstView();
    }
    else
    {
        m_views.addIfNotAlreadyThere (view.get());
    }

    view->setDispatcher (this);

    if (m_tabBar != nullptr)
        m_tabBar->addTab (tabText, view->getViewId());
}

bool ViewDispatcher::goToView (View* view, bool remember)
{
    if (! INFRA_VERIFY ("ViewDispatcher::goToView", QVS_EXISTS (view)))
        return false;

    View::Ptr previous = m_currentView;
    if (previous != nullptr)
    {
        removeChildComponent (previous.get());
        previous->onTransitioned (false);
    }

    addAndMakeVisible (view);
    m_currentView = view;
    resized();
    resumeViewTicks();

    // No transition animator exists in this program: switching is immediate.

    if (m_views.getFirst().get() == view)
        m_history.clear();
    else if (remember && m_settings.keepHistory && previous != nullptr)
        m_history.add (previous.get());

    view->onTransitioned (true);
    return true;
}

bool ViewDispatcher::goToView (const juce::Identifier& id)
{
    for (auto* view : m_views)
        if (view->getViewId() == id)
            return goToView (view, true);
    return false;
}

void ViewDispatcher::goToFirstView()
{
    if (! m_views.isEmpty() && m_views.getFirst() != m_currentView)
        goToView (m_views.getFirst().get(), false);
}

void ViewDispatcher::goBack()
{
    if (m_history.isEmpty())
        return;
    View::Ptr last = m_history.getLast();
    m_history.removeLast();
    goToView (last.get(), false);
}

void ViewDispatcher::goToNextView (bool forward)
{
    const auto& views = m_views;
    if (! INFRA_VERIFY ("ViewDispatcher::goToNextView", 0<views.size()))
        return;

    int i = m_currentView != nullptr ? m_views.indexOf (m_currentView.get()) : -1;
    if (i < 0)
    {
        goToFirstView();
        return;
    }

    i += forward ? 1 : -1;
    if (i < 0)
        i = m_views.size() - 1;
    else if (i >= m_views.size())
        i = 0;

    const auto id = m_views[i]->getViewId();
    if (id.isValid())
        goToView (id);
}

juce::Identifier ViewDispatcher::getCurrentViewName() const
{
    return m_currentView != nullptr ? m_currentView->getViewId() : juce::Identifier();
}

void ViewDispatcher::resized()
{
    const int w = getWidth(), h = getHeight();
    juce::Rectangle<int> area (10, 10, w - 20, h - 30);

    if (m_tabBar != nullptr)
    {
        const int barHeight = m_tabBar->getBarHeight();
        m_tabBar->setBounds (10, 10, w == 0 ? 0 : juce::jmin (100 * m_views.size(), w), barHeight);
        area.setTop (area.getY() + barHeight);
        area.setHeight (juce::jmax (0, h - 30 - barHeight));
    }

    if (m_currentView != nullptr)
        m_currentView->setBounds (area);
}

bool ViewDispatcher::keyPressed (const juce::KeyPress& key)
{
    return m_tabBar != nullptr && m_tabBar->keyPressed (key);
}

void ViewDispatcher::resumeViewTicks()
{
    if (m_settings.tickPeriodMs > 0 && ! isTimerRunning() && m_currentView != nullptr
        && m_currentView->wantsViewTicks())
        startTimer (m_settings.tickPeriodMs);
}

void ViewDispatcher::timerCallback()
{
    if (m_currentView == nullptr)
        return;

    if (! m_currentView->wantsViewTicks())
    {
        // Nobody to tick: rest until a view that wants ticks is shown.
        stopTimer();
        return;
    }

    const auto now = juce::Time::currentTimeMillis();
    int elapsed = -1;
    if (m_currentView.get() == m_lastTickedView)
        elapsed = (int) (now - m_lastTickTime);
    else
        m_lastTickedView = m_currentView.get();

    m_currentView->onViewTick (elapsed);
    m_lastTickTime = now;

    if (getTimerInterval() != m_settings.tickPeriodMs)
        startTimer (m_settings.tickPeriodMs);
}

} // namespace korva
