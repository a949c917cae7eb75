// Every user flow through the real window: KORVA Manager and the virtual
// KORVA (korva-sim) started as separate programs, a user's pointer and
// keyboard (XTEST), and what the user sees read back from the screen; what
// reaches the device is read from korva-sim's store, what reaches the
// computer from the data folder.

#include "core/infra/ValueTreeTools.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/e2e/Desktop.h"
#include "tests/e2e/DesktopFlows.h"
#include "tests/e2e/Ui.h"

#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <functional>

namespace korva
{

using namespace korva::test;
using namespace korva::test::e2e;

namespace
{
constexpr int kBlock = 4096;
constexpr int kNameOffset = 4, kNameBytes = 33;

std::string nameInFile (const juce::File& file)
{
    const auto bytes = bytesOf (file);
    if (bytes.size() < (size_t) (kNameOffset + kNameBytes))
        return {};
    const auto* name = reinterpret_cast<const char*> (bytes.data() + kNameOffset);
    return std::string (name, strnlen (name, kNameBytes));
}

// A project image with another name: what renaming a project changes.
Bytes renamed (Bytes image, const std::string& name)
{
    std::fill (image.begin() + kNameOffset, image.begin() + kNameOffset + kNameBytes, 0);
    std::copy (name.begin(), name.end(), image.begin() + kNameOffset);
    return image;
}

juce::Array<juce::File> filesIn (const juce::File& folder)
{
    // Hidden ones too: a transfer's part file would be one.
    return folder.findChildFiles (juce::File::findFiles, false, "*");
}

std::vector<MidiEvent> eventsOf (const juce::File& midiFile)
{
    return parseWrittenFile (bytesOf (midiFile));
}

int notesIn (const std::vector<MidiEvent>& events)
{
    int notes = 0;
    for (const auto& e : events)
        notes += e.status == 0x90;
    return notes;
}
} // namespace

// The user's home folder has a name that a URI must encode (a space, a
// letter beyond ASCII): the data folder and the files made for dragging lie below it.
class EndToEndOnTheDesktop : public DesktopFlows
{
protected:
    EndToEndOnTheDesktop()
        : DesktopFlows (VirtualKorva::Transport::kSocket, juce::String::fromUTF8 ("home \xc3\xbc"))
    {
    }
};

//==============================================================================
// Plugging the KORVA in lights the lamp, says "Connected" and fills the
// device's list; unplugging turns all of it off again, and plugging in once
// more brings it back.
TEST_F (EndToEndOnTheDesktop, PluggingInAndUnpluggingShowOnTheLampAndInTheLists)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 2 }, { 1, "Bravo", 3 }, { 2, "Charlie", 1 } }));
    ASSERT_TRUE (manager.start()) << manager.trace();

    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s); })) << seen();
    EXPECT_TRUE (ui::showsNotConnected (lastShot)) << seen();
    EXPECT_EQ (ui::korvaRows (lastShot), 0);
    EXPECT_EQ (countInk (lastShot, ui::projectCapacity), 0) << "no capacity without a KORVA";

    for (int round = 0; round < 2; ++round)
    {
        ASSERT_TRUE (korva.plugIn()) << korva.log();
        ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s); })) << seen();
        EXPECT_TRUE (ui::showsConnected (lastShot)) << seen();
        ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 3; })) << seen();
        EXPECT_TRUE (showsText (lastShot, ui::projectCapacity, { 14.0f, juce::Colours::black, ui::pageBackground },
                                juce::String (128 - 3), { "--", "0" }))
            << seen();

        // The lamp and the list are painted one after the other: both, then.
        ASSERT_TRUE (korva.unplug());
        ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s) && ui::korvaRows (s) == 0; }))
            << seen();
        EXPECT_TRUE (ui::showsNotConnected (lastShot)) << seen();
        EXPECT_EQ (countInk (lastShot, ui::projectCapacity), 0) << seen();
    }
    EXPECT_TRUE (manager.messageBoxes().isEmpty()) << manager.messageBoxes().joinIntoString ("\n");
}

//==============================================================================
// Started from a terminal the program is quiet while it talks to the KORVA;
// its trace comes with --verbose (and, as every other test here has it, with
// KORVA_TRACE=1).
TEST_F (EndToEndOnTheDesktop, TheTerminalStaysQuietUnlessTheTraceIsAskedFor)
{
    const auto polls = [&] { return korva.countInLog ("request start: type 0x00"); };
    for (const bool verbose : { false, true })
    {
        SCOPED_TRACE (verbose ? "--verbose" : "quiet");
        manager.startWith (false, verbose ? std::vector<std::string> { "--verbose" } : std::vector<std::string> {});
        const int before = polls();
        if (verbose)
            ASSERT_TRUE (manager.start()) << manager.trace();
        else
            startConnected();
        // The PROJECT page asks for the list every second.
        ASSERT_TRUE (waitUntil ([&] { return polls() >= before + 2; }, 10000)) << korva.log();
        EXPECT_EQ (manager.trace().contains ("sendReqStart dataType => 0x00"), verbose) << manager.trace();
        EXPECT_EQ (manager.trace().contains ("recvResSuccess dataType => 0x00"), verbose) << manager.trace();
        ASSERT_EQ (manager.close(), 0);
    }
}

//==============================================================================
// The KORVA is unplugged while a project comes in: the user is told, the lamp
// goes out, and the data folder holds nothing of the project. Plugged in
// again, the same import goes through whole.
TEST_F (EndToEndOnTheDesktop, UnpluggingDuringAnImportShowsAnErrorAndLeavesNoFile)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 1 }, { 1, "Bravo", 12 } }));
    startConnected ({ "--slow", "200" }, 2);

    const auto blocksSent = [&] { return korva.countInLog ("sending: type 0x03, 4096 bytes"); };
    selectRow (ui::korvaRow, ui::korvaRowName, 1);
    user.clickIn (manager, ui::importArrow);
    const auto progress = manager.waitForDialog ("");
    ASSERT_TRUE (progress.has_value()) << "no progress window; " << seen();
    ASSERT_TRUE (waitUntil ([&] { return blocksSent() >= 3; })) << korva.log();

    ASSERT_TRUE (korva.unplug());
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s); })) << seen();
    EXPECT_TRUE (ui::showsNotConnected (lastShot)) << seen();
    ASSERT_TRUE (waitUntil ([&] {
        for (const auto& w : manager.dialogs())
            if (w.id == progress->id)
                return false;
        return true;
    })) << "the progress window stays; " << seen();
    const auto error = acknowledgeTheCommunicationError();
    EXPECT_TRUE (filesIn (places.dataFolder).isEmpty()) << filesIn (places.dataFolder)[0].getFullPathName();

    // Plugged in again: the import goes through, and the file is the project.
    ASSERT_TRUE (korva.plugIn ({ "--slow", "20" }));
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 2; })) << seen();
    selectRow (ui::korvaRow, ui::korvaRowName, 1);
    user.clickIn (manager, ui::importArrow);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 1; }, 20000)) << seen();
    const auto files = filesIn (places.dataFolder);
    ASSERT_EQ (files.size(), 1);
    EXPECT_TRUE (files[0].getFileName().startsWith ("Bravo_")) << files[0].getFileName();
    EXPECT_EQ (bytesOf (files[0]), korva.projects().at (1).image);
    EXPECT_EQ (manager.messageBoxes().size(), 1);
}

//==============================================================================
// The KORVA's program is killed while a project comes in: nothing unplugs it
// (its socket stays behind), but its dead link tells. The user is told once,
// the lamp goes out at once, nothing of the project is kept; started again,
// the KORVA is connected and the same import gives the project whole.
TEST_F (EndToEndOnTheDesktop, AKorvaKilledDuringAnImportIsSeenGoneAndServedAgainWhenItIsBack)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 1 }, { 1, "Bravo", 12 } }));
    startConnected ({ "--slow", "200" }, 2);

    selectRow (ui::korvaRow, ui::korvaRowName, 1);
    user.clickIn (manager, ui::importArrow);
    const auto progress = manager.waitForDialog ("");
    ASSERT_TRUE (progress.has_value()) << "no progress window; " << seen();
    ASSERT_TRUE (waitUntil ([&] { return korva.countInLog ("sending: type 0x03, 4096 bytes") >= 3; })) << korva.log();

    korva.kill();
    ASSERT_TRUE (places.devices.getChildFile ("korva.sock").exists()) << "a killed KORVA leaves its socket";
    // Without the dead link, the window would wait out the transfer's time-outs (about 15 s).
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s) && ui::korvaRows (s) == 0; },
                                5000))
        << seen();
    EXPECT_TRUE (ui::showsNotConnected (lastShot)) << seen();
    const auto error = acknowledgeTheCommunicationError();
    ASSERT_TRUE (manager.waitUntilNoDialog()) << "the progress window stays; " << seen();
    EXPECT_TRUE (filesIn (places.dataFolder).isEmpty()) << filesIn (places.dataFolder)[0].getFullPathName();

    // Started again under the same name: connected, and the import goes through whole.
    ASSERT_TRUE (korva.plugIn ({ "--slow", "20" })) << korva.log();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampLit (s) && ui::korvaRows (s) == 2; }))
        << seen();
    selectRow (ui::korvaRow, ui::korvaRowName, 1);
    user.clickIn (manager, ui::importArrow);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 1; }, 20000)) << seen();
    const auto files = filesIn (places.dataFolder);
    ASSERT_EQ (files.size(), 1);
    EXPECT_EQ (bytesOf (files[0]), korva.projects().at (1).image);
    EXPECT_EQ (manager.messageBoxes(), juce::StringArray { error });
    // The write that may have found the link dead, and no more (not one a second for ever).
    juce::StringArray lines;
    lines.addLines (manager.trace());
    int failedWrites = 0;
    for (const auto& line : lines)
        failedWrites += line.contains ("Err(WriteFile)") ? 1 : 0;
    EXPECT_LE (failedWrites, 1) << manager.trace();
}

//==============================================================================
// PROJECT, both ways and on both sides: a project is imported, refused going
// back under its own name, renamed in its file (after one name the KORVA
// cannot store) and exported under the new name; a device project is
// renamed, one deleted, and the file deleted after a change of mind.
TEST_F (EndToEndOnTheDesktop, ProjectsGoBothWaysAndAreRenamedAndDeletedOnBothSides)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 2 }, { 1, "Bravo", 3 }, { 2, "Charlie", 1 }, { 3, "Delta", 0 } }));
    startConnected ({}, 4);
    const auto bravo = korva.projects().at (1).image;

    // Import "Bravo": a file of its own in the data folder, listed on the right.
    selectRow (ui::korvaRow, ui::korvaRowName, 1);
    user.clickIn (manager, ui::importArrow);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 1; })) << seen();
    auto files = filesIn (places.dataFolder);
    ASSERT_EQ (files.size(), 1);
    const auto file = files[0];
    EXPECT_TRUE (file.getFileName().startsWith ("Bravo_")) << file.getFileName();
    EXPECT_EQ (bytesOf (file), bravo);

    // Sent back as it is: the KORVA has a "Bravo" already.
    selectRow (ui::pcRow, ui::pcRowName, 0);
    user.clickIn (manager, ui::exportArrow);
    acknowledgeBox (" | Could not load this project. A project with the same name already exists.");

    // Renamed in its file: first to a name the KORVA cannot store, then properly.
    ASSERT_TRUE (selectAndOpen (ui::pcRow, ui::pcRowName, 0, ui::pcRename)) << seen();
    renameTo ("Bravo|Copy");
    ASSERT_TRUE (manager.waitForMessageBox ("Rename Project | A project name cannot contain double-byte characters and "
                                            "the following characters (/\\?*:\"<> | ~)."));
    {
        // The refusal comes on top of the rename dialog, which stays.
        std::optional<x11probe::WindowInfo> refusal;
        ASSERT_TRUE (waitUntil ([&] {
            const auto boxes = manager.dialogs();
            if (boxes.size() == 2)
                refusal = boxes.back();
            return refusal.has_value();
        })) << seen();
        ASSERT_TRUE (press (*refusal, 0, 1));
        ASSERT_TRUE (waitUntil ([&] { return manager.dialogs().size() == 1; })) << seen();
    }
    renameTo ("Bravo Copy");
    ASSERT_TRUE (waitUntil ([&] { return nameInFile (file) == "Bravo Copy"; })) << nameInFile (file);
    EXPECT_EQ (bytesOf (file), renamed (bravo, "Bravo Copy")) << "only the name changes";
    EXPECT_TRUE (file.existsAsFile()) << "the file keeps its name";
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();

    // Exported under the new name: the KORVA holds it, and lists it.
    selectRow (ui::pcRow, ui::pcRowName, 0);
    user.clickIn (manager, ui::exportArrow);
    ASSERT_TRUE (waitUntil ([&] { return korva.indexOf ("Bravo Copy").has_value(); }, 15000)) << korva.log();
    EXPECT_EQ (korva.projects().at (*korva.indexOf ("Bravo Copy")).image, renamed (bravo, "Bravo Copy"));
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 5; })) << seen();
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();

    // On the KORVA (by name: Alpha, Bravo, Bravo Copy, Charlie, Delta): "Delta" becomes "Echo".
    ASSERT_TRUE (selectAndOpen (ui::korvaRow, ui::korvaRowName, 4, ui::korvaRename)) << seen();
    renameTo ("Echo");
    ASSERT_TRUE (waitUntil ([&] { return korva.projects().at (3).name == "Echo"; }, 15000)) << korva.log();
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();

    // ... and "Bravo Copy" goes.
    ASSERT_TRUE (selectAndOpen (ui::korvaRow, ui::korvaRowName, 2, ui::korvaDelete)) << seen();
    answerDeleteQuestion ("Bravo Copy", true);
    ASSERT_TRUE (waitUntil ([&] { return ! korva.indexOf ("Bravo Copy").has_value(); }, 15000)) << korva.log();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 4; })) << seen();
    EXPECT_EQ (korva.projects().size(), 4u);
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();

    // The file: kept when the user thinks better of it, then deleted.
    ASSERT_TRUE (selectAndOpen (ui::pcRow, ui::pcRowName, 0, ui::pcDelete)) << seen();
    answerDeleteQuestion ("Bravo Copy", false);
    EXPECT_TRUE (file.existsAsFile());
    ASSERT_TRUE (selectAndOpen (ui::pcRow, ui::pcRowName, 0, ui::pcDelete)) << seen();
    answerDeleteQuestion ("Bravo Copy", true);
    ASSERT_TRUE (waitUntil ([&] { return ! file.exists(); }));
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 0; })) << seen();

    // The whole KORVA copied but "Alpha", the project in use: a message that is no warning.
    user.rightClickIn (manager, ui::korvaRow (1));
    ASSERT_TRUE (waitUntil ([&] { return ! manager.dialogs().empty(); })) << seen();
    for (const auto key : { XK_Down, XK_Down, XK_Return })
        ASSERT_TRUE (user.keyboard().tap (key));
    const juce::String copiedAll =
        "Import All Projects | Imported 3 of 4 projects into " + places.dataFolder.getFullPathName() + ".";
    ASSERT_TRUE (manager.waitForMessageBox (copiedAll, 30000)) << seen();
    acknowledgeBox (copiedAll, AlertIcon::kInformation);

    EXPECT_EQ (manager.messageBoxes(),
               (juce::StringArray { " | Could not load this project. A project with the same name already exists.",
                                    "Rename Project | A project name cannot contain double-byte characters and the "
                                    "following characters (/\\?*:\"<> | ~).",
                                    "Delete Project | Deleting project Bravo Copy. Are you sure?",
                                    "Delete Project | Deleting project Bravo Copy. Are you sure?",
                                    "Delete Project | Deleting project Bravo Copy. Are you sure?",
                                    copiedAll }));
}

//==============================================================================
// Transfers cancelled both ways leave nothing behind on either side; a busy
// KORVA and a full one are reported.
TEST_F (EndToEndOnTheDesktop, CancelledTransfersLeaveNothingAndBusyAndFullDevicesAreReported)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 1 }, { 1, "Bravo", 12 } }));
    const auto zulu = places.dataFolder.getChildFile ("Zulu_20260101_120000.prj");
    {
        const auto image = renamed (korva.projects().at (1).image, "Zulu");
        ASSERT_TRUE (places.dataFolder.createDirectory());
        ASSERT_TRUE (zulu.replaceWithData (image.data(), image.size()));
    }
    startConnected ({ "--slow", "200" }, 2);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 1; })) << seen();

    // The end of a cancelled transfer refreshes the lists, which drops a
    // selection made meanwhile: an arrow clicked then does nothing, and the
    // user selects again and clicks again.
    const auto startTransfer = [&] (juce::Point<int> (*row) (int), juce::Rectangle<int> (*name) (int),
                                    juce::Point<int> arrow) -> std::optional<x11probe::WindowInfo> {
        for (int attempt = 0; attempt < 3; ++attempt)
        {
            selectRow (row, name, 0);
            user.clickIn (manager, arrow);
            if (const auto progress = manager.waitForDialog ("", 3000))
                return progress;
        }
        return std::nullopt;
    };
    const auto cancelWhen = [&] (const std::optional<x11probe::WindowInfo>& progress,
                                 const std::function<bool()> underWay) {
        ASSERT_TRUE (progress.has_value()) << "no progress window; " << seen();
        ASSERT_TRUE (waitUntil (underWay, 10000)) << korva.log();
        ASSERT_TRUE (press (*progress, 0, 1)) << seen();
        ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    };

    // Import of "Bravo", cancelled after a few blocks.
    selectRow (ui::korvaRow, ui::korvaRowName, 1);
    user.clickIn (manager, ui::importArrow);
    cancelWhen (manager.waitForDialog (""), [&] { return korva.countInLog ("sending: type 0x03, 4096 bytes") >= 3; });
    ASSERT_TRUE (waitUntil ([&] { return korva.countInLog ("import aborted by the computer") == 1; })) << korva.log();
    EXPECT_EQ (filesIn (places.dataFolder), juce::Array<juce::File> { zulu });

    // Export of "Zulu", cancelled after a few blocks: the KORVA keeps nothing of it.
    cancelWhen (startTransfer (ui::pcRow, ui::pcRowName, ui::exportArrow),
                [&] { return korva.countInLog ("request complete: type 0x05, 4096 bytes") >= 3; });
    ASSERT_TRUE (waitUntil ([&] { return korva.countInLog ("export aborted by the computer") == 1; })) << korva.log();
    EXPECT_EQ (korva.projects().size(), 2u);
    EXPECT_FALSE (korva.indexOf ("Zulu").has_value());
    EXPECT_TRUE (manager.trace().contains ("Pressed Cancel Of ProgressWindow"));
    EXPECT_TRUE (manager.messageBoxes().isEmpty()) << manager.messageBoxes().joinIntoString ("\n");

    // A busy KORVA: the list cannot be had (the status line says so, blinking), nor room for a project.
    ASSERT_TRUE (korva.unplug());
    ASSERT_TRUE (korva.plugIn ({ "--busy" }));
    const TextLook status { 13.0f, juce::Colours::white, ui::windowBackground, juce::Justification::centredRight };
    ASSERT_TRUE (waitForScreen ([&] (const juce::Image& s) {
        return brightest (s, ui::statusLine) > 200
               && showsText (s, ui::statusLine, status, "Get Project Info | KORVA is busy.",
                             { "Get Project Info | Communication Error (0009)" });
    })) << seen();
    EXPECT_EQ (ui::korvaRows (lastShot), 0);
    selectRow (ui::pcRow, ui::pcRowName, 0);
    user.clickIn (manager, ui::exportArrow);
    acknowledgeBox (" | KORVA is busy.");

    // A full KORVA: no room left, and the project is refused.
    ASSERT_TRUE (korva.unplug());
    ASSERT_TRUE (korva.plugIn ({ "--no-room" }));
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 2; })) << seen();
    EXPECT_TRUE (showsText (lastShot, ui::projectCapacity, { 14.0f, juce::Colours::black, ui::pageBackground }, "0",
                            { "--", "126" }))
        << seen();
    selectRow (ui::pcRow, ui::pcRowName, 0);
    user.clickIn (manager, ui::exportArrow);
    acknowledgeBox (" | Cannot load the the project. Not enough space on KORVA.");
    EXPECT_EQ (korva.projects().size(), 2u);
    EXPECT_EQ (filesIn (places.dataFolder), juce::Array<juce::File> { zulu });
}

//==============================================================================
// PATTERN, reached with Ctrl+Page Down: the current pattern dragged out as a
// 4-bar MIDI file plays what `korva render` makes of the KORVA's pattern, and
// the desktop gets the file made for it as a URI (the home folder's name
// needs encoding); a MIDI file dropped in becomes the KORVA's current
// pattern, as `korva midi2pattern` makes it, and comes back out the same way.
// A file dragged out of the page is not taken back.
TEST_F (EndToEndOnTheDesktop, APatternIsDraggedOutAndAMidiFileDroppedIn)
{
    startConnected();

    // To the next page from the keyboard.
    user.clickIn (manager, ui::blankOfProjectPage);
    ASSERT_TRUE (waitUntil ([&] { return user.keyboard().hasFocus (manager.window()); })) << "the window has no focus";
    ASSERT_TRUE (user.keyboard().chord ({ XK_Control_L, XK_Next }));
    const TextLook number { 15.0f, juce::Colours::black, juce::Colours::white };
    const auto info = korva.patternInfo();
    const auto twoDigits = [] (int n) { return juce::String::formatted ("%02d", n); };
    ASSERT_TRUE (waitForScreen ([&] (const juce::Image& s) {
        return showsText (s, ui::trackNumber, number, twoDigits (info[0]), { "--" })
               && showsText (s, ui::patternNumber, number, twoDigits (info[1]), { "--" });
    })) << seen();

    // Someone to drop onto, beside the window.
    const auto window = manager.bounds();
    const bool roomOnTheRight = window.x + window.width + 220 <= 1280;
    const int targetX = roomOnTheRight ? window.x + window.width + 20 : 20;
    const int targetY = roomOnTheRight ? window.y : window.y + window.height + 20;
    x11::XdndDropTarget target ({ targetX, targetY, 200, 200 });
    ASSERT_TRUE (target.isReady());

    // While a drag is under way, its image is a small window of the program's own.
    const auto dragImageShown = [&] {
        for (const auto& w : x11probe::windowsOfProcess (manager.pid()))
            if (w.mapped && w.id != manager.window() && w.width <= 64 && w.height <= 64)
                return true;
        return false;
    };
    const auto temporary = places.home.getChildFile (".config/MELDRA/KORVA Manager/Temp");
    const auto madeFiles = [&] { return temporary.findChildFiles (juce::File::findFiles, true, "*.mid"); };
    struct DraggedOut
    {
        juce::File made;  // the file the program made for the drag
        std::string uri;  // what the desktop got
        juce::File file;  // ... as a local file
    };
    const auto dragOut = [&]() -> DraggedOut {
        DraggedOut out;
        auto& pointer = user.pointer();
        const auto before = madeFiles();
        const auto answered = target.positionsAnswered();
        const auto drops = target.drops().size();
        EXPECT_TRUE (waitUntil ([&] { return ! dragImageShown(); })) << "the last drag's image stays";

        // Pressed on the file icon, the first movement has the KORVA's pattern made into a file.
        const auto icon = manager.onScreen (ui::fileIcon);
        pointer.moveTo (icon.x, icon.y);
        pointer.press();
        pointer.glideTo (icon.x + 6, icon.y, 3);
        const bool made = waitUntil ([&] { return madeFiles().size() > before.size(); }, 15000);
        // The first movement once the page has the file starts the drag.
        const bool started = made && user.moveUntil (dragImageShown);
        // Out of the window, the page hands the drag to the desktop, and the
        // target hears of it. Once the program has read the target's first
        // answer it sends the next position: then it drops on release.
        const int dropX = targetX + 100, dropY = targetY + 100;
        if (started)
            pointer.glideTo (dropX, dropY, 40);
        const bool over = started && user.moveUntil ([&] { return target.positionsAnswered() >= answered + 2; });
        pointer.release();
        EXPECT_TRUE (made) << "no file made; " << seen();
        EXPECT_TRUE (started) << "the drag never started; " << seen();
        EXPECT_TRUE (over) << "the drag never reached the target; " << seen();
        if (! over || ! target.waitForDrops (drops + 1, 5000))
            return out;

        for (const auto& file : madeFiles())
            if (! before.contains (file))
                out.made = file;
        const auto uris = target.drops().back();
        EXPECT_EQ (uris.size(), 1u);
        out.uri = uris.empty() ? std::string() : uris[0];
        const auto path = x11::pathOfFileUri (out.uri);
        EXPECT_TRUE (path.has_value()) << out.uri;
        if (path.has_value())
            out.file = juce::File (juce::String::fromUTF8 (path->c_str()));
        return out;
    };

    const auto infoFile = places.root / "info.bin";
    ASSERT_TRUE (infoFile.replaceWithData (info.data(), info.size()));
    const auto rendered = [&] (const Bytes& pattern, const juce::String& name) {
        const auto patternFile = places.root / (name + ".pattern");
        const auto midi = places.root / (name + ".mid");
        patternFile.replaceWithData (pattern.data(), pattern.size());
        juce::String errors;
        EXPECT_EQ (runTool (KORVA_TOOL_BINARY,
                            { "render", patternFile.getFullPathName().toStdString(), "--info",
                              infoFile.getFullPathName().toStdString(), "--bars", "4", "-o",
                              midi.getFullPathName().toStdString() },
                            places.root.get(), errors),
                   0)
            << errors;
        return eventsOf (midi);
    };
    const auto patternRequests = [&] { return korva.countInLog ("request start: type 0x31"); };

    // Out: the 4-bar file plays what the KORVA's pattern plays; one request
    // for the pattern, whatever the movements.
    const auto first = dragOut();
    ASSERT_TRUE (first.file.existsAsFile()) << seen();
    EXPECT_EQ (first.file, first.made);
    EXPECT_NE (first.uri.find ("/home%20%C3%BC/"), std::string::npos) << first.uri;
    EXPECT_NE (first.uri.find ("/KORVA%20Manager/Temp/"), std::string::npos) << first.uri;
    EXPECT_EQ (target.lastRequestedAction(), "XdndActionCopy");
    EXPECT_TRUE (first.file.getFileName().startsWith ("TRK" + twoDigits (info[0]) + "_PTN" + twoDigits (info[1])))
        << first.file.getFileName();
    const auto expected = rendered (korva.currentPattern(), "before");
    EXPECT_GT (notesIn (expected), 0);
    EXPECT_EQ (eventsOf (first.file), expected);
    EXPECT_EQ (patternRequests(), 1);

    // In: a file of 4 bars of quarter notes, one note a bar higher each time,
    // under a name with a space, a letter beyond ASCII and the extension in capitals.
    const auto dropped = places.root / juce::String::fromUTF8 ("Four Bars \xc3\xbc.MID");
    {
        TrackBytes track;
        for (int beat = 0; beat < 16; ++beat)
        {
            const int note = 48 + 7 * (beat / 4) + beat % 4;
            track.noteOn ((uint32_t) beat * 480, note, 90).noteOff ((uint32_t) beat * 480 + 240, note);
        }
        track.endOfTrack (16 * 480);
        const auto bytes = midiFile ({ track });
        ASSERT_TRUE (dropped.replaceWithData (bytes.data(), bytes.size()));
    }
    const auto dropOnTheArea = [&] (const juce::File& file) { dropFile (file, ui::dropArea); };
    const auto patternBefore = korva.currentPattern();
    dropOnTheArea (dropped);
    ASSERT_TRUE (waitUntil ([&] { return korva.currentPattern() != patternBefore; }, 15000)) << korva.log();
    const auto patternAfter = korva.currentPattern();
    const auto expectedPattern = places.root / "expected.pattern";
    juce::String errors;
    ASSERT_EQ (runTool (KORVA_TOOL_BINARY,
                        { "midi2pattern", dropped.getFullPathName().toStdString(), "--info",
                          infoFile.getFullPathName().toStdString(), "--bars", "4", "-o",
                          expectedPattern.getFullPathName().toStdString() },
                        places.root.get(), errors),
               0)
        << errors;
    EXPECT_EQ (patternAfter, bytesOf (expectedPattern));

    // And out again: the KORVA now plays the dropped notes.
    const auto second = dragOut();
    ASSERT_TRUE (second.file.existsAsFile()) << seen();
    EXPECT_EQ (second.file, second.made);
    const auto expectedAfter = rendered (patternAfter, "after");
    EXPECT_EQ (eventsOf (second.file), expectedAfter);
    EXPECT_EQ (notesIn (expectedAfter), 16);
    EXPECT_EQ (patternRequests(), 2);

    // The file dragged out, dropped back, is not taken. Whatever its drop set
    // off would go through the message loop and the sequencer ahead of the
    // page's next questions: two of them reaching the KORVA after it, a
    // question about room for a pattern would have come before.
    const auto roomQuestions = [&] { return korva.countInLog ("request start: type 0x32"); };
    const int asked = roomQuestions();
    dropOnTheArea (second.file);
    const auto polls = [&] { return korva.countInLog ("request start: type 0x30"); };
    const int pollsBefore = polls();
    ASSERT_TRUE (waitUntil ([&] { return polls() >= pollsBefore + 2; }, 10000)) << korva.log();
    EXPECT_EQ (roomQuestions(), asked);
    EXPECT_EQ (korva.currentPattern(), patternAfter);
    EXPECT_TRUE (manager.messageBoxes().isEmpty()) << manager.messageBoxes().joinIntoString ("\n");
}

//==============================================================================
// A dropped file whose notes did not all fit: the notice says so and stays
// until the user clicks it. A file dropped while a box is open is taken once
// the box is closed.
TEST_F (EndToEndOnTheDesktop, ALossyDropIsToldUntilClickedAndADropUnderABoxWaitsForIt)
{
    startConnected();
    user.clickIn (manager, ui::patternTab);
    user.moveAway();

    const auto write = [&] (const juce::String& name, const Bytes& bytes) {
        const auto file = places.root / name;
        EXPECT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));
        return file;
    };
    // One note at the start and one in bar 40, which no Length reaches.
    const auto lossy = write ("lossy.mid", midiFile ({ TrackBytes()
                                                           .noteOn (0, 60)
                                                           .noteOff (240, 60)
                                                           .noteOn (39 * 1920, 62)
                                                           .noteOff (39 * 1920 + 240, 62)
                                                           .endOfTrack (39 * 1920 + 240) }));
    const auto whole = write ("whole.mid", midiFile ({ TrackBytes().noteOn (0, 64).noteOff (240, 64).endOfTrack (240) }));
    const auto broken = write ("broken.mid", { 'n', 'o', 't', ' ', 'M', 'I', 'D', 'I' });

    const auto drop = [&] (const juce::File& file) { dropFile (file, ui::dropArea); };
    const auto noticeShown = [] (const juce::Image& s) {
        const auto foot = averageColour (s, { ui::dropNoticeFoot.x - 20, ui::dropNoticeFoot.y - 2, 40, 4 });
        return std::abs (foot.getRed() - ui::noticeBackground.getRed())
                   + std::abs (foot.getBlue() - ui::noticeBackground.getBlue())
               < 20;
    };
    const auto polls = [&] { return korva.countInLog ("request start: type 0x30"); };

    auto before = korva.currentPattern();
    drop (lossy);
    ASSERT_TRUE (waitUntil ([&] { return korva.currentPattern() != before; }, 15000)) << korva.log();
    ASSERT_TRUE (waitForScreen (noticeShown)) << seen();
    EXPECT_TRUE (manager.trace().contains ("Notice: Sent. 1 note did not fit: 1 after bar")) << manager.trace();

    // It stays while the page goes on asking the KORVA for its pattern; a click takes it away.
    const int pollsBefore = polls();
    ASSERT_TRUE (waitUntil ([&] { return polls() >= pollsBefore + 2; }, 15000)) << korva.log();
    lastShot = manager.screenshot();
    EXPECT_TRUE (noticeShown (lastShot)) << seen();
    user.clickIn (manager, ui::dropNoticeFoot);
    user.moveAway();
    ASSERT_TRUE (waitForScreen ([&] (const juce::Image& s) { return ! noticeShown (s); })) << seen();

    // A file the page cannot read opens a box. A file dropped while it is
    // open waits: nothing reaches the KORVA (the page goes on asking for its
    // pattern meanwhile) until the box is closed; then it is sent.
    drop (broken);
    ASSERT_TRUE (waitUntil ([&] { return ! manager.messageBoxes().isEmpty(); })) << seen();
    const auto box = manager.waitForDialog ("");
    ASSERT_TRUE (box.has_value()) << seen();
    before = korva.currentPattern();
    drop (whole);
    const int pollsUnderTheBox = polls();
    ASSERT_TRUE (waitUntil ([&] { return polls() >= pollsUnderTheBox + 2; }, 15000)) << korva.log();
    EXPECT_EQ (korva.currentPattern(), before) << "the drop was acted on under the box";
    ASSERT_TRUE (press (*box, 0, 1)) << seen();
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    ASSERT_TRUE (waitUntil ([&] { return korva.currentPattern() != before; }, 15000)) << "the drop was lost";
    EXPECT_EQ (manager.messageBoxes().size(), 1);
}

//==============================================================================
// ABOUT shows the version; the data folder chosen on PROJECT is the one
// listed after a restart; a second start leaves the running program alone.
TEST_F (EndToEndOnTheDesktop, TheVersionTheDataFolderAcrossARestartAndASecondStart)
{
    const auto chosen = places.root / "My Projects";
    ASSERT_TRUE (chosen.createDirectory());
    {
        Bytes image;
        ASSERT_TRUE (korva.seed ({ { 0, "Kilo", 2 } }));
        image = korva.projects().at (0).image;
        ASSERT_TRUE (chosen.getChildFile ("Kilo_20260101_120000.prj").replaceWithData (image.data(), image.size()));
    }
    startConnected ({}, 1);
    EXPECT_EQ (ui::pcRows (lastShot), 0) << "the default data folder is empty";

    // The folder button asks the desktop's chooser, starting at the data folder.
    places.chooseNext (chosen);
    user.clickIn (manager, ui::folderButton);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 1; })) << seen();
    const auto question = places.lastChooserQuestion();
    ASSERT_GE (question.size(), 1);
    EXPECT_EQ (question[0], places.dataFolder.getFullPathName());
    EXPECT_TRUE (question.contains ("--file-selection") && question.contains ("--directory")) << question.joinIntoString (" ");
    EXPECT_TRUE (question.contains ("--title=Choose Data Folder")) << question.joinIntoString (" ");

    // ABOUT: the version.
    user.clickIn (manager, ui::aboutTab);
    user.moveAway();
    const TextLook versionLook { 16.0f, juce::Colours::black, ui::pageBackground };
    ASSERT_TRUE (waitForScreen ([&] (const juce::Image& s) {
        return showsText (s, ui::version, versionLook, "1.0.1", { "1.0.0", "1.0.2", "1.1.0" });
    })) << seen();
    const auto aboutPage = lastShot;

    // A second start: it ends at once, with no window; the first keeps its window and its KORVA.
    const int connectionsBefore = korva.countInLog ("connection opened");
    {
        const auto errors = places.root / "second.txt";
        ProgramProcess second (KORVA_APP_BINARY, places.home, errors,
                               { { "KORVA_VIRTUAL_DIR", places.devices.getFullPathName().toStdString() } });
        EXPECT_EQ (second.waitForExit (15000), 0) << errors.loadFileAsString();
        EXPECT_TRUE (x11probe::windowsOfProcess (second.pid()).empty());
    }
    const auto windows = x11probe::windowsOfProcess (manager.pid());
    ASSERT_EQ (windows.size(), 1u);
    EXPECT_EQ (windows[0].id, manager.window());
    EXPECT_TRUE (windows[0].mapped);
    lastShot = manager.screenshot();
    EXPECT_LT (meanDifference (lastShot, lastShot.getBounds(), aboutPage), 1.0) << seen();
    EXPECT_TRUE (ui::lampLit (lastShot));
    EXPECT_EQ (korva.countInLog ("connection opened"), connectionsBefore) << "the second start opened the KORVA";

    // Closed, the choice is kept; started again, the chosen folder is the data folder.
    const auto setting = places.home.getChildFile (".config/MELDRA/KORVA Manager/DirectorySetting.bin");
    const auto keeps = [&] (const juce::File& folder) {
        return infra::ValueTreeTools::fileToValueTree (setting).toXmlString().contains (folder.getFullPathName());
    };
    ASSERT_EQ (manager.close(), 0);
    EXPECT_TRUE (keeps (chosen));
    ASSERT_TRUE (manager.start()) << manager.trace();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 1; })) << seen();

    // The chooser now starts there; cancelled, it changes nothing.
    places.chooseNext ({});
    user.clickIn (manager, ui::folderButton);
    ASSERT_TRUE (waitUntil ([&] { return places.lastChooserQuestion().size() > 0; })) << "the chooser was not asked";
    EXPECT_EQ (places.lastChooserQuestion()[0], chosen.getFullPathName());
    ASSERT_EQ (manager.close(), 0);
    EXPECT_TRUE (keeps (chosen));
    EXPECT_TRUE (manager.messageBoxes().isEmpty()) << manager.messageBoxes().joinIntoString ("\n");
}

//==============================================================================
// A desktop that has no program for PDF files and no file manager: xdg-open
// ends with status 3. The Manual button and Open Data Folder say so, each
// with its path.
TEST_F (EndToEndOnTheDesktop, AManualOrAFolderTheDesktopCannotOpenIsTold)
{
    places.launcherEndsWith (3);
    startConnected();
    const juce::String noProgram = ": this desktop has no program set up to open it (xdg-open ended with status 3).";

    user.clickIn (manager, ui::aboutTab);
    user.clickIn (manager, ui::manualButton);
    const auto manual = juce::File (KORVA_APP_BINARY).getSiblingFile ("Manual/English/KORVA Manager User's Manual_EN.pdf");
    ASSERT_TRUE (manual.existsAsFile()) << manual.getFullPathName();
    acknowledgeBox (" | Could not open the manual " + manual.getFullPathName() + noProgram);

    user.clickIn (manager, ui::projectTab);
    user.rightClickIn (manager, ui::pcRow (0));
    ASSERT_TRUE (waitUntil ([&] { return ! manager.dialogs().empty(); })) << seen();
    // On an empty table, the first item the keys reach is Open Data Folder.
    ASSERT_TRUE (user.keyboard().tap (XK_Down));
    ASSERT_TRUE (user.keyboard().tap (XK_Return));
    acknowledgeBox (" | Could not open the data folder " + places.dataFolder.getFullPathName() + noProgram);

    juce::StringArray opened;
    opened.addLines (places.opened.loadFileAsString());
    opened.removeEmptyStrings();
    EXPECT_EQ (opened, (juce::StringArray { manual.getFullPathName(), places.dataFolder.getFullPathName() }));
    EXPECT_EQ (manager.messageBoxes().size(), 2);
}

//==============================================================================
// A KORVA whose firmware does not answer the version question: the user is
// asked to upgrade it, once, and the program goes on serving it.
TEST_F (EndToEndOnTheDesktop, OldFirmwareAsksForAnUpgradeOnce)
{
    ASSERT_TRUE (korva.seed ({ { 0, "Alpha", 1 }, { 1, "Bravo", 1 } }));
    startConnected ({ "--old-firmware" });
    const juce::String upgrade = " | Please upgrade the firmware of KORVA.";
    const auto box = manager.waitForDialog ("");
    ASSERT_TRUE (box.has_value()) << seen();
    ASSERT_TRUE (manager.waitForMessageBox (upgrade)) << manager.trace();

    // Several polls of the project list later, still the one box.
    const int polls = korva.countInLog ("request complete: type 0x00");
    ASSERT_TRUE (waitUntil ([&] { return korva.countInLog ("request complete: type 0x00") >= polls + 3; }, 10000));
    EXPECT_EQ (manager.messageBoxes(), juce::StringArray { upgrade });
    EXPECT_EQ (manager.dialogs().size(), 1u);
    ASSERT_TRUE (press (*box, 0, 1));
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 2; })) << seen();
}

//==============================================================================
// The whole KORVA copied from its table's menu, one project refused on the
// way; the keys do what the buttons do; a project file dropped from a file
// manager joins the data folder.
TEST_F (EndToEndOnTheDesktop, TheWholeKorvaIsImportedFromItsMenuAndKeysAndDropsWork)
{
    // "Zulu" is the project in use, which the run passes over.
    ASSERT_TRUE (korva.seed (
        { { 4, "Zulu", 1 }, { 0, "Alpha", 2 }, { 1, "Bravo", 3 }, { 2, "Charlie", 1 }, { 3, "Delta", 0 } }));
    startConnected ({ "--busy-import", "2" }, 5);
    const auto store = korva.projects();
    const auto data = places.dataFolder.getFullPathName();
    const auto menuOpened = [&] (std::size_t windowsBefore) {
        return waitUntil ([&] { return manager.dialogs().size() > windowsBefore; }, 5000);
    };
    // Keys go to the window that has the focus: a box that closed had it.
    const auto selectForKeys = [&] (juce::Point<int> (*row) (int), juce::Rectangle<int> (*name) (int), int index) {
        user.clickIn (manager, ui::blankOfProjectPage);
        EXPECT_TRUE (waitUntil ([&] { return user.keyboard().hasFocus (manager.window()); })) << "the window has no focus";
        selectRow (row, name, index);
    };

    // A right-click on "Bravo": its menu, where the second item is "Import All Projects…".
    user.rightClickIn (manager, ui::korvaRow (1));
    ASSERT_TRUE (menuOpened (0)) << seen();
    for (const auto key : { XK_Down, XK_Down, XK_Return })
        ASSERT_TRUE (user.keyboard().tap (key));

    const juce::String done = "Import All Projects | Imported 3 of 5 projects into " + data + ".";
    ASSERT_TRUE (manager.waitForMessageBox (done, 30000)) << seen();
    EXPECT_TRUE (manager.trace().contains ("\n002 Charlie: KORVA is busy.")) << manager.trace();
    const auto copies = filesIn (places.dataFolder);
    ASSERT_EQ (copies.size(), 3);
    for (const auto& [index, project] : store)
    {
        if (index == 2 || index == 4)
            continue;
        const auto match = std::find_if (copies.begin(), copies.end(), [&, &name = project.name] (const juce::File& f) {
            return f.getFileName().startsWith (juce::String (name) + "_");
        });
        ASSERT_NE (match, copies.end()) << project.name;
        EXPECT_EQ (bytesOf (*match), project.image) << project.name;
    }
    acknowledgeBox (done);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 3; })) << seen();

    // PC/Mac, by name: Alpha, Bravo, Delta. F2 renames "Alpha" in its file;
    // Enter sends it to the KORVA; Delete deletes "Delta" after the question.
    const auto alpha = *std::find_if (copies.begin(), copies.end(),
                                      [] (const juce::File& f) { return f.getFileName().startsWith ("Alpha_"); });
    selectForKeys (ui::pcRow, ui::pcRowName, 0);
    ASSERT_TRUE (user.keyboard().tap (XK_F2));
    renameTo ("Alpha Copy");
    ASSERT_TRUE (waitUntil ([&] { return nameInFile (alpha) == "Alpha Copy"; })) << nameInFile (alpha);
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();

    selectForKeys (ui::pcRow, ui::pcRowName, 0);
    ASSERT_TRUE (user.keyboard().tap (XK_Return));
    ASSERT_TRUE (waitUntil ([&] { return korva.indexOf ("Alpha Copy").has_value(); }, 15000)) << korva.log();
    EXPECT_EQ (korva.projects().at (*korva.indexOf ("Alpha Copy")).image, renamed (store.at (0).image, "Alpha Copy"));
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 6; })) << seen();
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();

    selectForKeys (ui::pcRow, ui::pcRowName, 2);
    ASSERT_TRUE (user.keyboard().tap (XK_Delete));
    answerDeleteQuestion ("Delta", true);
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 2; })) << seen();
    EXPECT_EQ (filesIn (places.dataFolder).size(), 2);

    // The menu key on the KORVA table (by name: Alpha, Alpha Copy, Bravo,
    // Charlie, Delta, Zulu): "Import" of "Delta", the first item.
    selectForKeys (ui::korvaRow, ui::korvaRowName, 4);
    user.moveAway();
    const auto windows = manager.dialogs().size();
    ASSERT_TRUE (user.keyboard().tap (XK_Menu));
    ASSERT_TRUE (menuOpened (windows)) << seen();
    for (const auto key : { XK_Down, XK_Return })
        ASSERT_TRUE (user.keyboard().tap (key));
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 3; })) << seen();
    const auto delta = places.dataFolder.findChildFiles (juce::File::findFiles, false, "Delta_*.prj");
    ASSERT_EQ (delta.size(), 1);
    EXPECT_EQ (bytesOf (delta[0]), store.at (3).image);
    ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();

    // A project file dragged from a file manager onto the PC/Mac table.
    const auto outside = places.root / "Echo.prj";
    ASSERT_TRUE (outside.replaceWithData (store.at (1).image.data(), store.at (1).image.size()));
    const auto target = manager.onScreen (ui::pcRow (6));
    x11::XdndDragSource source;
    source.drag (x11::XdndDragSource::dropWindowAt (target.x, target.y), target.x, target.y,
                 { x11::fileUri (outside.getFullPathName().toStdString()) });
    EXPECT_TRUE (source.waitUntilDone (5000));
    const auto echo = places.dataFolder.getChildFile ("Echo.prj");
    ASSERT_TRUE (waitUntil ([&] { return echo.existsAsFile(); }, 5000)) << seen();
    EXPECT_EQ (bytesOf (echo), store.at (1).image);
    EXPECT_TRUE (outside.existsAsFile());
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::pcRows (s) == 4; })) << seen();

    EXPECT_EQ (manager.messageBoxes(),
               (juce::StringArray { done, "Delete Project | Deleting project Delta. Are you sure?" }));
}

//==============================================================================
// Import All Projects… cancelled while a project comes in, then cut off by an
// unplug: the copies completed stay whole, and nothing else is left behind.
TEST_F (EndToEndOnTheDesktop, ImportAllCancelledOrUnpluggedKeepsOnlyWholeCopies)
{
    // "Zulu" is the project in use, which a run passes over.
    ASSERT_TRUE (korva.seed ({ { 3, "Zulu", 0 }, { 0, "Alpha", 1 }, { 1, "Bravo", 8 }, { 2, "Charlie", 2 } }));
    startConnected ({ "--slow", "100" }, 4);
    const auto store = korva.projects();
    const auto data = places.dataFolder.getFullPathName();
    const auto blocksSent = [&] { return korva.countInLog ("sending: type 0x03, 4096 bytes"); };

    // From the menu of the KORVA table: its second item.
    const auto importAll = [&] {
        const auto windows = manager.dialogs().size();
        user.rightClickIn (manager, ui::korvaRow (1));
        EXPECT_TRUE (waitUntil ([&] { return manager.dialogs().size() > windows; }, 5000)) << seen();
        for (const auto key : { XK_Down, XK_Down, XK_Return })
            EXPECT_TRUE (user.keyboard().tap (key));
        const auto progress = manager.waitForDialog ("Import All Projects");
        EXPECT_TRUE (progress.has_value()) << seen();
        return progress;
    };
    // Every file of the data folder is a whole copy of a project, hidden ones included.
    const auto wholeCopies = [&] {
        std::vector<std::string> names;
        for (const auto& entry :
             juce::RangedDirectoryIterator (places.dataFolder, true, "*", juce::File::findFilesAndDirectories))
        {
            const auto file = entry.getFile();
            const auto name = file.getFileName().toStdString();
            names.push_back (name);
            const auto project = std::find_if (store.begin(), store.end(), [&] (const auto& p) {
                return name.rfind (p.second.name + "_", 0) == 0;
            });
            EXPECT_NE (project, store.end()) << name;
            if (project != store.end())
            {
                EXPECT_EQ (bytesOf (file), project->second.image) << name;
            }
        }
        std::sort (names.begin(), names.end());
        return names;
    };

    // Cancelled while "Bravo" comes in: "Alpha" stays.
    auto progress = importAll();
    ASSERT_TRUE (progress.has_value());
    const int before = blocksSent();
    ASSERT_TRUE (waitUntil ([&] { return blocksSent() >= before + 4; }, 20000)) << korva.log();
    ASSERT_TRUE (press (*progress, 0, 1)) << seen();
    const juce::String cancelled = "Import All Projects | Imported 1 of 4 projects into " + data + ".";
    acknowledgeBox (cancelled);
    EXPECT_TRUE (manager.trace().contains ("Stopped: The import was cancelled. 2 projects were not imported."))
        << manager.trace();
    auto names = wholeCopies();
    ASSERT_EQ (names.size(), 1u);
    EXPECT_EQ (names[0].rfind ("Alpha_", 0), 0u) << names[0];

    // Again, and the KORVA unplugged while "Bravo" comes in.
    progress = importAll();
    ASSERT_TRUE (progress.has_value());
    const int again = blocksSent();
    ASSERT_TRUE (waitUntil ([&] { return blocksSent() >= again + 4; }, 20000)) << korva.log();
    ASSERT_TRUE (korva.unplug());
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::lampDark (s); })) << seen();
    ASSERT_TRUE (waitUntil ([&] { return manager.messageBoxes().size() == 2; }, 10000))
        << manager.messageBoxes().joinIntoString ("\n");
    EXPECT_EQ (manager.messageBoxes()[1], cancelled) << "one message, the same count";
    names = wholeCopies();
    ASSERT_EQ (names.size(), 2u);
    EXPECT_EQ (names[1].rfind ("Alpha_", 0), 0u) << names[1];
    {
        // The user reads it, and closes it.
        const auto message = boxWithIcon ("Import All Projects", AlertIcon::kWarning);
        ASSERT_TRUE (message.has_value()) << seen();
        ASSERT_TRUE (press (*message, 0, 1)) << seen();
        ASSERT_TRUE (manager.waitUntilNoDialog()) << seen();
    }

    // Once more, and the window closed on the way. The user is asked, and
    // keeps it open the first time: the run goes on. The second time the
    // user lets it close: the run is cancelled and the program ends,
    // leaving only whole copies behind.
    ASSERT_TRUE (korva.plugIn ({ "--slow", "100" })) << korva.log();
    ASSERT_TRUE (waitForScreen ([] (const juce::Image& s) { return ui::korvaRows (s) == 4; })) << seen();
    progress = importAll();
    ASSERT_TRUE (progress.has_value());
    const juce::String question = "Import All Projects | Projects are being imported from the KORVA. Cancel the "
                                  "import and close KORVA Manager?";
    const auto askToClose = [&] (int asked) {
        EXPECT_TRUE (x11probe::sendDeleteWindow (manager.window()));
        EXPECT_TRUE (waitUntil ([&] { return manager.messageBoxes().size() == asked + 2; })) << seen();
        EXPECT_EQ (manager.messageBoxes()[asked + 1], question);
        std::optional<x11probe::WindowInfo> box;
        EXPECT_TRUE (waitUntil ([&] {
            for (const auto& w : manager.dialogs())
                if (w.id != progress->id)
                    box = w;
            return box.has_value();
        })) << seen();
        return box;
    };
    const int third = blocksSent();
    ASSERT_TRUE (waitUntil ([&] { return blocksSent() >= third + 2; }, 20000)) << korva.log();
    auto box = askToClose (1);
    ASSERT_TRUE (box.has_value());
    ASSERT_TRUE (press (*box, 1, 2)) << seen(); // "Cancel": the window stays
    const int goingOn = blocksSent();
    ASSERT_TRUE (waitUntil ([&] { return blocksSent() >= goingOn + 2; }, 20000)) << "the run stopped";
    box = askToClose (2);
    ASSERT_TRUE (box.has_value());
    ASSERT_TRUE (press (*box, 0, 2)) << seen(); // "OK"
    EXPECT_EQ (manager.process()->waitForExit (20000), 0) << manager.trace();
    EXPECT_EQ (manager.messageBoxes().size(), 4) << "the run's message came after all";
    for (const auto& name : wholeCopies())
        EXPECT_NE (name.rfind ("Bravo_", 0), 0u) << "Bravo was on its way, and its copy stayed: " << name;
}

} // namespace korva
