// The "PATTERN" page against a KORVA at message level: the current pattern,
// the drag-out gesture through the component's mouse handlers, the drop area
// and every message the page shows.

#include "core/patterns/PatternRecord.h"
#include "gui/pages/PatternView.h"
#include "gui/widgets/FlashingMessage.h"
#include "tests/core/engine/EngineTestSupport.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/support/MessageLevelKorva.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <tuple>
#include <thread>

namespace korva
{

using namespace korva::test;

namespace
{
constexpr int kTrack = 3, kPattern = 12;
// The page asks for the current pattern ten times a second here, not once.
constexpr int kPollPeriodMs = 100;

juce::MemoryBlock patternInfo (int track, int pattern)
{
    juce::MemoryBlock payload (20, true);
    payload[0] = (char)track;
    payload[1] = (char)pattern;
    payload[2] = 74; // controller lane 0
    return payload;
}

// Two bars: note 60 at the start of bar 1, note 64 at the start of bar 2.
juce::MemoryBlock patternPayload (char formatDigit = '3')
{
    auto record = emptyPattern();
    record.block.barCount = 2;
    addNote (record, 0, 0, 60, 7);
    addNote (record, 16, 0, 64, 7);
    record.magic[3] = formatDigit;
    korva::PatternPayload payload;
    korva::encodePattern (record, payload);
    return juce::MemoryBlock (payload.data(), payload.size());
}

Bytes fileBytes (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    const auto* p = static_cast<const uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}

std::vector<int> notesOf (const std::vector<MidiEvent>& events)
{
    std::vector<int> notes;
    for (const auto& e : events)
        if (e.status == 0x90)
            notes.push_back (e.data1);
    return notes;
}

// The notes of a written file, paired by the test's own parser: a note-off
// ends the earliest sounding note of its pitch.
std::vector<PreviewNote> pairedNotes (const std::vector<MidiEvent>& events)
{
    std::vector<PreviewNote> sounding, notes;
    for (const MidiEvent& e : events)
    {
        if (e.status == 0x90)
        {
            sounding.push_back ({e.data1, (int)e.tick, 0, e.data2});
            continue;
        }
        const auto match = std::find_if (sounding.begin(), sounding.end(),
                                         [&] (const PreviewNote& n) { return n.pitch == e.data1; });
        if (e.status != 0x80 || match == sounding.end())
            continue;
        notes.push_back ({match->pitch, match->start, (int)e.tick - match->start, match->velocity});
        sounding.erase (match);
    }
    std::sort (notes.begin(), notes.end(), [] (const PreviewNote& a, const PreviewNote& b)
               { return std::tie (a.start, a.pitch) < std::tie (b.start, b.pitch); });
    return notes;
}

juce::MouseEvent mouseEventAt (juce::Component& component, juce::Point<int> position, juce::Point<int> downAt)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position.toFloat(),
                             juce::ModifierKeys::leftButtonModifier, juce::MouseInputSource::defaultPressure,
                             juce::MouseInputSource::defaultOrientation, juce::MouseInputSource::defaultRotation,
                             juce::MouseInputSource::defaultTiltX, juce::MouseInputSource::defaultTiltY, &component,
                             &component, now, downAt.toFloat(), now, 1, position != downAt);
}

struct PatternPage : ::testing::Test
{
    TempFolder tmp;
    korva::PatternDataManager patterns{tmp / "Temp"};

    // The device: its pattern information, its pattern (held back while the
    // gate is closed) and its answers to a dropped file.
    std::mutex deviceLock;
    juce::MemoryBlock infoAnswer = patternInfo (kTrack, kPattern);
    juce::MemoryBlock patternAnswer = patternPayload();
    int queryStatus = 1, exportStatus = 1;
    std::atomic<bool> gateOpen{true};

    HidSequenceManager sequencer;
    MessageLevelKorva korva{sequencer};
    RecordingListener events;
    std::unique_ptr<PatternView> page;
    std::vector<juce::String> boxes;

    PatternDataComponent& data() { return page->getDataComponent(); }

    void setInfoAnswer (const juce::MemoryBlock& answer)
    {
        const std::lock_guard<std::mutex> lock (deviceLock);
        infoAnswer = answer;
    }

    void SetUp() override
    {
        FlashingMessage::getInstance()->setMessage ({});
        korva.answer = [this] (juce::uint8 type, const juce::MemoryBlock&) -> std::optional<juce::MemoryBlock>
        {
            if (type == HidSequenceManager::kImportPattern)
                waitUntil ([this] { return gateOpen.load(); }, 10000);
            const std::lock_guard<std::mutex> lock (deviceLock);
            switch (type)
            {
                case HidSequenceManager::kPatternInfo:
                    return infoAnswer;
                case HidSequenceManager::kImportPattern:
                    return patternAnswer;
                case HidSequenceManager::kQueryExportPattern:
                    return bytesOf ({queryStatus});
                case HidSequenceManager::kExportPattern:
                    return bytesOf ({exportStatus});
                default:
                    return std::nullopt;
            }
        };
        sequencer.setTransport (&korva);
        sequencer.setPatternConversions (&patterns);
        sequencer.addListener (&events);

        page = std::make_unique<PatternView> (sequencer, patterns);
        page->setBounds (0, 0, 815, 348);
        page->getPoll().setPeriod (kPollPeriodMs);
        data().showMessage = [this] (const juce::String& title, const juce::String& text)
        {
            EXPECT_EQ (title, "");
            boxes.push_back (text);
        };
        page->onTransitioned (true);
    }

    void TearDown() override
    {
        gateOpen = true;
        page.reset();
        sequencer.removeListener (&events);
        sequencer.setTransport (nullptr); // a request still waiting is refused, not sent to a KORVA on its way out
        FlashingMessage::deleteInstance();
    }

    void connect()
    {
        juce::StringArray ids{"KORVA"};
        sequencer.onHidConnected (ids);
        ASSERT_TRUE (runMessageLoopUntil ([&] { return data().isEnabled(); }));
    }

    void disconnect()
    {
        juce::StringArray ids{"KORVA"};
        sequencer.onHidDisconnected (ids);
        ASSERT_TRUE (runMessageLoopUntil ([&] { return !data().isEnabled(); }));
    }

    void connectAndWaitForPattern()
    {
        connect();
        ASSERT_TRUE (runMessageLoopUntil ([&] { return patterns.patternNumber.load() == kPattern; }, 4000));
    }

    // Mouse gestures on the left half, away from the children.
    const juce::Point<int> downAt{300, 150};
    void drag (int dx = 5) { data().mouseDrag (mouseEventAt (data(), downAt + juce::Point<int> (dx, 0), downAt)); }
    void release() { data().mouseUp (mouseEventAt (data(), downAt, downAt)); }

    bool waitForPreparedFile (int timeoutMs = 5000)
    {
        return runMessageLoopUntil ([&] { return data().getPreparedFile().isNotEmpty(); }, timeoutMs);
    }

    bool waitForEvent (const std::string& event, int timeoutMs = 5000)
    {
        return runMessageLoopUntil ([&] { return events.has (event); }, timeoutMs);
    }

    bool waitForBox (const juce::String& text, int timeoutMs = 5000)
    {
        return runMessageLoopUntil ([&] { return std::find (boxes.begin(), boxes.end(), text) != boxes.end(); },
                                    timeoutMs);
    }

    // Whether a text box of the component shows exactly this text (15-pixel
    // plain font, left-aligned), compared with the text drawn the same way.
    bool showsText (juce::Rectangle<int> box, const juce::String& text)
    {
        const auto shown = data().createComponentSnapshot (box, false, 1.0f);
        juce::Image expected (juce::Image::ARGB, box.getWidth(), box.getHeight(), true);
        {
            juce::Graphics g (expected);
            g.fillAll (juce::Colours::white);
            g.setColour (juce::Colours::black);
            g.setFont (juce::Font (15.0f));
            g.drawText (text, 0, 0, box.getWidth(), box.getHeight(), juce::Justification::centredLeft, true);
        }
        for (int y = 0; y < box.getHeight(); ++y)
            for (int x = 0; x < box.getWidth(); ++x)
                if (shown.getPixelAt (x, y).getARGB() != expected.getPixelAt (x, y).getARGB())
                    return false;
        return true;
    }

    int countPixelsWhere (juce::Rectangle<int> area, const std::function<bool (juce::Colour)>& test)
    {
        const auto image = data().createComponentSnapshot (area, false, 1.0f);
        int n = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                n += test (image.getPixelAt (x, y));
        return n;
    }

    const juce::Rectangle<int> trackBox{295, 80, 30, 20};
    const juce::Rectangle<int> patternBox{295, 100, 30, 20};
};

bool isWhite (juce::Colour c)
{
    return c.getARGB() == 0xFFFFFFFF;
}
} // namespace

//==============================================================================
// The page

TEST_F (PatternPage, LayoutSelectorsAndImages)
{
    EXPECT_EQ (data().getBounds(), juce::Rectangle<int> (40, 40, 735, 268));
    EXPECT_EQ (data().getDropArea().getBounds(), juce::Rectangle<int> (367, 0, 367, 268));
    EXPECT_EQ (data().getConvertingBar().getBounds(), juce::Rectangle<int> (40, 193, 247, 8));
    EXPECT_EQ (data().getRenderLengthSelector().getBounds(), juce::Rectangle<int> (160, 213, 97, 25));
    EXPECT_EQ (data().getDropLengthSelector().getBounds(), juce::Rectangle<int> (527, 213, 97, 25));
    EXPECT_FALSE (data().getConvertingBar().isVisible());
    EXPECT_FALSE (data().getConvertingBar().isAnimating());

    // The selectors lie above the drop area, which covers the right half.
    auto& selector = data().getDropLengthSelector();
    auto* underSelector = data().getComponentAt (550, 220);
    EXPECT_TRUE (underSelector == &selector || selector.isParentOf (underSelector));
    EXPECT_EQ (data().getComponentAt (550, 100), &data().getDropArea());

    auto& a = data().getRenderLengthSelector();
    auto& b = data().getDropLengthSelector();
    ASSERT_EQ (a.getNumItems(), 6);
    ASSERT_EQ (b.getNumItems(), 3);
    EXPECT_EQ (a.getItemText (5), "32 bar");
    EXPECT_EQ (b.getItemText (2), "4 bar");
    EXPECT_EQ (a.getSelectedId(), 3);
    EXPECT_EQ (b.getSelectedId(), 3);
    EXPECT_EQ (PatternDataComponent::barsOf (a), 4);
    a.setSelectedId (6);
    EXPECT_EQ (PatternDataComponent::barsOf (a), 32);

    // The drag image is the file icon, dimmed.
    const auto& image = data().getDragImage();
    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getBounds(), juce::Rectangle<int> (0, 0, 48, 60));
    int maxAlpha = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            maxAlpha = std::max (maxAlpha, (int)image.getPixelAt (x, y).getAlpha());
    EXPECT_GT (maxAlpha, 100);
    EXPECT_LE (maxAlpha, 154);
}

TEST_F (PatternPage, TheCurrentPatternShowsWhileConnected)
{
    // Not connected: the dimmed picture, no numbers, no icons, grey lines.
    EXPECT_FALSE (data().isEnabled());
    EXPECT_TRUE (showsText (trackBox, ""));
    EXPECT_TRUE (showsText (patternBox, ""));
    EXPECT_EQ (countPixelsWhere ({297, 153, 48, 60}, [] (juce::Colour c) { return !isWhite (c); }), 0);
    const auto grey = juce::Colour (PatternDataComponent::kDisabledColour).getARGB();
    auto snapshot = data().createComponentSnapshot (data().getLocalBounds(), false, 1.0f);
    EXPECT_EQ (snapshot.getPixelAt (0, 134).getARGB(), grey);
    EXPECT_EQ (snapshot.getPixelAt (367, 134).getARGB(), grey);
    const auto darkness = [&] {
        return countPixelsWhere ({40, 40, 170, 100}, [] (juce::Colour c) { return c.getBrightness() < 0.5f; });
    };
    const int dimmedInk = darkness();

    // Connected: "--" until the first answer, then two digits.
    setInfoAnswer (juce::MemoryBlock (3)); // answered with 1001: nothing known
    connect();
    EXPECT_TRUE (showsText (trackBox, "--"));
    EXPECT_TRUE (showsText (patternBox, "--"));
    EXPECT_GT (countPixelsWhere ({297, 153, 48, 60}, [] (juce::Colour c) { return !isWhite (c); }), 100);
    EXPECT_GT (darkness(), dimmedInk);
    snapshot = data().createComponentSnapshot (data().getLocalBounds(), false, 1.0f);
    EXPECT_EQ (snapshot.getPixelAt (0, 134).getARGB(), 0xFF000000u);

    setInfoAnswer (patternInfo (kTrack, kPattern));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return showsText (trackBox, "03"); }, 4000));
    EXPECT_TRUE (showsText (patternBox, "12"));
    EXPECT_FALSE (showsText (patternBox, "--"));

    // From here on the answers store nothing.
    setInfoAnswer (juce::MemoryBlock (19));
    ASSERT_TRUE (
        runMessageLoopUntil ([&] { return FlashingMessage::getInstance()->getMessage().contains ("(1001)"); }, 4000));

    // Either number unknown: both dashes.
    patterns.trackNumber = -1;
    EXPECT_TRUE (showsText (patternBox, "--"));
    patterns.trackNumber = kTrack;
    EXPECT_TRUE (showsText (patternBox, "12"));

    // Showing the page again forgets the numbers until the next answer.
    page->onTransitioned (false);
    EXPECT_FALSE (page->getPoll().isPolling());
    page->onTransitioned (true);
    EXPECT_TRUE (showsText (trackBox, "--"));
    EXPECT_TRUE (showsText (patternBox, "--"));

    disconnect();
    EXPECT_TRUE (showsText (trackBox, ""));
}

TEST_F (PatternPage, HidingThePageDropsAWaitingRequest)
{
    connectAndWaitForPattern();
    gateOpen = false;
    drag(); // the pattern request holds the line
    ASSERT_TRUE (waitUntil ([&] { return korva.count (HidSequenceManager::kImportPattern) == 1; }));
    sequencer.requestGetPatternInfo();
    ASSERT_TRUE (
        waitUntil ([&] { return sequencer.getRequestor().getReservedType() == HidSequenceManager::kPatternInfo; }));

    page->onTransitioned (false);
    EXPECT_EQ (sequencer.getRequestor().getReservedType(), HidSequenceRequestor::kNone);
    const int asked = korva.count (HidSequenceManager::kPatternInfo);
    gateOpen = true;
    ASSERT_TRUE (waitForEvent ("importPattern 1000"));
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    EXPECT_EQ (korva.count (HidSequenceManager::kPatternInfo), asked);
}

TEST_F (PatternPage, PatternInformationAnswersReachTheStatusLine)
{
    connect();
    setInfoAnswer (juce::MemoryBlock (19));
    EXPECT_TRUE (runMessageLoopUntil (
        [&] { return FlashingMessage::getInstance()->getMessage() == "Get Pattern Info | Communication Error (1001)"; },
        4000));

    // A data error, as the sequencer reports it from its own thread; it stays
    // until the next success. Unplugged first, so that no poll answers over it.
    disconnect();
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    std::thread sequencerThread ([&] { data().getPatternInfoResponsed (HidSequenceManager::kResultDataError); });
    sequencerThread.join();
    EXPECT_TRUE (runMessageLoopUntil (
        [&]
        { return FlashingMessage::getInstance()->getMessage() == "Get Pattern Info | Communication Error (1002)"; }));

    setInfoAnswer (patternInfo (kTrack, kPattern));
    connect();
    EXPECT_TRUE (runMessageLoopUntil ([&] { return FlashingMessage::getInstance()->getMessage().isEmpty(); }, 4000));
}

//==============================================================================
// Drag out

TEST_F (PatternPage, DraggingMakesAMidiFileOfTheCurrentPattern)
{
    connectAndWaitForPattern();
    data().getRenderLengthSelector().setSelectedId (1); // "1 bar"

    gateOpen = false;
    drag();
    EXPECT_TRUE (data().getConvertingBar().isVisible());
    EXPECT_TRUE (data().getConvertingBar().isAnimating());
    EXPECT_FALSE (data().isIdle());
    EXPECT_EQ (patterns.renderBarCount.load(), 1);

    // Further movements while the device works ask for nothing more.
    drag (8);
    drag (12);
    ASSERT_TRUE (waitUntil ([&] { return korva.count (HidSequenceManager::kImportPattern) == 1; }));
    gateOpen = true;
    ASSERT_TRUE (waitForPreparedFile());
    EXPECT_EQ (korva.count (HidSequenceManager::kImportPattern), 1);

    // A real MIDI file in a fresh subfolder of the temporary folder.
    const juce::File file (data().getPreparedFile());
    EXPECT_TRUE (
        std::regex_match (file.getFileName().toStdString(), std::regex ("TRK03_PTN12_[0-9]{8}_[0-9]{6}\\.mid")))
        << file.getFileName();
    EXPECT_EQ (file.getParentDirectory().getParentDirectory(), patterns.getTemporaryFolder());
    EXPECT_TRUE (std::regex_match (file.getParentDirectory().getFileName().toStdString(), std::regex ("-?[0-9]+")));
    EXPECT_EQ (notesOf (parseWrittenFile (fileBytes (file))), std::vector<int>{60}); // one bar: not the 64 of bar 2

    // Mouse up ends the gesture.
    release();
    EXPECT_TRUE (data().getPreparedFile().isEmpty());
    EXPECT_TRUE (data().isIdle());
    EXPECT_FALSE (data().getConvertingBar().isVisible());
    EXPECT_FALSE (data().getConvertingBar().isAnimating());
    EXPECT_TRUE (file.existsAsFile());

    // Two bars make a file with both notes.
    data().getRenderLengthSelector().setSelectedId (2);
    drag();
    ASSERT_TRUE (waitForPreparedFile());
    EXPECT_EQ (patterns.renderBarCount.load(), 2);
    EXPECT_EQ (notesOf (parseWrittenFile (fileBytes (juce::File (data().getPreparedFile())))),
               (std::vector<int>{60, 64}));
    EXPECT_NE (juce::File (data().getPreparedFile()).getParentDirectory(), file.getParentDirectory());
    release();
}

TEST_F (PatternPage, ReleasingBeforeTheFileArrivesCancelsTheGesture)
{
    connectAndWaitForPattern();
    gateOpen = false;
    drag();
    ASSERT_TRUE (waitUntil ([&] { return korva.count (HidSequenceManager::kImportPattern) == 1; }));
    release();
    EXPECT_FALSE (data().getConvertingBar().isVisible());
    EXPECT_TRUE (data().isIdle());

    gateOpen = true;
    ASSERT_TRUE (waitForEvent ("importPattern 1000"));
    ASSERT_TRUE (deliverPostedMessages());
    EXPECT_TRUE (data().getPreparedFile().isEmpty());

    // The next drag starts a conversion of its own.
    drag();
    EXPECT_TRUE (data().getConvertingBar().isVisible());
    ASSERT_TRUE (waitForPreparedFile());
    EXPECT_EQ (korva.count (HidSequenceManager::kImportPattern), 2);
    release();
}

TEST_F (PatternPage, DraggingDoesNothingWithoutAKorva)
{
    drag();
    drag (9);
    ASSERT_TRUE (waitUntilAtRest (sequencer));
    EXPECT_FALSE (data().getConvertingBar().isVisible());
    EXPECT_TRUE (data().isIdle());
    EXPECT_EQ (korva.count (HidSequenceManager::kImportPattern), 0);
}

// Through JUCE's own mouse machinery, so that the drag it starts is real.
TEST_F (PatternPage, TheMovementAfterTheFileArrivesStartsOneFileDrag)
{
    page->addToDesktop (0);
    page->setVisible (true);
    auto* peer = page->getPeer();
    ASSERT_NE (peer, nullptr);
    connectAndWaitForPattern();

    const auto at = [&] (int dx) { return data().getPosition() + downAt + juce::Point<int> (dx, 0); };
    const auto send = [&] (juce::Point<int> position, juce::ModifierKeys mods)
    {
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, position.toFloat(), mods,
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                juce::Time::currentTimeMillis());
    };
    const auto left = juce::ModifierKeys::leftButtonModifier;

    send (at (0), {});
    send (at (0), left);
    send (at (6), left);
    EXPECT_TRUE (data().getConvertingBar().isVisible());
    ASSERT_TRUE (waitForPreparedFile());
    EXPECT_FALSE (page->isDragAndDropActive());

    send (at (12), left);
    ASSERT_TRUE (page->isDragAndDropActive());
    EXPECT_EQ (page->getCurrentDragDescription().toString(), data().getPreparedFile());
    EXPECT_FALSE (data().getConvertingBar().isVisible());
    EXPECT_TRUE (data().hasStartedFileDrag());

    // What leaves the window: the file, as a URI.
    juce::StringArray files;
    bool canMove = false;
    juce::DragAndDropTarget::SourceDetails details (page->getCurrentDragDescription(), &data(), {});
    ASSERT_TRUE (page->filesForExternalDrag (details, files, canMove));
    EXPECT_EQ (files, juce::StringArray (PatternView::fileUriOf (juce::File (data().getPreparedFile()))));
    EXPECT_TRUE (canMove);

    send (at (30), left);
    send (at (30), {});
    EXPECT_TRUE (data().isIdle());
    EXPECT_FALSE (data().hasStartedFileDrag());
    EXPECT_TRUE (runMessageLoopUntil ([&] { return !page->isDragAndDropActive(); }));
    EXPECT_EQ (korva.count (HidSequenceManager::kImportPattern), 1);
    page->removeFromDesktop();
}

// Through JUCE's own mouse machinery: the pointer resting on the MIDI file
// icon, leaving it, a new Length, a drag soon after, the KORVA unplugged.
TEST_F (PatternPage, RestingOnTheFileIconPreviewsWhatTheDragGives)
{
    page->addToDesktop (0);
    page->setVisible (true);
    auto* peer = page->getPeer();
    ASSERT_NE (peer, nullptr);
    connectAndWaitForPattern();
    data().setPreviewDelay (30);
    auto& popup = data().getPreviewPopup();

    const auto icon = data().getPosition() + data().getFileIconArea().getCentre();
    const auto away = data().getPosition() + downAt;
    const auto send = [&] (juce::Point<int> position, juce::ModifierKeys mods)
    {
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, position.toFloat(), mods,
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                juce::Time::currentTimeMillis());
    };
    const auto imports = [&] { return korva.count (HidSequenceManager::kImportPattern); };

    // Elsewhere on the page nothing is asked for.
    send (away, {});
    send (icon, {});
    EXPECT_FALSE (popup.isVisible());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return popup.isVisible(); }));
    EXPECT_EQ (imports(), 1);

    // The notes shown are those of the file, read back by an independent parser.
    const juce::File file (data().getPreviewFile());
    ASSERT_TRUE (file.existsAsFile());
    const std::vector<PreviewNote> fileNotes = pairedNotes (parseWrittenFile (fileBytes (file)));
    EXPECT_EQ (popup.getPreview().getNotes(), fileNotes);
    EXPECT_EQ (fileNotes.size(), 4u); // the two bars played twice
    EXPECT_EQ (popup.getSummaryLine(), juce::String::fromUTF8 ("4 bars \u00B7 4 notes \u00B7 0 controller lanes"));
    EXPECT_EQ (popup.getRangeLine(), juce::String::fromUTF8 ("Notes C4 \u2013 E4"));
    // Drawn over the page, in the note colour.
    const auto snapshot = popup.createComponentSnapshot (popup.getGridArea(), false, 1.0f);
    int notePixels = 0;
    for (int y = 0; y < snapshot.getHeight(); ++y)
        for (int x = 0; x < snapshot.getWidth(); ++x)
            notePixels += snapshot.getPixelAt (x, y).getARGB() == PatternPreviewPopup::kNoteColour;
    EXPECT_GT (notePixels, 100);

    // Leaving hides it; coming back soon shows the same render again.
    send (away, {});
    EXPECT_FALSE (popup.isVisible());
    send (icon, {});
    ASSERT_TRUE (runMessageLoopUntil ([&] { return popup.isVisible(); }));
    EXPECT_EQ (imports(), 1);

    // A new Length hides it and renders again.
    data().getRenderLengthSelector().setSelectedId (1, juce::sendNotificationSync);
    EXPECT_FALSE (popup.isVisible());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return popup.isVisible(); }));
    EXPECT_EQ (imports(), 2);
    EXPECT_TRUE (popup.getSummaryLine().startsWith ("1 bar ")) << popup.getSummaryLine();
    EXPECT_EQ (popup.getPreview().getNotes(), pairedNotes (parseWrittenFile (fileBytes (juce::File (data().getPreviewFile())))));

    // A drag soon after takes that very file, at once.
    const juce::String previewed = data().getPreviewFile();
    send (icon, juce::ModifierKeys::leftButtonModifier);
    EXPECT_FALSE (popup.isVisible());
    send (icon + juce::Point<int> (8, 0), juce::ModifierKeys::leftButtonModifier);
    ASSERT_TRUE (page->isDragAndDropActive());
    EXPECT_EQ (page->getCurrentDragDescription().toString(), previewed);
    EXPECT_EQ (imports(), 2);
    send (icon + juce::Point<int> (8, 0), {});
    EXPECT_TRUE (runMessageLoopUntil ([&] { return !page->isDragAndDropActive(); }));

    // Unplugging hides it.
    send (away, {});
    send (icon, {});
    ASSERT_TRUE (runMessageLoopUntil ([&] { return popup.isVisible(); }));
    disconnect();
    EXPECT_FALSE (popup.isVisible());
    page->removeFromDesktop();
}

// A press while the preview's request is on its way is an ordinary drag: it
// waits for that same answer instead of asking again.
TEST_F (PatternPage, ADragDuringThePreviewsRequestTakesItsAnswer)
{
    connectAndWaitForPattern();
    data().setPreviewDelay (1);
    const auto icon = data().getFileIconArea().getCentre();
    gateOpen = false;
    data().mouseMove (mouseEventAt (data(), icon, icon));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return korva.count (HidSequenceManager::kImportPattern) == 1; }));

    data().mouseDown (mouseEventAt (data(), downAt, downAt));
    drag();
    EXPECT_TRUE (data().getConvertingBar().isVisible());
    EXPECT_FALSE (data().getPreviewPopup().isVisible());
    gateOpen = true;
    ASSERT_TRUE (waitForPreparedFile());
    EXPECT_EQ (korva.count (HidSequenceManager::kImportPattern), 1);
    EXPECT_EQ (notesOf (parseWrittenFile (fileBytes (juce::File (data().getPreparedFile())))),
               (std::vector<int>{60, 64, 60, 64}));
    EXPECT_FALSE (data().getPreviewPopup().isVisible());
    release();
}

TEST (PatternViewFileUri, EncodesEveryByteAFileUriMayNotCarryAsItIs)
{
    struct Case
    {
        const char* path;
        const char* uri;
    };
    const Case cases[] = {
        {"/tmp/a/TRK03_PTN12_20240131_235959.mid", "file:///tmp/a/TRK03_PTN12_20240131_235959.mid"},
        {"/tmp/my files/x~y.mid", "file:///tmp/my%20files/x%7Ey.mid"},
        {"/tmp/Mus\xc3\xa9k/#1 100%+?.mid", "file:///tmp/Mus%C3%A9k/%231%20100%25%2B%3F.mid"},
    };
    for (const auto& c : cases)
    {
        const juce::File file (juce::String::fromUTF8 (c.path));
        EXPECT_EQ (PatternView::fileUriOf (file), c.uri) << c.path;
        EXPECT_EQ (juce::URL (PatternView::fileUriOf (file)).getLocalFile(), file) << c.path;
    }

    // Nothing offered for a description that is not an existing file.
    juce::DragAndDropTarget::SourceDetails missing (juce::var ("/no/such/file.mid"), nullptr, {});
    HidSequenceManager sequencer;
    TempFolder tmp;
    korva::PatternDataManager patterns (tmp / "Temp");
    PatternView page (sequencer, patterns);
    juce::StringArray files;
    bool canMove = false;
    EXPECT_FALSE (page.filesForExternalDrag (missing, files, canMove));
    juce::DragAndDropTarget::SourceDetails relative (juce::var ("file.mid"), nullptr, {});
    EXPECT_FALSE (page.filesForExternalDrag (relative, files, canMove));
    EXPECT_TRUE (files.isEmpty());
}

//==============================================================================
// Drop in

TEST_F (PatternPage, TheDropAreaTakesOnlyMidiFilesNotItsOwn)
{
    auto& area = data().getDropArea();
    const auto temp = patterns.getTemporaryFolder().getFullPathName();
    const auto ours = temp + "/-12345/TRK03_PTN12_20240131_235959.mid";

    EXPECT_FALSE (area.isInterestedInFileDrag ({"/home/u/song.mid"})) << "no KORVA";

    connect();
    struct Case
    {
        juce::StringArray files;
        bool taken;
    };
    const Case cases[] = {
        {{"/home/u/song.mid"}, true},
        {{"/home/u/SONG.MID"}, true},
        {{"/home/u/a b/Song.Mid"}, true},
        {{"/home/u/song.txt"}, false},
        {{"/home/u/song.midi"}, false},
        {{"/home/u/mid"}, false},
        {{"/home/u/song.mid", "/home/u/other.txt"}, true}, // only the first counts
        {{"/home/u/notes.txt", "/home/u/song.mid"}, false},
        {{}, false},
        {{ours}, false},
        {{"/home/u/copy/-12345/TRK03_PTN12_20240131_235959.mid"}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ (area.isInterestedInFileDrag (c.files), c.taken) << c.files.joinIntoString (", ");

    // The temporary folder reached through a symbolic link is still ours.
    const auto link = tmp / "link";
    ASSERT_TRUE (patterns.getTemporaryFolder().createDirectory());
    ASSERT_TRUE (patterns.getTemporaryFolder().createSymbolicLink (link, true));
    EXPECT_FALSE (area.isInterestedInFileDrag ({link.getFullPathName() + "/-12345/x.mid"}));

    disconnect();
    EXPECT_FALSE (area.isInterestedInFileDrag ({"/home/u/song.mid"}));
}

TEST_F (PatternPage, ADroppedMidiFileIsSentToTheKorva)
{
    connect();
    data().getDropLengthSelector().setSelectedId (2); // "2 bar"

    const auto file = tmp / juce::String::fromUTF8 ("Dropped \xc3\xbc file.MID");
    const auto bytes = midiFile ({TrackBytes().noteOn (0, 60).noteOff (120, 60).endOfTrack (120)});
    ASSERT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));

    data().getDropArea().filesDropped ({file.getFullPathName(), "/home/u/other.mid"}, 10, 10);
    ASSERT_TRUE (waitForEvent ("exportPattern 1000"));
    EXPECT_EQ (patterns.dropBarCount.load(), 2);
    EXPECT_TRUE (boxes.empty());

    const auto sent = korva.sent();
    std::vector<juce::uint8> types;
    for (const auto& m : sent)
        if (m.first != HidSequenceManager::kPatternInfo)
            types.push_back (m.first);
    ASSERT_EQ (types,
               (std::vector<juce::uint8>{HidSequenceManager::kQueryExportPattern, HidSequenceManager::kExportPattern}));
    const auto& pattern = std::find_if (sent.begin(), sent.end(),
                                        [] (const auto& m) { return m.first == HidSequenceManager::kExportPattern; })
                              ->second;
    ASSERT_EQ (pattern.getSize(), 4096u);
    korva::PatternRecord record;
    ASSERT_EQ (korva::decodePattern (static_cast<const uint8_t*> (pattern.getData()), pattern.getSize(), record),
               korva::kDecodeOk);
    EXPECT_EQ (record.block.barCount, 2);
    const auto mask = korva::stepword::noteMask (record.block.steps[0]);
    std::vector<int> notes;
    for (int slot = 0; slot < korva::kSlotCount; ++slot)
        if ((mask >> slot) & 1)
            notes.push_back (record.block.notes[0][slot].note);
    EXPECT_EQ (notes, std::vector<int>{60});
}

TEST_F (PatternPage, ADropThatLostNotesSaysSoUntilTheNextDropAndOneThatLostNothingSaysNothing)
{
    connect();
    data().getDropLengthSelector().setSelectedId (2); // "2 bar"
    auto& notice = data().getDropNotice();

    // One note in bar 1 and one in bar 3 (480 ticks a quarter): the second is lost.
    const auto lossy = tmp / "lossy.mid";
    const auto lossyBytes = midiFile (
        {TrackBytes().noteOn (0, 60).noteOff (120, 60).noteOn (3840, 62).noteOff (3960, 62).endOfTrack (3960)});
    ASSERT_TRUE (lossy.replaceWithData (lossyBytes.data(), lossyBytes.size()));
    data().getDropArea().filesDropped ({lossy.getFullPathName()}, 10, 10);
    ASSERT_TRUE (waitForEvent ("exportPattern 1000"));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return notice.isVisible(); }));
    EXPECT_EQ (notice.getText(), "Sent. 1 note did not fit: 1 after bar 2.");
    EXPECT_TRUE (boxes.empty());
    // Over the drop side, and a child of it, so that a file dropped on the
    // notice still lands.
    EXPECT_EQ (notice.getParentComponent(), &data().getDropArea());
    EXPECT_TRUE (data().getDropArea().getLocalBounds().contains (notice.getBounds()));

    // The next drop takes the notice away; keeping everything, it shows none.
    events.clear();
    const auto whole = tmp / "whole.mid";
    const auto wholeBytes = midiFile ({TrackBytes().noteOn (0, 60).noteOff (120, 60).endOfTrack (120)});
    ASSERT_TRUE (whole.replaceWithData (wholeBytes.data(), wholeBytes.size()));
    data().getDropArea().filesDropped ({whole.getFullPathName()}, 10, 10);
    ASSERT_TRUE (waitForEvent ("exportPattern 1000"));
    ASSERT_TRUE (deliverPostedMessages());
    EXPECT_FALSE (notice.isVisible());
    EXPECT_TRUE (boxes.empty());
}

//==============================================================================
// Messages

TEST_F (PatternPage, EveryFailureHasItsBox)
{
    const juce::String deviceOld = "The pattern data of KORVA is old. Please upgrade the firmware of KORVA.";
    const juce::String appOld = "The pattern data of KORVA Manager is old. Please upgrade KORVA Manager.";
    struct Case
    {
        std::function<void (PatternDataComponent&)> call;
        juce::String box; // empty: none
    };
    const juce::File file ("/tmp/x.mid");
    const Case cases[] = {
        {[&] (auto& c) { c.importPatternDataResponsed (file, 2002); },
         "Failed to convert pattern into MIDI file (2002)"},
        {[&] (auto& c) { c.importPatternDataResponsed (file, 2003); },
         "Failed to convert pattern into MIDI file (2003)"},
        {[&] (auto& c) { c.importPatternDataResponsed (file, 2006); }, deviceOld},
        {[&] (auto& c) { c.importPatternDataResponsed (file, 2007); }, appOld},
        {[&] (auto& c) { c.importPatternDataResponsed (file, 2005); }, "Communication Error (2005)"},
        {[&] (auto& c) { c.importPatternDataResponsed (file, 1000); }, {}},
        {[] (auto& c) { c.queryExportPatternResponsed (2006); }, deviceOld},
        {[] (auto& c) { c.queryExportPatternResponsed (2007); }, appOld},
        {[] (auto& c) { c.queryExportPatternResponsed (1002); }, "Communication Error (1002)"},
        {[] (auto& c) { c.queryExportPatternResponsed (1000); }, {}},
        {[] (auto& c) { c.exportPatternDataResponsed (1003); }, "Communication Error (1003)"},
        {[] (auto& c) { c.exportPatternDataResponsed (1000); }, {}},
        {[] (auto& c) { c.readSmfErrorOccurred(); }, "Failed to convert MIDI file into pattern."},
    };
    int index = 0;
    for (const auto& c : cases)
    {
        boxes.clear();
        // As the sequencer calls: from its own thread.
        std::thread sequencerThread ([&] { c.call (data()); });
        sequencerThread.join();
        ASSERT_TRUE (deliverPostedMessages());
        if (c.box.isEmpty())
            EXPECT_TRUE (boxes.empty()) << index;
        else
            EXPECT_EQ (boxes, std::vector<juce::String>{c.box}) << index;
        ++index;
    }
    EXPECT_TRUE (data().getPreparedFile().isEmpty()) << "no gesture, no prepared file";
}

TEST_F (PatternPage, TheDevicesRefusalsReachTheUser)
{
    connectAndWaitForPattern();

    // The device's pattern in a format this program does not read.
    for (const auto& [digit, box] :
         {std::pair<char, const char*>{'2', "The pattern data of KORVA is old. Please upgrade the firmware of KORVA."},
          std::pair<char, const char*>{'4', "The pattern data of KORVA Manager is old. Please upgrade KORVA Manager."}})
    {
        {
            const std::lock_guard<std::mutex> lock (deviceLock);
            patternAnswer = patternPayload (digit);
        }
        drag();
        EXPECT_TRUE (waitForBox (box)) << digit;
        release();
    }
    {
        const std::lock_guard<std::mutex> lock (deviceLock);
        patternAnswer = juce::MemoryBlock (100);
    }
    drag();
    EXPECT_TRUE (waitForBox ("Communication Error (1001)"));
    release();
    EXPECT_TRUE (data().getPreparedFile().isEmpty());

    // A dropped file that is no MIDI file, one the device finds too new, one it cannot store.
    const auto notMidi = tmp / "notes.mid";
    ASSERT_TRUE (notMidi.replaceWithText ("not a MIDI file"));
    data().actionListenerCallback (notMidi.getFullPathName());
    EXPECT_TRUE (waitForBox ("Failed to convert MIDI file into pattern.\nnot a Standard MIDI File (no MThd header)"));

    const auto midi = tmp / "song.mid";
    const auto bytes = midiFile ({TrackBytes().noteOn (0, 60).noteOff (120, 60).endOfTrack (120)});
    ASSERT_TRUE (midi.replaceWithData (bytes.data(), bytes.size()));
    {
        const std::lock_guard<std::mutex> lock (deviceLock);
        queryStatus = 2;
    }
    data().actionListenerCallback (midi.getFullPathName());
    EXPECT_TRUE (waitForBox ("The pattern data of KORVA is old. Please upgrade the firmware of KORVA."));
    {
        const std::lock_guard<std::mutex> lock (deviceLock);
        queryStatus = 1;
        exportStatus = 0;
    }
    data().actionListenerCallback (midi.getFullPathName());
    EXPECT_TRUE (waitForBox ("Communication Error (1003)"));
}

//==============================================================================
// The connection change holds the message thread while it updates the page.

namespace
{
// Turns a hang into a failure with a message, instead of a test that never ends.
class HangGuard
{
public:
    explicit HangGuard (int seconds)
        : m_thread (
              [this, seconds]
              {
                  std::unique_lock<std::mutex> lock (m_mutex);
                  if (!m_wake.wait_for (lock, std::chrono::seconds (seconds), [this] { return m_done; }))
                  {
                      std::fprintf (stderr, "hung: the message thread and the sequencer wait for each other\n");
                      std::_Exit (3);
                  }
              })
    {
    }
    ~HangGuard()
    {
        {
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

// Notes, on the sequencer's thread, whether the page was enabled when this
// listener's turn came.
class EnablementProbe final : public HidSequenceManagerListener
{
public:
    std::atomic<juce::Component*> probed{nullptr}; // null: nothing to note
    std::vector<bool> seen() const
    {
        const std::lock_guard<std::mutex> lock (m_mutex);
        return m_seen;
    }
    void connectionChanged() override
    {
        if (auto* component = probed.load())
        {
            const bool enabled = component->isEnabled();
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_seen.push_back (enabled);
        }
    }

private:
    mutable std::mutex m_mutex;
    std::vector<bool> m_seen;
};

struct PatternPageConcurrency : PatternPage
{
    EnablementProbe probe; // called after the page: registered before it
    std::atomic<bool> waiting{false};
    std::atomic<int> posted{0};

    void SetUp() override
    {
        sequencer.addListener (&probe);
        PatternPage::SetUp();
        probe.probed = &data();
        page->onWaitingForMessageThread = [this] { waiting = true; };
        page->onConnectionUpdatePosted = [this] { ++posted; };
    }

    void TearDown() override
    {
        probe.probed = nullptr;
        PatternPage::TearDown();
        sequencer.removeListener (&probe);
    }

    // A connection change that reaches the page while the message thread is
    // busy elsewhere (here: not running its loop).
    void connectWhileTheMessageThreadIsBusy()
    {
        juce::StringArray ids{"KORVA"};
        sequencer.onHidConnected (ids);
        ASSERT_TRUE (waitUntil ([&] { return waiting.load(); }));
    }
};
} // namespace

TEST_F (PatternPageConcurrency, TheUpdateIsDoneBeforeTheSequencerGoesOn)
{
    HangGuard guard (60);
    for (int i = 0; i < 5; ++i)
    {
        connect();
        disconnect();
    }
    // The probe hears of the last change on the sequencer's thread, after the page.
    ASSERT_TRUE (waitUntil ([&] { return probe.seen().size() >= 10; }));
    EXPECT_EQ (probe.seen(), (std::vector<bool>{true, false, true, false, true, false, true, false, true, false}));
    EXPECT_EQ (posted.load(), 0);
}

TEST_F (PatternPageConcurrency, DestroyingThePageEndsAWaitingConnectionChange)
{
    HangGuard guard (60);
    connectWhileTheMessageThreadIsBusy();

    probe.probed = nullptr;
    const auto start = juce::Time::getMillisecondCounterHiRes();
    page.reset();
    const auto elapsed = juce::Time::getMillisecondCounterHiRes() - start;
    EXPECT_LT (elapsed, PatternView::kMessageThreadWaitMs / 2) << "the wait ran into its time limit";

    // The sequencer went on with the other listeners.
    EXPECT_TRUE (waitUntil ([&] { return events.has ("connectionChanged"); }));
    EXPECT_EQ (posted.load(), 0);
}

// The message thread waiting for the sequencer's listener lock (here: another
// listener leaving) while the sequencer waits for the message thread.
TEST_F (PatternPageConcurrency, AListenerLeavingDuringAConnectionChangeDoesNotHang)
{
    HangGuard guard (60);
    connectWhileTheMessageThreadIsBusy();

    sequencer.removeListener (&probe);
    EXPECT_EQ (posted.load(), 1) << "the page gave up holding the message thread and posted its update";
    EXPECT_FALSE (data().isEnabled());
    EXPECT_TRUE (runMessageLoopUntil ([&] { return data().isEnabled(); }));
    sequencer.addListener (&probe);
}

TEST_F (PatternPageConcurrency, PagesComeAndGoWhileTheKorvaIsPluggedInAndOut)
{
    HangGuard guard (120);
    probe.probed = nullptr;
    std::atomic<bool> stop{false};
    std::thread plugging (
        [&]
        {
            juce::Random random (7);
            juce::StringArray ids{"KORVA"};
            for (int i = 0; i < 60 && !stop; ++i)
            {
                if (i % 2 == 0)
                    sequencer.onHidConnected (ids);
                else
                    sequencer.onHidDisconnected (ids);
                juce::Thread::sleep (random.nextInt (15));
            }
        });

    juce::Random random (11);
    for (int round = 0; round < 12; ++round)
    {
        runMessageLoopFor (random.nextInt (40));
        if (round % 3 == 2)
        {
            // A busy message thread now and then, then a new page.
            juce::Thread::sleep (random.nextInt (30));
            page = std::make_unique<PatternView> (sequencer, patterns);
            page->setBounds (0, 0, 815, 348);
            page->onTransitioned (true);
        }
    }
    plugging.join();

    // Whatever the order, the page ends up showing the last state.
    ASSERT_TRUE (catchUpWith (sequencer));
    EXPECT_EQ (data().isEnabled(), sequencer.isConnected());
}

} // namespace korva
