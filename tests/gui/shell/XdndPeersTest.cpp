// The other side of the desktop's drag and drop, as the end-to-end tests use
// it: file URIs both ways, and a drag from one peer onto the other.

#include "tests/gui/shell/X11Probe.h"
#include "tests/support/XdndPeers.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

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

} // namespace korva
