#pragma once

// Pages and the switching between them: a ViewDispatcher owns its views,
// shows one at a time and switches by view identifier; a bar above the
// current view (the window's is TabBar) turns clicks and keys into switches.

#include "core/infra/Diagnostics.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

class IViewDispatcher;

class View : public juce::Component, public juce::ReferenceCountedObject, public infra::ExistenceConfirmable
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<View>;

    // Told whenever its view is shown or hidden.
    class TransitionListener : public infra::ExistenceConfirmable
    {
    public:
        virtual ~TransitionListener() = default;
        virtual void viewTransitioned (bool shown) = 0;
    };

    explicit View (const juce::String& name);
    ~View() override;

    const juce::Identifier& getViewId() const noexcept { return m_viewId; }
    IViewDispatcher* getDispatcher() const noexcept { return m_dispatcher; }
    void setDispatcher (IViewDispatcher* dispatcher) noexcept { m_dispatcher = dispatcher; }
    void setTransitionListener (TransitionListener* listener) noexcept { m_transitionListener = listener; }

    // The bounds of the visible children (no caller in the program).
    virtual void getVisibleChildBounds (juce::RectangleList<int>& list) const;
    virtual void onUnusedHook (int) {}
    // Called with false on the view being hidden and true on the one just shown.
    virtual void onTransitioned (bool shown);
    // The dispatcher's view tick, with the milliseconds since the last one (-1 for the first).
    virtual void onViewTick (int) {}
    // Whether this view uses the tick at all; while the view shown does not,
    // the dispatcher's timer rests. No page of the program does.
    virtual bool wantsViewTicks() const { return false; }
    // The user closes the window: true when the view has nothing that must
    // end first. Otherwise the view deals with it (asks the user, ends its
    // work) and calls `closeNow` later, if the window is to close after all.
    virtual bool closeRequested (std::function<void()> closeNow)
    {
        juce::ignoreUnused (closeNow);
        return true;
    }

private:
    IViewDispatcher* m_dispatcher = nullptr;
    TransitionListener* m_transitionListener = nullptr;
    const juce::Identifier m_viewId;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (View)
};

class IViewDispatcher : public infra::ExistenceConfirmable
{
public:
    virtual ~IViewDispatcher() = default;

    virtual bool goToView (const juce::Identifier& id) = 0;
    virtual void goToFirstView() = 0;
    virtual void goBack() = 0;
    virtual void goToNextView (bool forward) = 0;
    virtual juce::Identifier getCurrentViewName() const = 0;
    virtual View* getCurrentView() const = 0;
};

// A bar that switches views; the dispatcher lays it out above the current view.
class TransitionCtrlBar : public juce::Component
{
public:
    explicit TransitionCtrlBar (IViewDispatcher* dispatcher) : m_dispatcher (dispatcher) {}
    ~TransitionCtrlBar() override = default;

    virtual bool supportsMode (int mode) const = 0;
    virtual int getBarHeight() const = 0;
    virtual void onUnusedHookA() {}
    virtual void onUnusedHookB() {}
    virtual void addTab (const juce::String& text, const juce::Identifier& viewId) = 0;

    int getTransitionMode() const noexcept { return m_transitionMode; }

protected:
    IViewDispatcher* const m_dispatcher;
    int m_transitionMode = 3;
};

class ViewDispatcher : public View, public IViewDispatcher, private juce::Timer
{
public:
    struct Settings
    {
        bool keepHistory = false;
        int tickPeriodMs = 33;
        int firstTickDelayMs = 500;
    };

    ViewDispatcher (const juce::String& name, const Settings& settings);
    ~ViewDispatcher() override;

    void addView (View::Ptr view, const juce::String& tabText, bool showFirst);
    bool goToView (View* view, bool remember);
    void setTabBar (std::unique_ptr<TransitionCtrlBar> bar);
    TransitionCtrlBar* getTabBar() const noexcept { return m_tabBar.get(); }
    const juce::ReferenceCountedArray<View>& getViews() const noexcept { return m_views; }

    bool goToView (const juce::Identifier& id) override;
    void goToFirstView() override;
    void goBack() override;
    void goToNextView (bool forward) override;
    juce::Identifier getCurrentViewName() const override;
    View* getCurrentView() const override { return m_currentView.get(); }
    // Whether the view tick's timer runs (it rests while the view shown wants no ticks).
    bool isTicking() const { return isTimerRunning(); }

    void resized() override;
    bool keyPressed (const juce::KeyPress& key) override;

private:
    void timerCallback() override;
    void resumeViewTicks();

    juce::ReferenceCountedArray<View> m_views;
    View::Ptr m_currentView;
    juce::ReferenceCountedArray<View> m_history;
    std::unique_ptr<TransitionCtrlBar> m_tabBar;
    const Settings m_settings;
    juce::int64 m_lastTickTime = 0;
    View* m_lastTickedView = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ViewDispatcher)
};

} // namespace korva
