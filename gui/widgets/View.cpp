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
namespace
{
// The look of the tab buttons; one for the whole program, made on first use.
class TabLookAndFeel final : public juce::LookAndFeel_V3, public juce::DeletedAtShutdown
{
public:
    static TabLookAndFeel& get()
    {
        static TabLookAndFeel* instance = nullptr;
        if (instance == nullptr)
            instance = new TabLookAndFeel();
        return *instance;
    }

    void drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&, bool mouseOver,
                               bool) override
    {
        const int w = button.getWidth(), h = button.getHeight();
        if (! button.isEnabled()) // the current tab
        {
            g.fillAll (juce::Colour (0xFFC8C8C8));
            g.setColour (juce::Colour (0xFF007DE1));
            g.drawHorizontalLine (0, 0.0f, (float) (w - 1));
            g.drawVerticalLine (0, 0.0f, (float) h);
            g.drawVerticalLine (w - 1, 0.0f, (float) h);
        }
        else
        {
            g.fillAll (juce::Colour (mouseOver ? 0xFF7D7D7D : 0xFF4B4B4B));
        }
    }

    void drawButtonText (juce::Graphics& g, juce::TextButton& button, bool, bool) override
    {
        g.setFont (juce::Font (16.0f, button.isEnabled() ? juce::Font::plain : juce::Font::bold));
        g.setColour (juce::Colours::black);
        g.drawFittedText (button.getButtonText(), button.getLocalBounds(), juce::Justification::centred, 2, 0.7f);
    }
};
} // namespace

TabBar::TabBar (IViewDispatcher* dispatcher) : TransitionCtrlBar (dispatcher)
{
    if (supportsMode (1))
        m_transitionMode = 1;
    setWantsKeyboardFocus (true);
}

TabBar::~TabBar()
{
    for (auto* button : m_buttons)
        button->setLookAndFeel (nullptr);
}

void TabBar::addTab (const juce::String& text, const juce::Identifier& viewId)
{
    auto* button = m_buttons.add (new juce::TextButton (text));
    button->setComponentID (viewId.toString());
    button->setLookAndFeel (&TabLookAndFeel::get());
    // A tab switches as it is pressed, as desktop tabs do. (Switching on the
    // release would also leave JUCE's button, which the switch disables
    // before it has been painted pressed, polling every 100 ms for a paint
    // that a disabled button never gets.)
    button->setTriggeredOnMouseDown (true);
    button->addListener (this);
    addAndMakeVisible (button);

    if (m_dispatcher != nullptr && viewId == m_dispatcher->getCurrentViewName())
        button->setEnabled (false);
    resized();
}

void TabBar::buttonClicked (juce::Button* clicked)
{
    const juce::Identifier id (clicked->getComponentID());
    if (m_dispatcher == nullptr || id == m_dispatcher->getCurrentViewName())
        return;

    m_dispatcher->goToView (id);
    for (auto* button : m_buttons)
        button->setEnabled (true);
    clicked->setEnabled (false);
}

bool TabBar::keyPressed (const juce::KeyPress& key)
{
    const bool pageKey = key.getKeyCode() == juce::KeyPress::pageUpKey || key.getKeyCode() == juce::KeyPress::pageDownKey;

    if (m_buttons.isEmpty() || ! key.getModifiers().isCtrlDown() || ! pageKey)
    {
        auto* view = m_dispatcher != nullptr ? m_dispatcher->getCurrentView() : nullptr;
        return view != nullptr && view->keyPressed (key);
    }

    const auto current = m_dispatcher->getCurrentViewName();
    juce::Identifier id;
    const int n = m_buttons.size();

    if (current.isValid())
    {
        int i = 0;
        while (i < n && m_buttons[i]->getComponentID() != current.toString())
            ++i;
        if (i == n)
            i = 0;
        const int target = key.getKeyCode() == juce::KeyPress::pageDownKey ? (i + 1) % n : (i + n - 1) % n;
        m_buttons[i]->setEnabled (true);
        m_buttons[target]->setEnabled (false);
        id = juce::Identifier (m_buttons[target]->getComponentID());
    }
    else
    {
        id = juce::Identifier (m_buttons[0]->getComponentID());
        m_buttons[0]->setEnabled (false);
    }

    if (id.isValid())
    {
        m_dispatcher->goToView (id);
        return true;
    }

    INFRA_VERIFY ("TabBar::keyPressed", id.isValid());
    return false;
}

void TabBar::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (kBackground));
}

void TabBar::resized()
{
    const int n = m_buttons.size();
    if (n == 0)
        return;
    const int w = getWidth() / n;
    for (int i = 0; i < n; ++i)
        m_buttons[i]->setBounds (i * w, 0, w, getHeight());
}

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
