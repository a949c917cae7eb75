#include "gui/shell/MainContentComponent.h"

#include "core/device/DeviceMessages.h"
#include "gui/pages/AboutPage.h"
#include "gui/pages/PatternView.h"
#include "gui/pages/ProjectView.h"
#include "gui/shell/TabBar.h"
#include "gui/widgets/FlashingMessage.h"
#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/MessageBoxes.h"

namespace korva
{

MainContentComponent::Pages MainContentComponent::makeApplicationPages()
{
    auto& sequencer = *HidSequenceManager::getInstance();
    return { new ProjectView (sequencer), new PatternView (sequencer, *korva::PatternDataManager::getInstance()),
             new AboutPage() };
}

MainContentComponent::MainContentComponent (HidSequenceManager& sequencer, Pages pages)
    : ViewDispatcher ("MainContentComponent", { false, 33, 500 }), showMessage (showWarningBox), m_sequencer (sequencer)
{
    setTabBar (std::make_unique<TabBar> (this));

    addView (pages.project, "PROJECT", true);
    addView (pages.pattern, "PATTERN", false);
    addView (pages.about, "ABOUT", false);

    addAndMakeVisible (m_lamp);

    FlashingMessage::getInstance()->addActionListener (this);
    m_sequencer.addListener (this);

    setSize (kWidth, kHeight);
    setWantsKeyboardFocus (true);
    if (isShowing())
        grabKeyboardFocus();
}

MainContentComponent::~MainContentComponent()
{
    m_sequencer.removeListener (this);
    FlashingMessage::getInstance()->removeActionListener (this);
    FlashingMessage::deleteInstance();
}

void MainContentComponent::resized()
{
    ViewDispatcher::resized();
    m_lamp.setBounds (getWidth() - 105, 21, 10, 10);
}

bool MainContentComponent::closeRequested (std::function<void()> closeNow)
{
    for (auto* view : getViews())
        if (! view->closeRequested (closeNow))
            return false;
    return true;
}

void MainContentComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (kBackground));
    g.setFont (13.0f);

    const bool connected = m_lamp.isOn();
    const bool silent = ! connected && m_sequencer.isPresent();
    g.setColour (juce::Colour (connected ? 0xFFFFFFFF : 0xFF969696));
    g.drawText (connected ? "Connected" : silent ? kNotRespondingText : "Not Connected", getWidth() - 90, 16, 80, 20,
                juce::Justification::centredLeft, true);

    g.setColour (juce::Colours::white);
    g.drawText (FlashingMessage::getInstance()->getText(), getWidth() - 500, getHeight() - 20, 490, 20,
                juce::Justification::centredRight, true);
}

void MainContentComponent::actionListenerCallback (const juce::String&)
{
    repaint();
}

void MainContentComponent::connectionChanged()
{
    if (infra::hop (m_taskBox, [this] { connectionChanged(); }))
        return;

    const bool connected = m_sequencer.isConnected();
    m_lamp.setOn (connected);
    m_lamp.repaint();
    FlashingMessage::getInstance()->setMessage ({});
    if (connected)
        m_sequencer.requestGetVersionInfo();

    // A KORVA that stopped answering is told once, until it answers again or
    // is plugged in afresh.
    if (! m_sequencer.isPresent() || connected)
        m_toldNotResponding = false;
    else if (! m_toldNotResponding)
    {
        m_toldNotResponding = true;
        if (showMessage)
            showMessage ({}, devicemessages::kNotResponding);
    }
    repaint();
}

void MainContentComponent::sendErrorOccurred (juce::uint8 dataType, eResult result)
{
    if (infra::hop (m_taskBox, [this, dataType, result] { sendErrorOccurred (dataType, result); }))
        return;
    reportCommunicationError (dataType, result);
}

void MainContentComponent::receiveErrorOccurred (juce::uint8 dataType, eResult result)
{
    if (infra::hop (m_taskBox, [this, dataType, result] { receiveErrorOccurred (dataType, result); }))
        return;
    reportCommunicationError (dataType, result);
}

void MainContentComponent::getVersionInfoResponsed (int result)
{
    if (infra::hop (m_taskBox, [this, result] { getVersionInfoResponsed (result); }))
        return;
    if (result == HidSequenceManager::kResultNoVersionReply && showMessage)
        showMessage ({}, devicemessages::kUpgradeFirmware);
}

void MainContentComponent::openErrorOccurred (juce::String devicePath, int error)
{
    if (infra::hop (m_taskBox, [this, devicePath, error] { openErrorOccurred (devicePath, error); }))
        return;
    // The lamp stays dark: the program cannot talk to this KORVA.
    if (showMessage)
        showMessage ({}, devicemessages::cannotOpenDevice (devicePath, error));
}

void MainContentComponent::reportCommunicationError (juce::uint8 dataType, eResult result)
{
    // While the KORVA does not answer, its one message says it all; the
    // sequencer's own questions to it fail quietly.
    if (m_sequencer.isPresent() && ! m_sequencer.isResponding()
        && (dataType == HidSequenceManager::kProjectInfo || dataType == HidSequenceManager::kPatternInfo))
        return;

    const auto text = devicemessages::communicationError ((int) result);
    const auto box = [this, &text] (const juce::String& title) {
        if (showMessage)
            showMessage (title, text);
    };

    switch (dataType)
    {
        case HidSequenceManager::kProjectInfo:
            FlashingMessage::getInstance()->setMessage ("Get Project Info | " + text);
            break;
        case HidSequenceManager::kDeleteProject: box ("Delete Project"); break;
        case HidSequenceManager::kRenameProject: box ("Rename Project"); break;
        case HidSequenceManager::kImportProject:
        case HidSequenceManager::kQueryExportProject:
        case HidSequenceManager::kExportProject: break; // the project page's, which may fold it into a run
        case HidSequenceManager::kPatternInfo:
            FlashingMessage::getInstance()->setMessage ("Get Pattern Info | " + text);
            break;
        case HidSequenceManager::kImportPattern:
        case HidSequenceManager::kQueryExportPattern:
        case HidSequenceManager::kExportPattern:
        case HidSequenceManager::kPushedProject: box ({}); break;
        default: break; // the version probe and anything unknown: nothing
    }
}

} // namespace korva
