#pragma once

// The per-page look-and-feel classes. Each keeps the framework's version-3
// appearance and changes only the drawing routines its page needs.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace korva
{

namespace colours
{
constexpr juce::uint32 kPageBackground = 0xFFC8C8C8;
constexpr juce::uint32 kPageBorder = 0xFF007DE1;
constexpr juce::uint32 kText = 0xFF000000;
constexpr juce::uint32 kDisabled = 0xFF7D7D7D;
constexpr juce::uint32 kButtonFill = 0xFF646464;
constexpr juce::uint32 kButtonOutline = 0xFF252525;
constexpr juce::uint32 kArrowButton = 0xFF323232;
constexpr juce::uint32 kSelectedRow = 0xFFADD8E6;
constexpr juce::uint32 kHeaderPressed = 0x8899AADD;
constexpr juce::uint32 kHeaderHovered = 0x5599AADD;
constexpr juce::uint32 kSortArrow = 0x99000000;
constexpr juce::uint32 kProgressBar = 0xFF3264FF;
constexpr juce::uint32 kImageOverlay = 0x0FFFFFFF;
} // namespace colours

// A page's background and frame, the frame left open under the page's own tab
// (`tabIndex`, tabs 100 pixels wide) so that tab and page read as one.
void paintPageFrame (juce::Graphics& g, juce::Rectangle<int> bounds, int tabIndex);

// The version-2 text layout of a text button (font from the look and feel's
// text-button font, indents from the button's corner size, up to two lines).
void drawVersion2ButtonText (juce::LookAndFeel& laf, juce::Graphics& g, juce::TextButton& button,
                             juce::Colour colour, juce::Justification justification);

class ProjectViewLookAndFeel final : public juce::LookAndFeel_V3
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool mouseOver,
                               bool buttonDown) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool mouseOver, bool buttonDown) override;
};

class AboutPageLookAndFeel final : public juce::LookAndFeel_V3
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool mouseOver,
                               bool buttonDown) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool mouseOver, bool buttonDown) override;
};

// Table headers. The device table greys its header out while no device is
// connected; the query is given by the owner (the sequencer's connection state).
class KorvaProjectListLookAndFeel final : public juce::LookAndFeel_V3
{
public:
    explicit KorvaProjectListLookAndFeel (std::function<bool()> isConnected) : m_isConnected (std::move (isConnected))
    {
    }

    void drawTableHeaderColumn (juce::Graphics&, juce::TableHeaderComponent&, const juce::String& columnName,
                                int columnId, int width, int height, bool mouseOver, bool mouseDown,
                                int columnFlags) override;

private:
    std::function<bool()> m_isConnected;
};

class PcProjectListLookAndFeel final : public juce::LookAndFeel_V3
{
public:
    void drawTableHeaderColumn (juce::Graphics&, juce::TableHeaderComponent&, const juce::String& columnName,
                                int columnId, int width, int height, bool mouseOver, bool mouseDown,
                                int columnFlags) override;
};

class PatternViewLookAndFeel final : public juce::LookAndFeel_V3
{
public:
    void drawComboBox (juce::Graphics&, int width, int height, bool buttonDown, int buttonX, int buttonY, int buttonW,
                       int buttonH, juce::ComboBox&) override;
    juce::Font getComboBoxFont (juce::ComboBox&) override { return juce::Font (15.0f); }
};

// One column of a table header, with the changes both tables share. An
// inactive one has no highlight, inset or sort arrow.
void drawProjectTableHeaderColumn (juce::Graphics& g, const juce::String& columnName, int width, int height,
                                   bool mouseOver, bool mouseDown, int columnFlags, bool active,
                                   juce::Colour textColour);

} // namespace korva
