#pragma once

// The "PATTERN" page: the KORVA's current pattern, refreshed every second
// while the page is shown, a MIDI file of it to drag out of the window, and a
// drop area that sends a dropped MIDI file to the KORVA.

#include "core/conversion/PatternDataManager.h"
#include "core/device/HidSequenceManager.h"
#include "core/infra/AsyncTask.h"
#include "gui/pages/DevicePage.h"
#include "gui/pages/PatternDataComponent.h"
#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/View.h"

#include <atomic>
#include <functional>
#include <mutex>

namespace korva
{

class PatternView final : public View,
                          public juce::DragAndDropContainer,
                          public HidSequenceManagerListener
{
public:
    static constexpr int kMargin = 40;
    // The longest a connection change waits for the message thread before it
    // hands the update to the message loop instead.
    static constexpr int kMessageThreadWaitMs = 500;

    explicit PatternView (HidSequenceManager& sequencer = *HidSequenceManager::getInstance(),
                          korva::PatternDataManager& patterns = *korva::PatternDataManager::getInstance());
    ~PatternView() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void onTransitioned (bool shown) override;

    // Called on the sequencer's thread. The enable update is done right away,
    // with the message thread held still (see the definition).
    void connectionChanged() override;

    bool isActive() const noexcept { return m_active; }
    PatternDataComponent& getDataComponent() noexcept { return m_data; }
    // The question for the current pattern.
    DevicePoll& getPoll() noexcept { return m_poll; }

    // The file's URI, "file://" and the path percent-encoded (UTF-8): what a
    // drop target on the desktop expects.
    static juce::String fileUriOf (const juce::File& file);

    // Told on the sequencer's thread when a connection change starts to wait
    // for the message thread, and whenever one had to be handed to the message
    // loop because the message thread did not come in time (tests).
    std::function<void()> onWaitingForMessageThread;
    std::function<void()> onConnectionUpdatePosted;

    // What a drag that leaves the window offers to other programs: the file
    // whose path is the description, if it exists, as a URI; never text.
    bool filesForExternalDrag (const juce::DragAndDropTarget::SourceDetails& details, juce::StringArray& files,
                               bool& canMoveFiles) const;

protected:
    // Called by the drag when it leaves the window: hands it to the desktop.
    bool shouldDropFilesWhenDraggedExternally (const juce::DragAndDropTarget::SourceDetails& details,
                                               juce::StringArray& files, bool& canMoveFiles) override;
    bool shouldDropTextWhenDraggedExternally (const juce::DragAndDropTarget::SourceDetails&, juce::String&) override
    {
        return false;
    }

private:
    void poll();
    void updateEnablement();
    bool runWithMessageThreadHeld (const std::function<void()>& work);

    HidSequenceManager& m_sequencer;
    korva::PatternDataManager& m_patterns;

    PatternViewLookAndFeel m_lookAndFeel;
    PatternDataComponent m_data;

    bool m_active = false;

    // connectionChanged's hold on the message thread, and the destructor's way
    // to make it let go.
    juce::MessageManager::Lock m_messageLock;
    std::atomic<bool> m_closing{false};
    std::mutex m_connectionCallLock;

    infra::MessageThreadTaskBox m_taskBox;

    DevicePoll m_poll { [this] { poll(); } };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PatternView)
};

} // namespace korva
