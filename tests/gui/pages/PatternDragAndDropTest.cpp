// The PATTERN page's drag and drop on the desktop, end to end: the real
// program with a virtual KORVA, a user's pointer (XTEST) and the other side of
// the drags (XDnD peers) under Xvfb.

#include "core/patterns/PatternRecord.h"
#include "tests/gui/shell/X11Probe.h"
#include "tests/core/midi/MidiTestSupport.h"
#include "tests/core/engine/EngineTestSupport.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XTestPointer.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <gtest/gtest.h>

#include <thread>

namespace korva
{

using namespace korva::test;

namespace
{
std::vector<std::uint8_t> patternBytes()
{
    auto record = emptyPattern();
    record.block.barCount = 2;
    addNote (record, 0, 0, 60, 7);
    addNote (record, 16, 0, 64, 7);
    korva::PatternPayload payload;
    korva::encodePattern (record, payload);
    return {payload.begin(), payload.end()};
}

korva::sim::Handler answer (std::uint8_t type, std::vector<std::uint8_t> payload)
{
    return korva::sim::fixedAnswer (korva::sim::Message{type, std::move (payload)});
}

int countRequests (const korva::sim::VirtualKorva& korva, std::uint8_t type)
{
    int n = 0;
    for (const auto& request : korva.getRequests())
        n += request.type == type;
    return n;
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

// A position on the window's content, on the root window.
struct Screen
{
    x11::Bounds window;
    int x (int contentX) const { return window.x + contentX; }
    int y (int contentY) const { return window.y + contentY; }
};
} // namespace

TEST (XdndPeersOnTheDesktop, FileUrisAndADragFromSourceToTarget)
{
    EXPECT_EQ (x11::fileUri ("/tmp/a b/\xc3\xbc#%.mid"), "file:///tmp/a%20b/%C3%BC%23%25.mid");
    EXPECT_EQ (x11::pathOfFileUri ("file:///tmp/a%20b/%C3%BC%23%25.mid"), "/tmp/a b/\xc3\xbc#%.mid");
    EXPECT_EQ (x11::pathOfFileUri ("file://localhost/x"), "/x");
    EXPECT_EQ (x11::pathOfFileUri ("file:///x%2"), std::nullopt);
    EXPECT_EQ (x11::pathOfFileUri ("http://host/x"), std::nullopt);

    ASSERT_TRUE (x11probe::displayAvailable()) << "the GUI tests need an X display (make test starts Xvfb)";
    x11::XdndDropTarget target ({1000, 700, 100, 100});
    ASSERT_TRUE (target.isReady());
    EXPECT_EQ (x11::XdndDragSource::dropWindowAt (1050, 750), target.windowId());

    x11::XdndDragSource source;
    ASSERT_TRUE (source.isReady());
    const std::vector<std::string> uris{x11::fileUri ("/tmp/one.mid"), x11::fileUri ("/tmp/two words.mid")};
    source.drag (target.windowId(), 1050, 750, uris);
    ASSERT_TRUE (source.waitUntilDone (5000));
    const auto outcome = source.outcome();
    EXPECT_TRUE (outcome.accepted);
    EXPECT_TRUE (outcome.dataSent);
    EXPECT_EQ (outcome.action, "XdndActionCopy");
    ASSERT_TRUE (target.waitForDrops (1, 1000));
    EXPECT_EQ (target.drops(), std::vector<std::vector<std::string>>{uris});
    EXPECT_EQ (target.lastRequestedAction(), "XdndActionCopy");
}

TEST (PatternPageOnTheDesktop, AMidiFileIsDraggedOutAndAnotherDroppedIn)
{
    ASSERT_TRUE (x11probe::displayAvailable()) << "the GUI tests need an X display (make test starts Xvfb)";
    x11probe::internWindowManagerAtoms();
    x11::XTestPointer pointer;
    ASSERT_TRUE (pointer.isAvailable()) << "the X server has no XTEST extension";

    // A home whose path needs encoding in a URI (the temporary folder is below it).
    TempFolder folder;
    const auto home = folder / juce::String::fromUTF8 ("home \xc3\xbc");
    const auto devices = folder / "devices";
    ASSERT_TRUE (home.createDirectory());
    ASSERT_TRUE (devices.createDirectory());

    korva::sim::Options options;
    options.folder = devices.getFullPathName().toStdString();
    options.name = "korva.sock";
    korva::sim::VirtualKorva korva (options);
    korva.setHandler (0x81, answer (0x81, {1}));                    // the firmware probe: no warning box
    korva.setHandler (0x00, answer (0x00, {0, 10, 0x03, 0xE8, 0})); // no projects
    std::vector<std::uint8_t> info (20, 0);
    info[0] = 3;
    info[1] = 12;
    korva.setHandler (0x30, answer (0x30, info));
    korva.setHandler (0x31, answer (0x31, patternBytes()));
    korva.setHandler (0x32, answer (0x32, {1}));
    korva.setHandler (0x33, answer (0x33, {1}));
    std::string error;
    ASSERT_TRUE (korva.start (error)) << error;

    const auto errors = folder / "stderr.txt";
    ProgramProcess program (KORVA_APP_BINARY, home, errors,
                            {{"KORVA_VIRTUAL_DIR", devices.getFullPathName().toStdString()}});
    ASSERT_GT (program.pid(), 0);

    x11probe::WindowInfo window;
    ASSERT_TRUE (waitUntil (
        [&]
        {
            for (const auto& w : x11probe::windowsOfProcess (program.pid()))
                if (w.mapped && w.title == "KORVA Manager" && w.width == 835 && w.height == 410)
                    window = w;
            return window.id != 0;
        },
        30000));
    const auto bounds = x11::rootBoundsOf (window.id);
    ASSERT_TRUE (bounds.has_value());
    const Screen screen{*bounds};

    const auto said = [&] { return "the program said:\n" + errors.loadFileAsString(); };

    // Connected, and the PROJECT page asking for its list; then to the PATTERN
    // page, which asks for the current pattern every second.
    ASSERT_TRUE (waitUntil ([&] { return countRequests (korva, 0x81) > 0 && countRequests (korva, 0x00) > 0; }, 15000))
        << said();
    pointer.moveTo (screen.x (160), screen.y (26));
    juce::Thread::sleep (100);
    pointer.press();
    juce::Thread::sleep (50);
    pointer.release();
    ASSERT_TRUE (waitUntil ([&] { return countRequests (korva, 0x30) > 0; }, 5000)) << said();

    // Someone to drop onto, beside the window.
    const int targetX = screen.window.x + 835 + 220 <= 1280 ? screen.window.x + 835 + 20 : 20;
    const int targetY = screen.window.x + 835 + 220 <= 1280 ? screen.window.y : screen.window.y + 410 + 20;
    x11::XdndDropTarget target ({targetX, targetY, 200, 200});
    ASSERT_TRUE (target.isReady());

    //==========================================================================
    // Drag out: press on the file icon, drag; the file is made; drag on, out of the window.
    const juce::File temp = home.getChildFile (".config/MELDRA/KORVA Manager/Temp");
    const auto madeFiles = [&] { return temp.findChildFiles (juce::File::findFiles, true, "*.mid"); };
    const int iconX = screen.x (371), iconY = screen.y (265);
    pointer.moveTo (iconX, iconY);
    juce::Thread::sleep (100);
    pointer.press();
    juce::Thread::sleep (50);
    pointer.glideTo (iconX + 6, iconY, 3);
    ASSERT_TRUE (waitUntil ([&] { return madeFiles().size() == 1 && madeFiles()[0].getSize() > 0; }, 10000))
        << said();
    const auto made = madeFiles()[0];
    juce::Thread::sleep (300); // the answer reaches the page

    pointer.glideTo (iconX + 14, iconY, 3);
    juce::Thread::sleep (200);
    const int dropX = targetX + 100, dropY = targetY + 100;
    pointer.glideTo (dropX, dropY, 40, 15);
    ASSERT_TRUE (waitUntil (
        [&]
        {
            pointer.moveTo (dropX + (pointer.x() == dropX ? 3 : 0), dropY);
            juce::Thread::sleep (30);
            return target.positionsAnswered() > 0;
        },
        5000))
        << "the drag never reached the target; " << said();
    juce::Thread::sleep (100);
    pointer.release();

    ASSERT_TRUE (target.waitForDrops (1, 5000)) << said();
    const auto drops = target.drops();
    ASSERT_EQ (drops[0].size(), 1u);
    const auto& uri = drops[0][0];
    EXPECT_NE (uri.find ("/home%20%C3%BC/"), std::string::npos) << uri;
    EXPECT_NE (uri.find ("/KORVA%20Manager/Temp/"), std::string::npos) << uri;
    const auto path = x11::pathOfFileUri (uri);
    ASSERT_TRUE (path.has_value()) << uri;
    EXPECT_EQ (juce::File (juce::String::fromUTF8 (path->c_str())), made);
    EXPECT_TRUE (made.getFileName().startsWith ("TRK03_PTN12_")) << made.getFileName();
    EXPECT_EQ (notesOf (parseWrittenFile (fileBytes (made))), (std::vector<int>{60, 64, 60, 64})); // "4 bar"
    EXPECT_EQ (target.lastRequestedAction(), "XdndActionCopy");
    EXPECT_EQ (countRequests (korva, 0x31), 1);

    //==========================================================================
    // Drop in: a file manager drags a MIDI file onto the drop area.
    const int areaX = screen.x (600), areaY = screen.y (182);
    const auto dropTarget = x11::XdndDragSource::dropWindowAt (areaX, areaY);
    ASSERT_NE (dropTarget, 0u);

    const auto midi = folder / juce::String::fromUTF8 ("Drop \xc3\xbc here.MID");
    const auto bytes = midiFile ({TrackBytes().noteOn (0, 60).noteOff (120, 60).endOfTrack (120)});
    ASSERT_TRUE (midi.replaceWithData (bytes.data(), bytes.size()));
    {
        x11::XdndDragSource source;
        source.drag (dropTarget, areaX, areaY, {x11::fileUri (midi.getFullPathName().toStdString())});
        ASSERT_TRUE (source.waitUntilDone (5000));
        EXPECT_TRUE (source.outcome().dataSent);
    }
    ASSERT_TRUE (waitUntil ([&] { return countRequests (korva, 0x33) == 1; }, 10000)) << said();
    for (const auto& request : korva.getRequests())
    {
        if (request.type == 0x32)
        {
            EXPECT_EQ (request.payload, std::vector<std::uint8_t>{0x33});
        }
        if (request.type != 0x33)
            continue;
        ASSERT_EQ (request.payload.size(), 4096u);
        korva::PatternRecord record;
        ASSERT_EQ (korva::decodePattern (request.payload.data(), request.payload.size(), record), korva::kDecodeOk);
        EXPECT_EQ (record.block.barCount, 4); // "4 bar"
        EXPECT_NE (korva::stepword::noteMask (record.block.steps[0]), 0);
    }

    // The file dragged out of the page is not taken back.
    {
        x11::XdndDragSource source;
        source.drag (dropTarget, areaX, areaY, {uri});
        ASSERT_TRUE (source.waitUntilDone (5000));
    }
    juce::Thread::sleep (1500);
    EXPECT_EQ (countRequests (korva, 0x32), 1);

    ASSERT_TRUE (x11probe::sendDeleteWindow (window.id));
    EXPECT_EQ (program.waitForExit (20000), 0);
    const auto log = errors.loadFileAsString();
    EXPECT_FALSE (log.contains ("Sanitizer")) << log;
    EXPECT_FALSE (log.contains ("runtime error")) << log;
    EXPECT_FALSE (log.contains ("Leaked objects")) << log;
}

} // namespace korva
