#include "gui/pages/PatternView.h"

#include <chrono>
#include <condition_variable>
#include <thread>

namespace korva
{

PatternView::PatternView (HidSequenceManager& sequencer, korva::PatternDataManager& patterns)
    : View ("PatternView"), m_sequencer (sequencer), m_patterns (patterns), m_data (sequencer, patterns)
{
    setWantsKeyboardFocus (true);
    setLookAndFeel (&m_lookAndFeel);
    addAndMakeVisible (m_data);

    m_sequencer.addListener (this);

    updateEnablement();
}

PatternView::~PatternView()
{
    // A connection change waiting for the message thread (which is here, busy
    // with this destructor) lets go now; then the listener can be removed
    // without waiting on it.
    m_closing = true;
    m_messageLock.abort();
    m_sequencer.removeListener (this);

    setLookAndFeel (nullptr);
}

//==============================================================================
void PatternView::paint (juce::Graphics& g)
{
    paintPageFrame (g, getLocalBounds(), 1);
}

void PatternView::resized()
{
    m_data.setBounds (getLocalBounds().reduced (kMargin));
}

void PatternView::onTransitioned (bool shown)
{
    View::onTransitioned (shown);
    m_active = shown;
    devicePageTransitioned (*this, shown, m_sequencer, [this] { updateEnablement(); });
    m_poll.keep (m_active, m_sequencer.isConnected());
}

void PatternView::poll()
{
    if (m_active && m_sequencer.isConnected())
        m_sequencer.requestGetPatternInfo();
}

void PatternView::updateEnablement()
{
    m_patterns.trackNumber = -1;
    m_patterns.patternNumber = -1;
    m_data.setEnabled (m_sequencer.isConnected());
    m_poll.keep (m_active, m_sequencer.isConnected());
    repaint();
}

//==============================================================================
void PatternView::connectionChanged()
{
    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    if (messageManager == nullptr)
        return;

    if (messageManager->currentThreadHasLockedMessageManager())
    {
        updateEnablement();
        return;
    }

    // Two callers at once would share the lock object.
    const std::lock_guard<std::mutex> oneAtATime (m_connectionCallLock);
    if (m_closing)
        return;

    if (onWaitingForMessageThread)
        onWaitingForMessageThread();
    if (runWithMessageThreadHeld ([this] { updateEnablement(); }) || m_closing)
        return;

    // The message thread did not come in time: it may itself be waiting for
    // the sequencer, which is waiting for this call. The update goes through
    // the message loop instead.
    infra::hop (m_taskBox, [this] { updateEnablement(); });
    if (onConnectionUpdatePosted)
        onConnectionUpdatePosted();
}

bool PatternView::runWithMessageThreadHeld (const std::function<void()>& work)
{
    // The sequencer calls its listeners under its listener lock, and the
    // message thread takes that lock too (adding and removing listeners, the
    // notifications it sends itself). Waiting for the message thread without a
    // limit could wait for ever: a watchdog ends the wait after a while, and
    // the destructor ends it at once.
    std::mutex watchLock;
    std::condition_variable watchWake;
    bool finished = false;
    std::atomic<bool> timedOut{false};

    std::thread watchdog (
        [&]
        {
            std::unique_lock<std::mutex> lock (watchLock);
            if (!watchWake.wait_for (lock, std::chrono::milliseconds (kMessageThreadWaitMs), [&] { return finished; }))
            {
                timedOut = true;
                m_messageLock.abort();
            }
        });

    bool done = false;
    {
        juce::MessageManager::Lock::ScopedTryLockType lock (m_messageLock);

        // A wait can also end without the lock for an abort meant for an
        // earlier call: look again unless it is time to give up.
        while (!lock.isLocked() && !m_closing && !timedOut)
            lock.retryLock();

        if (lock.isLocked() && !m_closing)
        {
            work();
            done = true;
        }
    }

    {
        const std::lock_guard<std::mutex> lock (watchLock);
        finished = true;
    }
    watchWake.notify_all();
    watchdog.join();
    return done;
}

//==============================================================================
bool PatternView::filesForExternalDrag (const juce::DragAndDropTarget::SourceDetails& details,
                                        juce::StringArray& files, bool& canMoveFiles) const
{
    const auto path = details.description.toString();
    if (!juce::File::isAbsolutePath (path) || !juce::File (path).existsAsFile())
        return false;

    // JUCE puts "file://" before a bare path without encoding it; a path with a
    // space or a non-ASCII letter would not survive. An encoded URI goes through
    // as it is.
    files.add (fileUriOf (juce::File (path)));
    canMoveFiles = true; // the receiving program may move the file (X11 only offers copying)
    return true;
}

bool PatternView::shouldDropFilesWhenDraggedExternally (const juce::DragAndDropTarget::SourceDetails& details,
                                                        juce::StringArray&, bool&)
{
    juce::StringArray files;
    bool canMoveFiles = false;
    if (!filesForExternalDrag (details, files, canMoveFiles))
        return false;

    // Answering "yes" would make JUCE 7.0.5 delete its drag image in the middle
    // of a call that goes on using it (AddressSanitizer catches it in every
    // external drag). The drag is handed to the desktop here instead, once
    // that call has returned; the image, emptied, stays until the mouse is
    // released.
    setCurrentDragImage (juce::ScaledImage());
    juce::Component::SafePointer<PatternDataComponent> source (&m_data);
    juce::MessageManager::callAsync (
        [source, files, canMoveFiles]
        {
            if (source != nullptr)
                juce::DragAndDropContainer::performExternalDragDropOfFiles (files, canMoveFiles, source.getComponent());
        });
    return false;
}

juce::String PatternView::fileUriOf (const juce::File& file)
{
    return juce::URL (file).toString (false);
}

} // namespace korva
