#include "gui/shell/MainContentComponent.h"
#include "gui/shell/TabBar.h"
#include "gui/widgets/FlashingMessage.h"
#include "tests/support/MessageLevelKorva.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

namespace
{
class BlankPage final : public View
{
public:
    using View::View;
};

struct Content : ::testing::Test
{
    HidSequenceManager sequencer;
    MessageLevelKorva korva { sequencer };
    std::unique_ptr<MainContentComponent> content;
    std::vector<std::pair<juce::String, juce::String>> boxes;

    void SetUp() override
    {
        sequencer.setTransport (&korva);
        content = std::make_unique<MainContentComponent> (
            sequencer, MainContentComponent::Pages { new BlankPage ("ProjectView"), new BlankPage ("PatternView"),
                                                     new BlankPage ("AboutPage") });
        content->showMessage = [this] (const juce::String& title, const juce::String& text) {
            boxes.emplace_back (title, text);
        };
    }
    void TearDown() override { content.reset(); }
};
} // namespace

TEST_F (Content, LaysOutTabsPageAndLamp)
{
    EXPECT_EQ (content->getBounds(), juce::Rectangle<int> (0, 0, 835, 410));
    EXPECT_EQ (content->getTabBar()->getBounds(), juce::Rectangle<int> (10, 10, 300, 32));
    EXPECT_EQ (content->getCurrentView()->getBounds(), juce::Rectangle<int> (10, 42, 815, 348));
    EXPECT_EQ (content->getLamp().getBounds(), juce::Rectangle<int> (730, 21, 10, 10));
    EXPECT_EQ (content->getLamp().getName(), "activeIndicator");
    EXPECT_EQ (content->getCurrentViewName().toString(), "ProjectView");
}

TEST_F (Content, PluggingInLightsTheLampAndAsksForTheVersion)
{
    FlashingMessage::getInstance()->setMessage ("old news");
    juce::StringArray ids { "KORVA" };
    sequencer.onHidConnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return content->getLamp().isOn(); }));
    EXPECT_TRUE (FlashingMessage::getInstance()->getMessage().isEmpty());
    EXPECT_TRUE (waitUntil ([&] { return korva.count (HidSequenceManager::kVersionInfo) == 1; }));

    sequencer.onHidDisconnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! content->getLamp().isOn(); }));
}

TEST_F (Content, CommunicationErrorsAreReportedByDataType)
{
    struct Case
    {
        int dataType, result;
        const char* title; // nullptr: no box
        const char* status; // nullptr: no status line
    };
    const Case cases[] = {
        { 0x00, 7, nullptr, "Get Project Info | Communication Error (0007)" },
        { 0x01, 3, "Delete Project", nullptr },
        { 0x02, 3, "Rename Project", nullptr },
        { 0x03, 9, nullptr, nullptr }, // project transfers: the project page's
        { 0x04, 9, nullptr, nullptr },
        { 0x05, 4, nullptr, nullptr },
        { 0x30, 9, nullptr, "Get Pattern Info | Communication Error (0009)" },
        { 0x31, 11, "", nullptr },
        { 0x33, 5, "", nullptr },
        { 0x80, 7, "", nullptr },
        { 0x81, 3, nullptr, nullptr },
        { 0x42, 3, nullptr, nullptr },
    };
    for (const auto& c : cases)
    {
        boxes.clear();
        FlashingMessage::getInstance()->setMessage ({});
        content->receiveErrorOccurred ((juce::uint8) c.dataType, (HidDeviceManager::eResult) c.result);
        const auto code = "Communication Error (" + juce::String::formatted ("%04d", c.result) + ")";
        if (c.title != nullptr)
        {
            ASSERT_EQ (boxes.size(), 1u) << c.dataType;
            EXPECT_EQ (boxes[0].first, c.title);
            EXPECT_EQ (boxes[0].second, code);
        }
        else
        {
            EXPECT_TRUE (boxes.empty()) << c.dataType;
        }
        EXPECT_EQ (FlashingMessage::getInstance()->getMessage(), c.status != nullptr ? c.status : "") << c.dataType;
    }
}

TEST_F (Content, ErrorsFromTheSequencerThreadArriveOnTheMessageThread)
{
    std::thread sequencerThread ([&] { content->sendErrorOccurred (0x02, HidDeviceManager::kSendStartAckTimeout); });
    sequencerThread.join();
    EXPECT_TRUE (boxes.empty());
    ASSERT_TRUE (runMessageLoopUntil ([&] { return ! boxes.empty(); }));
    EXPECT_EQ (boxes[0], (std::pair<juce::String, juce::String> ("Rename Project", "Communication Error (0003)")));
}

TEST_F (Content, OnlyAMissingVersionAnswerAsksForAFirmwareUpgrade)
{
    content->getVersionInfoResponsed (1000);
    EXPECT_TRUE (boxes.empty());
    content->getVersionInfoResponsed (2004);
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].first, "");
    EXPECT_EQ (boxes[0].second, "Please upgrade the firmware of KORVA.");
}

TEST_F (Content, ConnectionTextIsDrawnInItsColour)
{
    const auto countPixels = [&] (juce::uint32 argb) {
        const auto image = content->createComponentSnapshot ({ 835 - 90, 16, 80, 20 }, false, 1.0f);
        int n = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                n += image.getPixelAt (x, y).getARGB() == argb;
        return n;
    };
    EXPECT_GT (countPixels (0xFF969696), 5);
    EXPECT_EQ (countPixels (0xFFFFFFFF), 0);

    juce::StringArray ids { "KORVA" };
    sequencer.onHidConnected (ids);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return content->getLamp().isOn(); }));
    EXPECT_GT (countPixels (0xFFFFFFFF), 5);
}

} // namespace korva
