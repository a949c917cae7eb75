#include "gui/widgets/AppLookAndFeel.h"

#include <gtest/gtest.h>

namespace korva
{

namespace
{
// Installs the application's look and feel as the default for one test.
struct WithAppLookAndFeel : ::testing::Test
{
    AppLookAndFeel laf;
    void SetUp() override
    {
        juce::LookAndFeel::setDefaultLookAndFeel (&laf);
        laf.setDefaultSansSerifTypefaceName (AppLookAndFeel::kInterfaceTypeface);
        juce::Typeface::clearTypefaceCache();
    }
    void TearDown() override
    {
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        juce::Typeface::clearTypefaceCache();
    }
};
} // namespace

TEST_F (WithAppLookAndFeel, InterfaceTypefaceResolvesToAnInstalledFamily)
{
    const auto family = AppLookAndFeel::resolvedInterfaceTypeface();
    ASSERT_TRUE (family.isNotEmpty());
    EXPECT_TRUE (juce::Font::findAllTypefaceNames().contains (family));

    const juce::Font named (AppLookAndFeel::kInterfaceTypeface, 13.0f, juce::Font::plain);
    const juce::Font byDefault (13.0f);
    EXPECT_EQ (named.getTypefacePtr()->getName(), family);
    EXPECT_EQ (byDefault.getTypefacePtr()->getName(), family);
}

TEST_F (WithAppLookAndFeel, ResolvedMetricsAreThoseOfTheRealFace)
{
    const auto family = AppLookAndFeel::resolvedInterfaceTypeface();
    const juce::Font named (AppLookAndFeel::kInterfaceTypeface, 13.0f, juce::Font::plain);
    const juce::Font real (family, 13.0f, juce::Font::plain);

    EXPECT_GT (named.getAscent(), 8.0f);
    EXPECT_GT (named.getDescent(), 1.0f);
    EXPECT_FLOAT_EQ (named.getAscent(), real.getAscent());
    EXPECT_FLOAT_EQ (named.getStringWidthFloat ("Not Connected"), real.getStringWidthFloat ("Not Connected"));

    // A face that draws glyphs has outlines for them.
    juce::GlyphArrangement glyphs;
    glyphs.addLineOfText (named, "N", 0.0f, 0.0f);
    EXPECT_FALSE (glyphs.getBoundingBox (0, -1, true).isEmpty());
}

TEST_F (WithAppLookAndFeel, FixedTextBoxesShowTheirTextsWhole)
{
    struct Case
    {
        const char* text;
        float height;
        bool bold;
        float boxWidth;
    };
    // Texts that the program draws into boxes of a fixed width.
    for (const auto& c : { Case { "Not Connected", 13.0f, false, 80.0f }, Case { "Connected", 13.0f, false, 80.0f },
                           Case { "Current Pattern", 15.0f, true, 110.0f }, Case { "Pattern", 15.0f, false, 50.0f },
                           Case { "Version", 16.0f, false, 90.0f } })
    {
        const juce::Font font (AppLookAndFeel::kInterfaceTypeface, c.height,
                               c.bold ? juce::Font::bold : juce::Font::plain);
        EXPECT_LE (font.getStringWidthFloat (c.text), c.boxWidth) << c.text;
        EXPECT_GT (font.getStringWidthFloat (c.text), c.boxWidth * 0.4f) << c.text;
    }
}

TEST_F (WithAppLookAndFeel, BoldStyleIsKept)
{
    const juce::Font bold (AppLookAndFeel::kInterfaceTypeface, 16.0f, juce::Font::bold);
    const juce::Font plain (AppLookAndFeel::kInterfaceTypeface, 16.0f, juce::Font::plain);
    EXPECT_GT (bold.getStringWidthFloat ("PROJECT"), plain.getStringWidthFloat ("PROJECT"));
}

} // namespace korva
