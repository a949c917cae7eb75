#include "gui/pages/AboutPage.h"

#include "gui/widgets/FlashingMessage.h"
#include "gui/widgets/MessageBoxes.h"
#include "gui/widgets/Resources.h"

namespace korva
{

AboutPage::AboutPage() : View ("AboutPage")
{
    showMessage = showWarningBox;
    openManual = [this] (const juce::File& manual) {
        juce::Component::SafePointer<AboutPage> safe (this);
        return m_opener.open (manual, [safe, manual] (const juce::String& reason) {
            if (safe != nullptr && safe->showMessage)
                safe->showMessage ({}, "Could not open the manual " + manual.getFullPathName() + ": " + reason + ".");
        });
    };
    setLookAndFeel (&m_lookAndFeel);
    m_manualButton.addListener (this);
    addAndMakeVisible (m_manualButton);
}

AboutPage::~AboutPage()
{
    m_manualButton.removeListener (this);
    setLookAndFeel (nullptr);
}

void AboutPage::paint (juce::Graphics& g)
{
    paintPageFrame (g, getLocalBounds(), 2);

    g.setFont (16.0f);
    g.setColour (juce::Colours::black);
    g.drawText ("Version", 49, 80, 90, 50, juce::Justification::centredLeft, true);
    g.drawText (kVersionText, 145, 80, 200, 50, juce::Justification::centredLeft, true);
}

void AboutPage::resized()
{
    m_manualButton.setBounds (40, 40, 65, 30);
}

void AboutPage::onTransitioned (bool shown)
{
    View::onTransitioned (shown);
    if (! shown)
        return;

    if (isShowing())
        grabKeyboardFocus();
    FlashingMessage::getInstance()->setMessage ({});
}

void AboutPage::buttonClicked (juce::Button*)
{
    // A manual that is not there: the button does nothing.
    const auto manual = manualLocation ? manualLocation() : juce::File();
    if (manual.existsAsFile() && openManual)
        openManual (manual);
}

} // namespace korva
