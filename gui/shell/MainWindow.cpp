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
                      true),
      m_baseTitle (name)
{
    m_pContent = new MainContentComponent();
    installApplicationLookAndFeel();

    setResizable (false, false);
    setUsingNativeTitleBar (true);
    setContentOwned (m_pContent, true);

    centreWithSize (getWidth(), getHeight());
    setVisible (true);
    m_nativeHints.pinSize (*this);
}

MainWindow::~MainWindow()
{
    clearContentComponent();
}

void MainWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void MainWindow::moved()
{
    DocumentWindow::moved();
    m_nativeHints.pinSize (*this);
}

void MainWindow::resized()
{
    DocumentWindow::resized();
    m_nativeHints.pinSize (*this);
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
