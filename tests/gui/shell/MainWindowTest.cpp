#include "gui/shell/MainContentComponent.h"
#include "gui/shell/MainWindow.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace korva
{

using namespace korva::test;

TEST (MainWindow, FixedSizeWindowWithMinimiseAndCloseOnly)
{
    MainWindow window ("KORVA Manager");

    EXPECT_EQ (window.getName(), "KORVA Manager");
    EXPECT_TRUE (window.isUsingNativeTitleBar());
    EXPECT_FALSE (window.isResizable());
    ASSERT_NE (window.getContentComponent(), nullptr);
    EXPECT_EQ (window.getContentComponent()->getBounds(), juce::Rectangle<int> (0, 0, 835, 410));
    EXPECT_EQ (window.getWidth(), 835); // the native title bar adds nothing to the client area
    EXPECT_EQ (window.getHeight(), 410);
    EXPECT_TRUE (window.isVisible());

    auto* peer = window.getPeer();
    ASSERT_NE (peer, nullptr);
    const int flags = peer->getStyleFlags();
    EXPECT_NE (flags & juce::ComponentPeer::windowHasMinimiseButton, 0);
    EXPECT_NE (flags & juce::ComponentPeer::windowHasCloseButton, 0);
    EXPECT_EQ (flags & juce::ComponentPeer::windowHasMaximiseButton, 0);
    EXPECT_EQ (flags & juce::ComponentPeer::windowIsResizable, 0);
}

TEST (MainWindow, ContentIsPaintedInTheApplicationBackground)
{
    MainWindow window ("KORVA Manager");
    auto* content = window.getMainContent();
    ASSERT_NE (content, nullptr);
    const auto snapshot = content->createComponentSnapshot (content->getLocalBounds());
    EXPECT_EQ (snapshot.getPixelAt (0, 0).getARGB(), 0xFF191919u);
    EXPECT_EQ (snapshot.getPixelAt (834, 409).getARGB(), 0xFF191919u);
}

TEST (MainWindow, AppNameFromAWorkerThreadArrivesOnTheMessageThread)
{
    MainWindow window ("KORVA Manager");

    window.setAppName (" - now");
    EXPECT_EQ (window.getName(), "KORVA Manager - now");

    std::thread worker ([&] { window.setAppName (" (busy)"); });
    worker.join();
    EXPECT_EQ (window.getName(), "KORVA Manager - now"); // not touched off the message thread
    ASSERT_TRUE (runMessageLoopUntil ([&] { return window.getName() == "KORVA Manager (busy)"; }));
}

} // namespace korva
