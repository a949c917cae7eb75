#include "gui/pages/AboutPage.h"
#include "gui/widgets/DropHolder.h"
#include "gui/widgets/FlashingMessage.h"
#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/Notice.h"
#include "gui/widgets/Widgets.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <utility>

namespace korva
{

using namespace korva::test;

namespace
{
juce::Image render (juce::Component& c)
{
    return c.createComponentSnapshot (c.getLocalBounds(), false, 1.0f);
}
} // namespace

TEST (Led, LightsInItsColourAndDarkRedWhenOff)
{
    Led led (juce::Colour (0xFFFF0000), "activeIndicator");
    led.setSize (10, 10);
    EXPECT_EQ (led.getOffColour().getARGB(), 0xFF450000u);
    EXPECT_FALSE (led.getWantsKeyboardFocus());

    const auto off = render (led).getPixelAt (5, 5);
    led.setOn (true);
    const auto on = render (led).getPixelAt (5, 5);
    EXPECT_GT (on.getRed(), off.getRed() + 60);
    EXPECT_LT (off.getRed(), 0x60);
}

TEST (AppArrowButton, RotationTurnsTheArrow)
{
    struct Case
    {
        float rotation;
        juce::Point<float> tip, tail;
    };
    for (const auto& c : { Case { 0.0f, { 0.95f, 0.5f }, { 0.05f, 0.5f } },
                           Case { 0.5f, { 0.05f, 0.5f }, { 0.95f, 0.5f } } })
    {
        AppArrowButton button (c.rotation, "import_button", juce::Colour (0xFF323232));
        const auto& outline = button.getArrowOutline();
        // The head is the wide part: at the tip's side the arrow is taller than at the tail's.
        const float x = c.tip.x < 0.5f ? 0.4f : 0.6f;
        EXPECT_TRUE (outline.contains (x, 0.15f)) << c.rotation;
        EXPECT_FALSE (outline.contains (1.0f - x, 0.15f)) << c.rotation;
    }
}

TEST (AppImageButton, MissingImageStillClickableOverItsBounds)
{
    AppImageButton button ("folder_select_button", "no_such_image.png");
    button.setBounds (0, 0, 24, 24);
    EXPECT_TRUE (button.hitTest (0, 0));
    EXPECT_TRUE (button.hitTest (23, 23));
    EXPECT_TRUE (button.getNormalImage().isNull());
}

TEST (ProjectViewLookAndFeel, DisabledButtonsArePaleWithGreyOutlineAndText)
{
    ProjectViewLookAndFeel laf;
    juce::TextButton button ("IMPORT");
    button.setLookAndFeel (&laf);
    button.setSize (80, 24);

    const auto enabled = render (button);
    button.setEnabled (false);
    const auto disabled = render (button);

    EXPECT_EQ (enabled.getPixelAt (0, 12).getARGB(), 0xFF252525u);
    EXPECT_EQ (disabled.getPixelAt (0, 12).getARGB(), 0xFF7D7D7Du);
    EXPECT_EQ (enabled.getPixelAt (3, 3).getARGB(), 0xFF646464u);
    EXPECT_NEAR (disabled.getPixelAt (3, 3).getFloatAlpha(), 0.3f, 0.01f);
    button.setLookAndFeel (nullptr);
}

TEST (TableHeaderLookAndFeel, DeviceHeaderIsGreyAndInertWhileNotConnected)
{
    bool connected = false;
    KorvaProjectListLookAndFeel korva ([&] { return connected; });
    PcProjectListLookAndFeel pc;
    juce::TableHeaderComponent header;

    const auto draw = [&] (juce::LookAndFeel& laf, bool mouseOver) {
        juce::Image image (juce::Image::ARGB, 100, 20, true);
        juce::Graphics g (image);
        laf.drawTableHeaderColumn (g, header, "Name", 1, 100, 20, mouseOver, false, 0);
        return image;
    };

    const auto isHoverColour = [] (juce::Colour c) {
        return c.getAlpha() == 0x55 && std::abs (c.getRed() - 0x99) <= 2 && std::abs (c.getGreen() - 0xAA) <= 2
               && std::abs (c.getBlue() - 0xDD) <= 2;
    };
    EXPECT_EQ (draw (korva, true).getPixelAt (99, 0).getAlpha(), 0); // no hover highlight
    EXPECT_TRUE (isHoverColour (draw (pc, true).getPixelAt (99, 0)));
    connected = true;
    EXPECT_TRUE (isHoverColour (draw (korva, true).getPixelAt (99, 0)));

    // A sorted column: the sort arrow sits in the right-hand square, and the
    // name starts 4 pixels in, only while connected. Disconnected, the name
    // starts at the edge in grey and there is no arrow.
    const auto drawSorted = [&] (juce::LookAndFeel& laf) {
        juce::Image image (juce::Image::ARGB, 100, 20, true);
        juce::Graphics g (image);
        laf.drawTableHeaderColumn (g, header, "Name", 1, 100, 20, false, false,
                                   juce::TableHeaderComponent::sortedForwards);
        return image;
    };
    const auto firstInkColumn = [] (const juce::Image& image) {
        for (int x = 0; x < image.getWidth(); ++x)
            for (int y = 0; y < image.getHeight(); ++y)
                if (image.getPixelAt (x, y).getAlpha() > 0x80)
                    return x;
        return -1;
    };
    const auto arrowInk = [] (const juce::Image& image) {
        int ink = 0;
        for (int x = 80; x < 96; ++x)
            for (int y = 0; y < 20; ++y)
                ink += image.getPixelAt (x, y).getAlpha() > 0x40;
        return ink;
    };
    for (const bool now : { true, false })
    {
        connected = now;
        const auto image = drawSorted (korva);
        EXPECT_EQ (arrowInk (image) > 10, now) << "connected " << now;
        EXPECT_EQ (firstInkColumn (image) >= 4, now) << "connected " << now << ": " << firstInkColumn (image);
    }
}

// Pressed, the arrow moves half a pixel down and right: the mean position of
// its ink moves by about that much, and its colour stays.
TEST (AppArrowButton, APressedArrowMovesHalfAPixelDownAndRight)
{
    AppArrowButton button (0.0f, "import_button", juce::Colour (0xFF323232));
    button.setSize (40, 30);
    const auto centreOfInk = [&] (bool down) {
        juce::Image image (juce::Image::ARGB, 40, 30, true);
        {
            juce::Graphics g (image);
            button.paintButton (g, false, down);
        }
        double x = 0, y = 0, ink = 0;
        for (int py = 0; py < 30; ++py)
            for (int px = 0; px < 40; ++px)
            {
                const double a = image.getPixelAt (px, py).getFloatAlpha();
                x += a * px;
                y += a * py;
                ink += a;
            }
        EXPECT_GT (ink, 100.0);
        return juce::Point<double> (x / ink, y / ink);
    };
    const auto up = centreOfInk (false), down = centreOfInk (true);
    EXPECT_NEAR (down.x - up.x, 0.5, 0.1);
    EXPECT_NEAR (down.y - up.y, 0.5, 0.1);
}

TEST (FlashingMessage, BlinksUntilCleared)
{
    auto* message = FlashingMessage::getInstance();
    struct Counter : juce::ActionListener
    {
        int count = 0;
        void actionListenerCallback (const juce::String& text) override { count += text == "FlashingMessage"; }
    } counter;
    message->addActionListener (&counter);

    message->setMessage ("Get Pattern Info | Communication Error (0009)");
    runMessageLoopFor (10);
    bool seenOn = false, seenOff = false;
    runMessageLoopUntil (
        [&] {
            seenOn |= message->getText() == "Get Pattern Info | Communication Error (0009)";
            seenOff |= message->getText().isEmpty();
            return seenOn && seenOff;
        },
        3000);
    EXPECT_TRUE (seenOn && seenOff);
    EXPECT_GE (counter.count, 2);

    message->setMessage ({});
    EXPECT_TRUE (message->getText().isEmpty());
    message->removeActionListener (&counter);
    FlashingMessage::deleteInstance();
}

namespace
{
// The rows of a picture that hold dark ink (text), as runs of consecutive rows.
std::vector<int> inkRuns (const juce::Image& image)
{
    std::vector<int> runs;
    int run = 0;
    for (int y = 0; y < image.getHeight(); ++y)
    {
        bool ink = false;
        for (int x = 0; x < image.getWidth() && ! ink; ++x)
            ink = image.getPixelAt (x, y).getBrightness() < 0.3f;
        if (ink)
            ++run;
        else if (run > 0)
            runs.push_back (std::exchange (run, 0));
    }
    if (run > 0)
        runs.push_back (run);
    return runs;
}
} // namespace

// A notice that lists what a drop lost: at the page's text size, on as many
// lines as its text needs at the bottom of its area; it stays until clicked.
TEST (Notice, ShowsItsWholeTextAtThePagesSizeUntilClicked)
{
    juce::Component page;
    page.setSize (367, 268);
    Notice notice;
    page.addChildComponent (notice);
    const juce::Rectangle<int> area { 12, 12, 343, 178 };
    notice.setArea (area);

    notice.show ({});
    EXPECT_FALSE (notice.isVisible()) << "an empty notice is no notice";

    const juce::String text = "Sent. 7 notes did not fit: 3 after bar 1, 4 beyond 8 notes in a step. "
                              "2 controller changes did not fit: 2 on a controller no lane takes.";
    notice.show (text);
    ASSERT_TRUE (notice.isVisible());
    EXPECT_EQ (notice.getText(), text);
    EXPECT_TRUE (area.contains (notice.getBounds()));
    EXPECT_EQ (notice.getBottom(), area.getBottom());

    // Each line is written at the page's own 15-pixel size, capitals about
    // 10 pixels of dark ink (a text squeezed to fit shows 6 or 7), and every
    // line is shown. (Commas and descenders leave runs of a row or two.)
    const auto image = render (notice);
    EXPECT_EQ (image.getPixelAt (3, notice.getHeight() / 2).getARGB(), 0xFFFFF8D6u); // its background, not the page's
    std::vector<int> lines;
    for (const int rows : inkRuns (image.getClippedImage (image.getBounds().reduced (Notice::kPadding))))
        if (rows > 2)
            lines.push_back (rows);
    ASSERT_GE (lines.size(), 3u) << "the text is wrapped onto lines";
    for (const int rows : lines)
        EXPECT_GE (rows, 9) << "a line of text " << rows << " pixels tall";
    EXPECT_GE (notice.getHeight(), (int) lines.size() * 15);

    // A later notice replaces it; a click takes it away.
    notice.show ("Sent. 1 note did not fit: 1 after bar 2.");
    EXPECT_EQ (notice.getText(), "Sent. 1 note did not fit: 1 after bar 2.");
    EXPECT_LT (notice.getHeight(), 40) << "one line needs one line's height";
    notice.mouseUp (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), {}, {}, 1.0f, 0.0f, 0.0f,
                                      0.0f, 0.0f, &notice, &notice, juce::Time::getCurrentTime(), {},
                                      juce::Time::getCurrentTime(), 1, false));
    EXPECT_FALSE (notice.isVisible());
    EXPECT_TRUE (notice.getText().isEmpty());
}

// Drops onto a component under an open box wait for the box, in order; a
// drop that opens a box of its own holds back the ones after it.
TEST (DropHolder, DropsUnderABoxWaitForItToCloseInOrder)
{
    juce::Component window;
    juce::Component target;
    window.addAndMakeVisible (target);
    window.setBounds (0, 0, 100, 100);
    DropHolder holder (target);
    holder.checkIntervalMs = 5;
    std::vector<int> delivered;

    holder.deliver ([&] { delivered.push_back (1); });
    EXPECT_EQ (delivered, std::vector<int> { 1 }) << "nothing blocks it: at once";

    auto box = std::make_unique<juce::Component>();
    box->enterModalState (false);
    ASSERT_TRUE (target.isCurrentlyBlockedByAnotherModalComponent());
    std::unique_ptr<juce::Component> second;
    holder.deliver ([&] {
        delivered.push_back (2);
        second = std::make_unique<juce::Component>(); // this drop's own box
        second->enterModalState (false);
    });
    holder.deliver ([&] { delivered.push_back (3); });
    runMessageLoopFor (30);
    EXPECT_EQ (delivered.size(), 1u);
    EXPECT_EQ (holder.getNumHeld(), 2);

    box->exitModalState (0);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return delivered.size() == 2; }));
    runMessageLoopFor (30);
    EXPECT_EQ (delivered, (std::vector<int> { 1, 2 })) << "the third waits for the second's box";
    second->exitModalState (0);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return delivered.size() == 3; }));
    EXPECT_EQ (delivered, (std::vector<int> { 1, 2, 3 }));
    EXPECT_EQ (holder.getNumHeld(), 0);
}

TEST (AboutPage, ShowsTheVersionAndOpensTheManualOnlyWhenPresent)
{
    TempFolder tmp;
    AboutPage view;
    view.setSize (815, 348);
    EXPECT_EQ (view.getManualButton().getBounds(), juce::Rectangle<int> (40, 40, 65, 30));
    EXPECT_EQ (view.getManualButton().getButtonText(), "Manual");

    const auto image = render (view);
    EXPECT_EQ (image.getPixelAt (0, 200).getARGB(), 0xFF007DE1u);   // the page border
    EXPECT_EQ (image.getPixelAt (100, 0).getARGB(), 0xFF007DE1u);   // top edge, elsewhere
    EXPECT_EQ (image.getPixelAt (250, 0).getARGB(), 0xFFC8C8C8u);   // opened under the ABOUT tab
    EXPECT_EQ (image.getPixelAt (400, 300).getARGB(), 0xFFC8C8C8u);

    std::vector<juce::File> opened;
    view.openManual = [&] (const juce::File& f) {
        opened.push_back (f);
        return true;
    };
    const auto manual = tmp / "English/KORVA Manager User's Manual_EN.pdf";
    view.manualLocation = [manual] { return manual; };

    view.getManualButton().triggerClick();
    runMessageLoopFor (20);
    EXPECT_TRUE (opened.empty());

    manual.create();
    view.getManualButton().triggerClick();
    runMessageLoopFor (20);
    ASSERT_EQ (opened.size(), 1u);
    EXPECT_EQ (opened[0], manual);
}

TEST (AboutPage, ShowingThePageClearsTheStatusLine)
{
    AboutPage view;
    FlashingMessage::getInstance()->setMessage ("something");
    view.onTransitioned (true);
    EXPECT_TRUE (FlashingMessage::getInstance()->getMessage().isEmpty());
    FlashingMessage::deleteInstance();
}

TEST (AboutPage, TheManualIsOpenedWithItsPathAsOneArgumentAndTheViewerIsCollected)
{
    TempFolder tmp;
    const auto script = tmp / "viewer.sh";
    const auto out = tmp / "arguments.txt";
    script.replaceWithText ("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + out.getFullPathName() + "'\n", false, false, "\n");
    script.setExecutePermission (true);

    AboutPage view;
    view.getOpener().program = script.getFullPathName();
    const auto manual = tmp / "English/KORVA Manager User's Manual_EN.pdf";
    manual.create();

    ASSERT_TRUE (view.getOpener().open (manual));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return view.getOpener().getNumRunning() == 0; }, 5000));
    EXPECT_EQ (out.loadFileAsString(), manual.getFullPathName() + "\n");
}

// A desktop with no program for PDF files: xdg-open ends with status 3, and
// the user is told, with the manual's path; no xdg-open at all is told too.
TEST (AboutPage, AManualThatCannotBeOpenedIsToldWithItsPath)
{
    TempFolder tmp;
    const auto launcher = tmp / "bin/xdg-open";
    ASSERT_TRUE (launcher.create());
    launcher.replaceWithText ("#!/bin/sh\nexit 3\n", false, false, "\n");
    launcher.setExecutePermission (true);
    const auto manual = tmp / "English/KORVA Manager User's Manual_EN.pdf";
    ASSERT_TRUE (manual.create());

    AboutPage view;
    std::vector<std::pair<juce::String, juce::String>> boxes;
    view.showMessage = [&] (const juce::String& title, const juce::String& text) { boxes.emplace_back (title, text); };
    view.manualLocation = [manual] { return manual; };
    view.getOpener().program = launcher.getFullPathName();
    view.getOpener().checkIntervalMs = 10;

    view.getManualButton().triggerClick();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! boxes.empty(); }, 5000));
    EXPECT_EQ (boxes[0].first, "");
    EXPECT_EQ (boxes[0].second, "Could not open the manual " + manual.getFullPathName()
                                    + ": this desktop has no program set up to open it (xdg-open ended with status 3).");

    boxes.clear();
    view.getOpener().program = (tmp / "bin/missing").getFullPathName();
    view.getManualButton().triggerClick();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! boxes.empty(); }, 5000));
    EXPECT_EQ (boxes[0].second,
               "Could not open the manual " + manual.getFullPathName() + ": " + view.getOpener().program
                   + " could not be started.");
    EXPECT_EQ (boxes.size(), 1u);
}

TEST (DesktopOpener, EachFailureStatusHasItsReason)
{
    const struct
    {
        const char* program;
        int status;
        const char* reason;
    } cases[] = {
        { "xdg-open", 2, "it does not exist (xdg-open ended with status 2)" },
        { "/usr/bin/xdg-open", 3, "this desktop has no program set up to open it (xdg-open ended with status 3)" },
        { "xdg-open", 4, "the program that opens it failed (xdg-open ended with status 4)" },
        { "xdg-open", 1, "xdg-open ended with status 1" },
        { "/opt/viewer", 4, "viewer ended with status 4" },
    };
    for (const auto& c : cases)
        EXPECT_EQ (DesktopOpener::reasonForStatus (c.program, c.status), c.reason) << c.program << " " << c.status;
}

} // namespace korva
