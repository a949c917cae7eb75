#include "gui/shell/TabBar.h"
#include "gui/widgets/View.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

namespace
{
class RecordingView final : public View
{
public:
    explicit RecordingView (const juce::String& name) : View (name) {}

    void onTransitioned (bool shown) override
    {
        View::onTransitioned (shown);
        transitions.push_back (shown);
    }
    bool keyPressed (const juce::KeyPress& key) override
    {
        keys.push_back (key);
        return true;
    }
    void onViewTick (int elapsed) override { ticks.push_back (elapsed); }
    bool wantsViewTicks() const override { return ticking; }

    bool ticking = true;
    std::vector<bool> transitions;
    std::vector<juce::KeyPress> keys;
    std::vector<int> ticks;
};

struct Pages
{
    explicit Pages (int count = 3, ViewDispatcher::Settings settings = { false, 0, 0 })
        : dispatcher ("MainContentComponent", settings)
    {
        dispatcher.setTabBar (std::make_unique<TabBar> (&dispatcher));
        const char* names[] = { "ProjectView", "PatternView", "AboutPage" };
        const char* tabs[] = { "PROJECT", "PATTERN", "ABOUT" };
        for (int i = 0; i < count; ++i)
        {
            const juce::String name = i < 3 ? names[i] : "View" + juce::String (i);
            views.push_back (new RecordingView (name));
            dispatcher.addView (views.back(), i < 3 ? tabs[i] : name, i == 0);
        }
        dispatcher.setSize (835, 410);
    }

    TabBar& bar() { return *static_cast<TabBar*> (dispatcher.getTabBar()); }
    juce::String current() const { return dispatcher.getCurrentViewName().toString(); }
    std::vector<bool> enabledTabs()
    {
        std::vector<bool> enabled;
        for (int i = 0; i < bar().getNumTabs(); ++i)
            enabled.push_back (bar().getTab (i)->isEnabled());
        return enabled;
    }

    ViewDispatcher dispatcher;
    std::vector<RecordingView*> views; // owned by the dispatcher
};

const juce::KeyPress ctrlPageDown (juce::KeyPress::pageDownKey, juce::ModifierKeys::ctrlModifier, 0);
const juce::KeyPress ctrlPageUp (juce::KeyPress::pageUpKey, juce::ModifierKeys::ctrlModifier, 0);
} // namespace

TEST (ViewDispatcher, LaysOutTheTabBarAndTheCurrentPage)
{
    Pages pages;
    EXPECT_EQ (pages.current(), "ProjectView");
    EXPECT_EQ (pages.bar().getBounds(), juce::Rectangle<int> (10, 10, 300, 32));
    EXPECT_EQ (pages.views[0]->getBounds(), juce::Rectangle<int> (10, 42, 815, 348));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (pages.bar().getTab (i)->getBounds(), juce::Rectangle<int> (100 * i, 0, 100, 32));
    EXPECT_EQ (pages.enabledTabs(), (std::vector<bool> { false, true, true }));

    Pages many (9);
    EXPECT_EQ (many.bar().getWidth(), 835);
}

TEST (ViewDispatcher, OnlyTheCurrentViewIsAChild)
{
    Pages pages;
    ASSERT_TRUE (pages.dispatcher.goToView (juce::Identifier ("PatternView")));
    EXPECT_EQ (pages.views[1]->getParentComponent(), &pages.dispatcher);
    EXPECT_EQ (pages.views[0]->getParentComponent(), nullptr);
    EXPECT_EQ (pages.views[0]->transitions, (std::vector<bool> { true, false }));
    EXPECT_EQ (pages.views[1]->transitions, (std::vector<bool> { true }));
}

TEST (ViewDispatcher, SwitchingToTheCurrentViewStillRunsTheSwitch)
{
    Pages pages;
    pages.views[0]->transitions.clear();
    EXPECT_TRUE (pages.dispatcher.goToView (pages.views[0], true));
    EXPECT_EQ (pages.views[0]->transitions, (std::vector<bool> { false, true }));
}

TEST (ViewDispatcher, UnknownIdentifierChangesNothing)
{
    Pages pages;
    EXPECT_FALSE (pages.dispatcher.goToView (juce::Identifier ("Nowhere")));
    EXPECT_EQ (pages.current(), "ProjectView");
}

TEST (TabBar, ControlPageKeysWrapAroundAndPlainKeysGoToThePage)
{
    Pages pages;
    struct Step
    {
        juce::KeyPress key;
        const char* expected;
        std::vector<bool> tabs;
    };
    const Step steps[] = {
        { ctrlPageUp, "AboutPage", { true, true, false } },   // first -> last
        { ctrlPageDown, "ProjectView", { false, true, true } }, // last -> first
        { ctrlPageDown, "PatternView", { true, false, true } },
    };
    for (const auto& step : steps)
    {
        EXPECT_TRUE (pages.dispatcher.keyPressed (step.key));
        EXPECT_EQ (pages.current(), step.expected);
        EXPECT_EQ (pages.enabledTabs(), step.tabs);
    }

    const juce::KeyPress plainPageDown (juce::KeyPress::pageDownKey);
    EXPECT_TRUE (pages.dispatcher.keyPressed (plainPageDown));
    EXPECT_EQ (pages.current(), "PatternView");
    ASSERT_EQ (pages.views[1]->keys.size(), 1u);
    EXPECT_EQ (pages.views[1]->keys[0], plainPageDown);
}

TEST (TabBar, ClickingATabSwitchesAndClickingTheCurrentOneDoesNothing)
{
    Pages pages;
    pages.bar().getTab (2)->triggerClick();
    runMessageLoopUntil ([&] { return pages.current() == "AboutPage"; }, 2000);
    EXPECT_EQ (pages.current(), "AboutPage");
    EXPECT_EQ (pages.enabledTabs(), (std::vector<bool> { true, true, false }));

    pages.views[2]->transitions.clear();
    pages.bar().getTab (2)->triggerClick(); // disabled: the current tab
    runMessageLoopFor (20);
    EXPECT_TRUE (pages.views[2]->transitions.empty());
}

TEST (ViewDispatcher, DeadViewsAndListenersAreReported)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;
    Pages pages;

    View* dead = nullptr;
    {
        View::Ptr temporary (new RecordingView ("Temporary"));
        dead = temporary.get();
    }
    EXPECT_FALSE (pages.dispatcher.goToView (dead, true));
    EXPECT_TRUE (capture.contains ("ViewDispatcher::goToView - QVS_EXISTS (view)"));

    struct Listener final : View::TransitionListener
    {
        void viewTransitioned (bool) override {}
    };
    auto listener = std::make_unique<Listener>();
    pages.views[1]->setTransitionListener (listener.get());
    listener.reset();
    pages.dispatcher.goToView (juce::Identifier ("PatternView"));
    EXPECT_TRUE (capture.contains (
        "View::onTransitioned - !transitionListener || QVS_EXISTS (transitionListener)"));
}

TEST (ViewDispatcher, TicksTheCurrentViewAfterTheFirstDelay)
{
    Pages pages (3, { false, 20, 60 });
    ASSERT_TRUE (runMessageLoopUntil ([&] { return pages.views[0]->ticks.size() >= 3; }, 3000));
    EXPECT_EQ (pages.views[0]->ticks[0], -1); // first tick of this view
    EXPECT_GE (pages.views[0]->ticks[1], 10);
    EXPECT_TRUE (pages.views[1]->ticks.empty());
}

TEST (ViewDispatcher, RestsWhileTheViewShownWantsNoTicks)
{
    Pages pages (2, { false, 20, 60 });
    pages.views[0]->ticking = false;
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! pages.dispatcher.isTicking(); }, 3000))
        << "the first tick finds nobody to tick and stops the timer";
    EXPECT_TRUE (pages.views[0]->ticks.empty());

    pages.dispatcher.goToView (juce::Identifier ("PatternView"));
    EXPECT_TRUE (pages.dispatcher.isTicking());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return pages.views[1]->ticks.size() >= 2; }, 3000));
    EXPECT_EQ (pages.views[1]->ticks[0], -1);

    pages.dispatcher.goToView (juce::Identifier ("ProjectView"));
    EXPECT_TRUE (runMessageLoopUntil ([&] { return ! pages.dispatcher.isTicking(); }, 3000));
    EXPECT_TRUE (pages.views[0]->ticks.empty());
}

} // namespace korva
