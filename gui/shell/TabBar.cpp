#include "gui/shell/TabBar.h"

namespace korva
{

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

} // namespace korva
