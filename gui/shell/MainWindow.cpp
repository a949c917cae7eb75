#include "gui/shell/MainWindow.h"

#include "gui/shell/MainContentComponent.h"
#include "gui/widgets/AppLookAndFeel.h"

namespace korva
{

namespace
{
void installApplicationLookAndFeel()
{
    auto& current = juce::LookAndFeel::getDefaultLookAndFeel();
    if (dynamic_cast<AppLookAndFeel*> (&current) == nullptr)
    {
        // Deleted at shutdown with the other at-exit objects.
        juce::LookAndFeel::setDefaultLookAndFeel (new AppLookAndFeel());

        auto& desktop = juce::Desktop::getInstance();
        for (int i = 0; i < desktop.getNumComponents(); ++i)
            desktop.getComponent (i)->sendLookAndFeelChange();
    }

    // JUCE clears its typeface cache itself when this changes the name.
    juce::LookAndFeel::getDefaultLookAndFeel().setDefaultSansSerifTypefaceName (AppLookAndFeel::kInterfaceTypeface);
}
} // namespace

MainWindow::MainWindow (const juce::String& name)
    : DocumentWindow (name, juce::Colour (kBackground), DocumentWindow::minimiseButton | DocumentWindow::closeButton,
                      false),
      m_baseTitle (name)
{
    m_pContent = new MainContentComponent();
    installApplicationLookAndFeel();
    sendLookAndFeelChange();

    setResizable (false, false);
    setUsingNativeTitleBar (true);
    setContentOwned (m_pContent, true);
    centreWithSize (getWidth(), getHeight());

    // The native window is made only now, once, at its final size and place.
    // Made earlier (as JUCE does by default), it starts at DocumentWindow's
    // minimum of 128 x 128, and changing to the native title bar maps it at
    // that size: a window manager then manages a 128 x 128 window, and the
    // resize to the content that follows is a request it may act on after
    // JUCE has already read the small size back, which JUCE then keeps.
    addToDesktop();
    setVisible (true);
}

MainWindow::~MainWindow()
{
    clearContentComponent();
}

void MainWindow::closeButtonPressed()
{
    const auto quit = [] {
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->systemRequestedQuit();
    };
    // A page with work that must end first (Import All) asks the user, and
    // closes the window itself once that work has ended.
    juce::Component::SafePointer<MainWindow> safe (this);
    if (m_pContent != nullptr && ! m_pContent->closeRequested ([safe, quit] {
            if (safe != nullptr)
                quit();
        }))
        return;
    quit();
}

void MainWindow::setAppName (const juce::String& text)
{
    if (infra::hop (m_taskBox, [this, text] { setAppName (text); }))
        return;

    setName (m_baseTitle + text);
}

void MainWindow::bringToFront()
{
    // JUCE's toFront maps the window, takes the keyboard focus and sends the
    // window manager the usual request (_NET_ACTIVE_WINDOW, as a pager does,
    // which focus-stealing prevention lets through); the window manager
    // raises and focuses it.
    setMinimised (false);
    toFront (true);
    m_nativeHints.activateWithoutWindowManager (*this);
    if (auto* modal = juce::ModalComponentManager::getInstanceWithoutCreating())
        modal->bringModalComponentsToFront (true);
}

} // namespace korva
