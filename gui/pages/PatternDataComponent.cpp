#include "gui/pages/PatternDataComponent.h"

#include "core/device/DeviceMessages.h"
#include "gui/widgets/AppLookAndFeel.h"
#include "gui/widgets/FlashingMessage.h"
#include "gui/widgets/MessageBoxes.h"
#include "gui/widgets/Resources.h"

#include <climits>
#include <cstdlib>

namespace korva
{

namespace
{

// The folder itself, with every symbolic link resolved (the path as given when it cannot be).
juce::String canonicalPath (const juce::File& file)
{
    char resolved[PATH_MAX];
    if (::realpath (file.getFullPathName().toRawUTF8(), resolved) != nullptr)
        return juce::String::fromUTF8 (resolved);
    return file.getFullPathName();
}

bool isSameFolder (const juce::File& a, const juce::File& b)
{
    return a == b || canonicalPath (a) == canonicalPath (b);
}

juce::Image dimmed (const juce::Image& image)
{
    // A copy of its own: images from the cache are shared with every other user.
    auto copy = image.convertedToFormat (juce::Image::ARGB).createCopy();
    copy.multiplyAllAlphas (PatternDataComponent::kDimmedAlpha);
    return copy;
}

void fillSelector (juce::ComboBox& box, int bars)
{
    int id = 1;
    for (int n = 1; n <= bars; n *= 2)
        box.addItem (juce::String (n) + " bar", id++);
    box.setSelectedId (3, juce::dontSendNotification); // "4 bar"
    box.setJustificationType (juce::Justification::centred);
}
} // namespace

//==============================================================================
ConvertingBar::ConvertingBar()
{
    setInterceptsMouseClicks (false, false);
    setVisible (false);
}

ConvertingBar::~ConvertingBar()
{
    stopTimer();
}

void ConvertingBar::paint (juce::Graphics& g)
{
    drawMovingStripes (g, getWidth(), getHeight(), juce::Colour (kColour));
}

void ConvertingBar::visibilityChanged()
{
    // Only repaints: no need to run while nobody sees it.
    if (isVisible())
        startTimer (kFramePeriodMs);
    else
        stopTimer();
}

//==============================================================================
FileDropArea::FileDropArea (const juce::File& temporaryFolder) : m_temporaryFolder (temporaryFolder) {}

bool FileDropArea::isInterestedInFileDrag (const juce::StringArray& files)
{
    if (!isEnabled() || files.isEmpty())
        return false;

    const auto& path = files[0];
    if (!path.containsChar ('.') || path.fromLastOccurrenceOf (".", false, false).toLowerCase() != "mid")
        return false;

    // A file dragged out of this page lies in a subfolder of the temporary folder.
    return !isSameFolder (juce::File (path).getParentDirectory().getParentDirectory(), m_temporaryFolder);
}

void FileDropArea::filesDropped (const juce::StringArray& files, int, int)
{
    if (files.isEmpty())
        return;
    const auto path = juce::File (files[0]).getFullPathName();
    m_holder.deliver ([this, path] { sendActionMessage (path); });
}

//==============================================================================
PatternDataComponent::PatternDataComponent (HidSequenceManager& sequencer, korva::PatternDataManager& patterns)
    : showMessage (showWarningBox), m_sequencer (sequencer), m_patterns (patterns),
      m_dropArea (patterns.getTemporaryFolder())
{
    const auto korva = loadResourceImage ("korva_image.png");
    m_korvaImage = korva.rescaled (170, 100, juce::Graphics::mediumResamplingQuality);
    m_korvaImageDisabled = dimmed (korva.convertedToFormat (juce::Image::ARGB).rescaled (170, 100));
    m_fileIcon = loadResourceImage ("smf_file_icon.png");
    m_dragIcon = dimmed (m_fileIcon);
    m_dropIcon = loadResourceImage ("drop_area_icon.png").rescaled (173, 100);

    addChildComponent (m_convertingBar);
    addAndMakeVisible (m_dropArea);
    m_dropArea.addChildComponent (m_dropNotice);
    m_dropArea.addActionListener (this);

    // Above the drop area, which covers the whole right half.
    fillSelector (m_renderLength, 32);
    fillSelector (m_dropLength, 4);
    addAndMakeVisible (m_renderLength);
    addAndMakeVisible (m_dropLength);

    addChildComponent (m_previewPopup);
    m_renderLength.onChange = [this] { renderLengthChanged(); };

    m_sequencer.addListener (this);
}

PatternDataComponent::~PatternDataComponent()
{
    stopTimer();
    // First of all: after this no sequencer callback can reach the component.
    m_sequencer.removeListener (this);
    m_dropArea.removeActionListener (this);
}

int PatternDataComponent::barsOf (const juce::ComboBox& selector)
{
    return selector.getText().upToFirstOccurrenceOf (" bar", false, false).getIntValue();
}

//==============================================================================
void PatternDataComponent::paint (juce::Graphics& g)
{
    const int w = getWidth(), h = getHeight();
    const auto left = juce::Justification::centredLeft;

    g.fillAll (juce::Colours::white);

    if (isEnabled())
    {
        g.setColour (juce::Colour (kEnabledColour));
        g.drawImageAt (m_korvaImage, 40, 40);
        g.drawImageAt (m_fileIcon, getFileIconArea().getX(), getFileIconArea().getY());
        g.drawImageAt (m_dropIcon, 3 * w / 4 - 87, 40);

        g.setFont (juce::Font (15.0f, juce::Font::bold));
        g.drawText ("Current Pattern", 235, 60, 110, 20, left, true);

        g.setFont (juce::Font (15.0f));
        g.drawText ("Track", 245, 80, 50, 20, left, true);
        g.drawText ("Pattern", 245, 100, 50, 20, left, true);

        const int track = m_patterns.trackNumber.load();
        const int pattern = m_patterns.patternNumber.load();
        const bool known = track != -1 && pattern != -1;
        g.drawText (known ? juce::String (track).paddedLeft ('0', 2) : juce::String ("--"), 295, 80, 30, 20, left,
                    true);
        g.drawText (known ? juce::String (pattern).paddedLeft ('0', 2) : juce::String ("--"), 295, 100, 30, 20, left,
                    true);
    }
    else
    {
        g.setColour (juce::Colour (kDisabledColour));
        g.drawImageAt (m_korvaImageDisabled, 40, 40);
    }

    g.drawRect (getLocalBounds(), 1);
    if (h - 20 > 20)
        g.fillRect (w / 2, 20, 1, h - 40);

    g.setFont (juce::Font (15.0f));
    g.drawText ("Length", 110, h - 55, 50, 25, left, true);
    g.drawText ("Length", w / 2 + 110, h - 55, 50, 25, left, true);

    g.setFont (juce::Font (24.0f));
    g.drawText ("Drag icon to get MIDI file.", 0, h - 110, w / 2 - 40, 30, juce::Justification::centredBottom, true);
    g.drawText ("Drop MIDI file to send KORVA.", w / 2, h - 110, w / 2, 30, juce::Justification::centredBottom, true);
}

void PatternDataComponent::resized()
{
    const int w = getWidth(), h = getHeight();
    m_dropArea.setBounds (w / 2, 0, w / 2, h);
    m_convertingBar.setBounds (40, h - 75, w / 2 - 120, 8);
    m_renderLength.setBounds (160, h - 55, w / 2 - 270, 25);
    m_dropLength.setBounds (w / 2 + 160, h - 55, w / 2 - 270, 25);
    // Over the drop side, from its instruction up over its picture.
    m_dropNotice.setArea ({ 12, 12, w / 2 - 24, juce::jmax (0, h - 90) });

    // Over the page, above the icon, inside the component.
    const auto icon = getFileIconArea();
    m_previewPopup.setTopLeftPosition (juce::jlimit (2, juce::jmax (2, w - PatternPreviewPopup::kWidth - 2),
                                                     icon.getCentreX() - PatternPreviewPopup::kWidth / 2),
                                       juce::jmax (2, icon.getY() - PatternPreviewPopup::kHeight - 4));
}

juce::Rectangle<int> PatternDataComponent::getFileIconArea() const
{
    return {getWidth() / 2 - 70, getHeight() - 115, m_fileIcon.getWidth(), m_fileIcon.getHeight()};
}

//==============================================================================
// Drag out

void PatternDataComponent::mouseDrag (const juce::MouseEvent& e)
{
    if (!isEnabled())
        return;

    if (m_preparedFile.isEmpty())
    {
        if (!m_idle)
            return; // the conversion is under way

        hidePreview();
        m_dragBars = barsOf (m_renderLength);
        m_idle = false;
        if (canReusePreview (m_dragBars))
        {
            m_preparedFile = m_previewFile;
            startFileDrag (e);
            return;
        }
        // A render of this Length already asked for (by the preview) comes
        // sooner than a new one.
        if ((m_requestedBars & (1ull << m_dragBars)) == 0)
            requestRender (m_dragBars);
        m_convertingBar.setVisible (true);
        return;
    }

    if (!m_fileDragStarted)
        startFileDrag (e);
}

void PatternDataComponent::startFileDrag (const juce::MouseEvent& e)
{
    auto* container = juce::DragAndDropContainer::findParentDragContainerFor (this);
    if (container == nullptr || container->isDragAndDropActive())
        return;

    // The image starts at this component's top-left corner and follows the mouse.
    const auto offset = -e.getMouseDownPosition();
    container->startDragging (m_preparedFile, this, juce::ScaledImage (m_dragIcon), true, &offset, &e.source);
    m_fileDragStarted = true;
    m_convertingBar.setVisible (false);
}

void PatternDataComponent::mouseUp (const juce::MouseEvent&)
{
    m_preparedFile.clear();
    m_idle = true;
    m_fileDragStarted = false;
    m_convertingBar.setVisible (false);
    // An answer the device never gave must not hold the next gesture back.
    m_requestedBars = 0;
}

void PatternDataComponent::requestRender (int bars)
{
    m_patterns.renderBarCount = bars;
    m_sequencer.requestImportPatternData();
    m_requestedBars |= 1ull << bars;
}

//==============================================================================
// Preview

void PatternDataComponent::mouseMove (const juce::MouseEvent& e)
{
    const bool over = isEnabled() && getFileIconArea().contains (e.getPosition());
    if (over && !m_hovering)
    {
        m_hovering = true;
        if (m_idle)
            startTimer (m_previewDelayMs);
    }
    else if (!over && m_hovering)
    {
        endHover();
    }
}

void PatternDataComponent::mouseExit (const juce::MouseEvent&)
{
    endHover();
}

void PatternDataComponent::mouseDown (const juce::MouseEvent&)
{
    // A press starts a gesture of its own: the drag.
    hidePreview();
    m_hovering = false;
}

void PatternDataComponent::enablementChanged()
{
    if (isEnabled())
        return;
    endHover();
    m_previewFile.clear();
    m_requestedBars = 0;
}

void PatternDataComponent::endHover()
{
    m_hovering = false;
    hidePreview();
    if (m_idle)
        m_requestedBars = 0;
}

void PatternDataComponent::hidePreview()
{
    stopTimer();
    m_previewWaiting = false;
    m_previewPopup.setVisible (false);
}

void PatternDataComponent::timerCallback()
{
    stopTimer();
    askForPreview();
}

void PatternDataComponent::askForPreview()
{
    if (!m_hovering || !m_idle || !isEnabled())
        return;
    const int bars = barsOf (m_renderLength);
    if (canReusePreview (bars))
    {
        showPreview (juce::File (m_previewFile), bars);
        return;
    }
    m_previewWaiting = true;
    if ((m_requestedBars & (1ull << bars)) == 0)
        requestRender (bars);
}

void PatternDataComponent::renderLengthChanged()
{
    if (!m_previewPopup.isVisible() && !m_previewWaiting)
        return;
    hidePreview();
    askForPreview();
}

bool PatternDataComponent::canReusePreview (int bars) const
{
    return m_previewFile.isNotEmpty() && m_previewBars == bars && m_previewTrack == m_patterns.trackNumber.load() &&
           m_previewPattern == m_patterns.patternNumber.load() &&
           juce::Time::getMillisecondCounter() - m_previewMadeAt < kPreviewReuseMs &&
           juce::File (m_previewFile).existsAsFile();
}

void PatternDataComponent::showPreview (const juce::File& file, int bars)
{
    juce::MemoryBlock bytes;
    PatternPreview preview;
    if (file.loadFileAsData (bytes) &&
        preview.read (static_cast<const uint8_t*> (bytes.getData()), bytes.getSize(), bars))
        m_previewPopup.setPreview (preview);
    else
        m_previewPopup.setFailure ("The MIDI file of the pattern could not be read.");
    m_previewPopup.setVisible (true);
    m_previewPopup.toFront (false);
}

//==============================================================================
// Drop in

void PatternDataComponent::actionListenerCallback (const juce::String& path)
{
    m_dropNotice.dismiss();
    m_patterns.dropBarCount = barsOf (m_dropLength);
    m_sequencer.requestQueryExportablePattern (juce::File (path));
}

//==============================================================================
// Sequencer callbacks: they come on the sequencer's thread and are done on the
// message thread.

void PatternDataComponent::message (const juce::String& text)
{
    if (showMessage)
        showMessage ({}, text);
}

void PatternDataComponent::getPatternInfoResponsed (int result)
{
    if (infra::hop (m_taskBox, [this, result] { getPatternInfoResponsed (result); }))
        return;

    if (result == HidSequenceManager::kResultOK)
    {
        FlashingMessage::getInstance()->setMessage ({});
        repaint();
    }
    else
    {
        FlashingMessage::getInstance()->setMessage (devicemessages::patternInfoFailure (result));
    }
}

void PatternDataComponent::importPatternDataResponsed (juce::File midiFile, int result)
{
    if (infra::hop (m_taskBox, [this, midiFile, result] { importPatternDataResponsed (midiFile, result); }))
        return;

    if (result != HidSequenceManager::kResultOK)
    {
        m_requestedBars = 0;
        // What the preview alone asked for fails in the pop-up, not in a box.
        if (m_idle && m_previewWaiting)
        {
            m_previewWaiting = false;
            m_previewPopup.setFailure (devicemessages::patternImportFailure (result));
            m_previewPopup.setVisible (true);
            return;
        }
        message (devicemessages::patternImportFailure (result));
        return;
    }

    // 0 for a file the manager does not know: it is taken as the one asked for.
    const int bars = m_patterns.renderedBarsOf (midiFile);
    if (bars > 0)
        m_requestedBars &= ~(1ull << bars);

    // A file that arrives after the mouse was released belongs to no gesture.
    if (!m_idle && (bars == 0 || bars == m_dragBars))
        m_preparedFile = midiFile.getFullPathName();

    if (m_previewWaiting && m_idle && m_hovering)
    {
        const int wanted = barsOf (m_renderLength);
        if (bars == 0 || bars == wanted)
        {
            m_previewWaiting = false;
            m_previewFile = midiFile.getFullPathName();
            m_previewBars = wanted;
            m_previewTrack = m_patterns.trackNumber.load();
            m_previewPattern = m_patterns.patternNumber.load();
            m_previewMadeAt = juce::Time::getMillisecondCounter();
            showPreview (midiFile, wanted);
        }
        else if ((m_requestedBars & (1ull << wanted)) == 0)
        {
            requestRender (wanted);
        }
    }
}

void PatternDataComponent::queryExportPatternResponsed (int result)
{
    if (infra::hop (m_taskBox, [this, result] { queryExportPatternResponsed (result); }))
        return;

    // On success the sequencer goes on sending the pattern.
    if (result != HidSequenceManager::kResultOK)
        message (devicemessages::patternCheckFailure (result));
}

void PatternDataComponent::exportPatternDataResponsed (int result)
{
    if (infra::hop (m_taskBox, [this, result] { exportPatternDataResponsed (result); }))
        return;

    if (result != HidSequenceManager::kResultOK)
    {
        message (devicemessages::communicationError (result));
        return;
    }

    // The pattern was sent; what of the file did not fit it is told in a
    // notice that stays until the user clicks it or drops again. A drop that
    // lost nothing shows nothing.
    const auto lost = describeLosses (m_patterns.getLastDropReport());
    if (lost.isNotEmpty())
        m_dropNotice.show ("Sent. " + lost);
}

void PatternDataComponent::readSmfErrorOccurred()
{
    if (infra::hop (m_taskBox, [this] { readSmfErrorOccurred(); }))
        return;
    // The reader's reason goes on a line of its own under the program's message.
    const juce::String refusal = m_patterns.getLastDropRefusal();
    const juce::String failed = devicemessages::kMidiToPatternFailed;
    message (refusal.isEmpty() ? failed : failed + "\n" + refusal);
}

} // namespace korva
