#pragma once

// Where things are in KORVA Manager's window, and how the tests tell what it
// shows. Positions are the window's (its content is 835 x 410; the tabs sit
// at (10, 10), 100 pixels each; the page below them at (10, 42)); each one is
// taken from the page's layout as a user would point at it.

#include "gui/pages/ProjectTableModels.h"
#include "tests/e2e/Desktop.h"

#include <cstdlib>

namespace korva::test::e2e::ui
{
const juce::Point<int> projectTab { 60, 26 }, patternTab { 160, 26 }, aboutTab { 260, 26 };

// Above the pages: the lamp, its text, the blinking status line.
const juce::Rectangle<int> lamp { 730, 21, 10, 10 };
const juce::Rectangle<int> connectionText { 745, 16, 80, 20 };
const juce::Rectangle<int> statusLine { 335, 390, 490, 20 };
const juce::Colour windowBackground { 0xFF191919 };
const juce::Colour pageBackground { 0xFFC8C8C8 };

// PROJECT: the two tables (rows of 21 pixels below a 23-pixel header), their
// buttons, the arrows between them, the folder button, the capacity lines.
inline juce::Point<int> korvaRow (int row)
{
    return { 100, 115 + 21 * row };
}
inline juce::Point<int> pcRow (int row)
{
    return { 500, 115 + 21 * row };
}
inline juce::Rectangle<int> korvaRowName (int row)
{
    return { 28, 106 + 21 * row, 220, 19 };
}
inline juce::Rectangle<int> pcRowName (int row)
{
    return { 423, 106 + 21 * row, 220, 19 };
}
constexpr int kVisibleRows = 10;
const juce::Point<int> korvaRename { 245, 333 }, korvaDelete { 320, 333 }, pcRename { 700, 333 }, pcDelete { 775, 333 };
const juce::Point<int> importArrow { 389, 175 }, exportArrow { 389, 233 }, folderButton { 798, 64 };
const juce::Rectangle<int> projectCapacity { 325, 345, 40, 20 };
const juce::Point<int> blankOfProjectPage { 600, 370 };

// PATTERN (its content at (50, 82), 735 x 268): the current pattern's numbers,
// the MIDI file icon to drag, the drop area.
const juce::Rectangle<int> patternArea { 50, 82, 735, 268 };
const juce::Rectangle<int> trackNumber { 345, 162, 30, 20 }, patternNumber { 345, 182, 30, 20 };
const juce::Point<int> fileIcon { 371, 265 }, dropArea { 600, 182 };
// The notice after a drop that lost notes: the foot of it, above the drop
// side's Length, in its pale yellow.
const juce::Point<int> dropNoticeFoot { 600, 268 };
const juce::Colour noticeBackground { 0xFFFFF8D6 };

// ABOUT: the version, the Manual button.
const juce::Rectangle<int> version { 155, 122, 200, 50 };
const juce::Point<int> manualButton { 82, 97 };

//==============================================================================
// The lamp is red when lit and a dark brown when not.
inline bool lampLit (const juce::Image& shot)
{
    return averageColour (shot, lamp).getRed() > 170;
}
inline bool lampDark (const juce::Image& shot)
{
    const auto c = averageColour (shot, lamp);
    return c.getRed() < 140 && c.getRed() > 40;
}

inline ::testing::AssertionResult showsConnected (const juce::Image& shot)
{
    return showsText (shot, connectionText, { 13.0f, juce::Colours::white, windowBackground }, "Connected",
                      { "Not Connected" });
}
inline ::testing::AssertionResult showsNotConnected (const juce::Image& shot)
{
    return showsText (shot, connectionText, { 13.0f, juce::Colour (0xFF969696), windowBackground }, "Not Connected",
                      { "Connected" });
}

// A row shows selected in the lists' highlight, seen at the end of its name
// column, where names seldom reach.
inline bool rowSelected (const juce::Image& shot, juce::Rectangle<int> rowName)
{
    const auto seen = averageColour (shot, rowName.removeFromRight (6).reduced (0, 4));
    const juce::Colour highlight (ProjectTableModel::kSelectedRowColour);
    return std::abs (seen.getRed() - highlight.getRed()) + std::abs (seen.getGreen() - highlight.getGreen())
               + std::abs (seen.getBlue() - highlight.getBlue())
           < 30;
}

// Rows with something written in their name column, counted from the top.
inline int rowsShown (const juce::Image& shot, juce::Rectangle<int> (*rowName) (int))
{
    int rows = 0;
    while (rows < kVisibleRows && countInk (shot, rowName (rows)) >= 8)
        ++rows;
    return rows;
}
inline int korvaRows (const juce::Image& shot)
{
    return rowsShown (shot, korvaRowName);
}
inline int pcRows (const juce::Image& shot)
{
    return rowsShown (shot, pcRowName);
}
} // namespace korva::test::e2e::ui
