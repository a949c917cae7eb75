#pragma once

// The content of the "PATTERN" page: the KORVA's current pattern with the
// MIDI file that can be dragged out of it (left half) and the area that takes
// a dropped MIDI file to send to the KORVA (right half), each with its length
// selector.

#include "core/conversion/PatternDataManager.h"
#include "core/device/HidSequenceManager.h"
#include "core/infra/AsyncTask.h"
#include "gui/pages/PatternPreviewPopup.h"
#include "gui/widgets/DropHolder.h"
#include "gui/widgets/Notice.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace korva
{

// The moving stripes shown while the device's pattern is being turned into a
// MIDI file.
class ConvertingBar final : public juce::Component, private juce::Timer
{
public:
    static constexpr int kFramePeriodMs = 50;
    static constexpr juce::uint32 kColour = 0xFF3264FF;

    ConvertingBar();
    ~ConvertingBar() override;

    void paint (juce::Graphics& g) override;
    void visibilityChanged() override;

    bool isAnimating() const noexcept { return isTimerRunning(); }

private:
    void timerCallback() override { repaint(); }

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConvertingBar)
};

// Takes MIDI files dragged in from other programs. Only the first file of a
// drag counts; its full path is broadcast as an action message, at once, or
// once a box that is open when it is dropped has been closed.
class FileDropArea final : public juce::Component, public juce::FileDragAndDropTarget, public juce::ActionBroadcaster
{
public:
    // Files made for dragging out live one folder below `temporaryFolder`:
    // those are never taken back.
    explicit FileDropArea (const juce::File& temporaryFolder);

    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    void filesDropped (const juce::StringArray& files, int x, int y) override;

private:
    const juce::File m_temporaryFolder;
    DropHolder m_holder { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileDropArea)
};

class PatternDataComponent final : public juce::Component,
                                   public juce::ActionListener,
                                   public HidSequenceManagerListener,
                                   private juce::Timer
{
public:
    static constexpr juce::uint32 kEnabledColour = 0xFF000000;
    static constexpr juce::uint32 kDisabledColour = 0xFF7D7D7D;
    static constexpr float kDimmedAlpha = 0.6f;
    // How long the pointer rests on the MIDI file icon before the preview is asked for.
    static constexpr int kPreviewDelayMs = 400;
    // A drag this soon after the preview's render takes that very file, when
    // the Length and the device's track and pattern are still the same.
    static constexpr juce::uint32 kPreviewReuseMs = 5000;

    PatternDataComponent (HidSequenceManager& sequencer, korva::PatternDataManager& patterns);
    ~PatternDataComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // The drag-out gesture: the first drag movement starts the conversion, the
    // next one after the file has arrived becomes the file drag, mouse up ends it.
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;

    // The preview: resting the pointer on the MIDI file icon shows, after a
    // short delay, the notes the drag would give; leaving it, pressing, a new
    // Length or an unplugged KORVA hides them.
    void mouseMove (const juce::MouseEvent& e) override;
    void mouseExit (const juce::MouseEvent& e) override;
    void mouseDown (const juce::MouseEvent& e) override;
    void enablementChanged() override;

    // A file dropped onto the drop area.
    void actionListenerCallback (const juce::String& path) override;

    // HidSequenceManagerListener: any thread; the work is done on the message thread.
    void getPatternInfoResponsed (int result) override;
    void importPatternDataResponsed (juce::File midiFile, int result) override;
    void queryExportPatternResponsed (int result) override;
    void exportPatternDataResponsed (int result) override;
    void readSmfErrorOccurred() override;

    // The bars of a length selector: its text up to " bar".
    static int barsOf (const juce::ComboBox& selector);

    const juce::String& getPreparedFile() const noexcept { return m_preparedFile; }
    bool isIdle() const noexcept { return m_idle; }
    bool hasStartedFileDrag() const noexcept { return m_fileDragStarted; }
    ConvertingBar& getConvertingBar() noexcept { return m_convertingBar; }
    FileDropArea& getDropArea() noexcept { return m_dropArea; }
    // After a drop that lost notes or controller changes: what and why.
    Notice& getDropNotice() noexcept { return m_dropNotice; }
    juce::ComboBox& getRenderLengthSelector() noexcept { return m_renderLength; }
    juce::ComboBox& getDropLengthSelector() noexcept { return m_dropLength; }
    const juce::Image& getDragImage() const noexcept { return m_dragIcon; }
    juce::Rectangle<int> getFileIconArea() const;
    PatternPreviewPopup& getPreviewPopup() noexcept { return m_previewPopup; }
    // The file the shown (or last) preview was read from; empty when none.
    const juce::String& getPreviewFile() const noexcept { return m_previewFile; }
    void setPreviewDelay (int milliseconds) noexcept { m_previewDelayMs = milliseconds; }

    // Shows a warning box (title, text); the framework's asynchronous box unless replaced (tests).
    std::function<void (const juce::String&, const juce::String&)> showMessage;

private:
    void startFileDrag (const juce::MouseEvent& e);
    void message (const juce::String& text);

    void timerCallback() override; // the pointer has rested long enough: ask for the preview
    void askForPreview();
    void requestRender (int bars);
    void endHover();
    void hidePreview();
    bool canReusePreview (int bars) const;
    void showPreview (const juce::File& file, int bars);
    void renderLengthChanged();

    infra::MessageThreadTaskBox m_taskBox;
    HidSequenceManager& m_sequencer;
    korva::PatternDataManager& m_patterns;

    juce::Image m_korvaImage;         // the device, 170 x 100
    juce::Image m_korvaImageDisabled; // the same, dimmed
    juce::Image m_fileIcon;
    juce::Image m_dragIcon; // the file icon, dimmed
    juce::Image m_dropIcon; // 173 x 100

    ConvertingBar m_convertingBar;
    FileDropArea m_dropArea;
    Notice m_dropNotice; // a child of the drop area, so that drops on it still land

    juce::String m_preparedFile; // the MIDI file made for the current gesture
    bool m_idle = true;          // no drag-out conversion under way
    // The operating system's drag runs on its own once started (on X11 the
    // mouse keeps moving over this component): one file drag per gesture.
    bool m_fileDragStarted = false;

    juce::ComboBox m_renderLength; // selector A: bars of the MIDI file to make
    juce::ComboBox m_dropLength;   // selector B: bars to take from a dropped file

    // Preview and drag ask the device the same way. Which request an answer
    // belongs to is told by the bar count the file was rendered for.
    PatternPreviewPopup m_previewPopup;
    int m_previewDelayMs = kPreviewDelayMs;
    bool m_hovering = false;          // the pointer rests on the icon
    bool m_previewWaiting = false;    // the preview waits for a render
    juce::uint64 m_requestedBars = 0; // bit n: a render of n bars asked for and not answered
    int m_dragBars = 0;               // the Length of the drag under way
    juce::String m_previewFile;       // the preview's render, with what it was made of
    int m_previewBars = 0, m_previewTrack = -1, m_previewPattern = -1;
    juce::uint32 m_previewMadeAt = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PatternDataComponent)
};

} // namespace korva
