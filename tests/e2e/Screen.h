#pragma once

// What the user sees, read back from the X server: the screen's pixels under
// a window, and the tools to judge them with tolerance. The expectations are
// derived in the tests (colours, areas, text drawn the way the program draws
// it), never golden images that break on another machine's font rendering.

#include "tests/support/XdndPeers.h"

#include <juce_graphics/juce_graphics.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace korva::test::e2e
{
// The screen's pixels in an area of the root window, windows on top included
// (a bare X server has no compositor: this is what is on the glass). A null
// image when the area cannot be read.
juce::Image grabScreen (const x11::Bounds& area);

juce::Colour averageColour (const juce::Image& image, juce::Rectangle<int> area);
// The highest of the three channels over the area, 0 .. 255.
int brightest (const juce::Image& image, juce::Rectangle<int> area);
// How many pixels of the area differ from its most common colour by more than
// `threshold` (sum of the three channel differences): the ink of text or
// drawing on a plain background.
int countInk (const juce::Image& image, juce::Rectangle<int> area, int threshold = 60);

// The mean difference per channel (0 .. 255) between an area of `image` and
// `expected`, which has the area's size.
double meanDifference (const juce::Image& image, juce::Rectangle<int> area, const juce::Image& expected);

// One line of text as the program's pages draw it: Graphics::drawText into a
// box, clipped with an ellipsis, in the program's interface typeface.
struct TextLook
{
    float height = 15.0f;
    juce::Colour colour = juce::Colours::black;
    juce::Colour background = juce::Colours::white;
    juce::Justification justification = juce::Justification::centredLeft;
    bool bold = false;
};

juce::Image drawnText (const juce::String& text, const TextLook& look, int width, int height);

// The area (where the program draws into a box of that size) shows `text`:
// it differs little from the text drawn here, and less than from each of the
// `others` (texts it could be confused with, which proves the comparison can
// tell them apart).
::testing::AssertionResult showsText (const juce::Image& image, juce::Rectangle<int> area, const TextLook& look,
                                      const juce::String& text, std::initializer_list<juce::String> others);

// The buttons of a JUCE alert window, left to right, as centres in the
// window's coordinates. JUCE lines them up with their bottoms at 95 % of the
// window's height; they are found by their bluish grey along that row.
std::vector<juce::Point<int>> alertButtons (const juce::Image& dialog);

// The white editor field of a JUCE alert window (the widest run of white at
// its row), as a centre in the window's coordinates; nothing if there is none.
std::optional<juce::Point<int>> alertTextEditor (const juce::Image& dialog);

// The icon of a JUCE alert window, told by its colour on the box's left: the
// warning's red triangle or the information's blue circle.
enum class AlertIcon
{
    kNone,
    kWarning,
    kInformation
};
AlertIcon alertIcon (const juce::Image& dialog);

bool saveAsPng (const juce::Image& image, const juce::File& file);
} // namespace korva::test::e2e
