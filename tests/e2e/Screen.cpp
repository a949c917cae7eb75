#include "tests/e2e/Screen.h"

#include "gui/widgets/AppLookAndFeel.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace korva::test::e2e
{
namespace
{
// One channel of a pixel through its mask, scaled to 0 .. 255.
juce::uint8 channel (unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    const auto maximum = mask >> shift;
    return (juce::uint8) (((pixel & mask) >> shift) * 255 / maximum);
}

int distance (juce::Colour a, juce::Colour b)
{
    return std::abs ((int) a.getRed() - (int) b.getRed()) + std::abs ((int) a.getGreen() - (int) b.getGreen())
           + std::abs ((int) a.getBlue() - (int) b.getBlue());
}

juce::Colour mostCommonColour (const juce::Image& image, juce::Rectangle<int> area)
{
    std::map<juce::uint32, int> counts;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            ++counts[image.getPixelAt (x, y).getARGB()];
    juce::uint32 best = 0;
    int bestCount = -1;
    for (const auto& [argb, count] : counts)
        if (count > bestCount)
        {
            best = argb;
            bestCount = count;
        }
    return juce::Colour (best);
}

juce::Rectangle<int> clipped (const juce::Image& image, juce::Rectangle<int> area)
{
    return area.getIntersection (image.getBounds());
}
} // namespace

juce::Image grabScreen (const x11::Bounds& area)
{
    if (area.width <= 0 || area.height <= 0)
        return {};
    Display* d = XOpenDisplay (nullptr);
    if (d == nullptr)
        return {};

    juce::Image result;
    if (XImage* shot = XGetImage (d, DefaultRootWindow (d), area.x, area.y, (unsigned int) area.width,
                                  (unsigned int) area.height, AllPlanes, ZPixmap))
    {
        result = juce::Image (juce::Image::RGB, area.width, area.height, false);
        juce::Image::BitmapData pixels (result, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x)
            {
                const auto p = XGetPixel (shot, x, y);
                pixels.setPixelColour (
                    x, y,
                    juce::Colour (channel (p, shot->red_mask), channel (p, shot->green_mask), channel (p, shot->blue_mask)));
            }
        XDestroyImage (shot);
    }
    XCloseDisplay (d);
    return result;
}

juce::Colour averageColour (const juce::Image& image, juce::Rectangle<int> area)
{
    area = clipped (image, area);
    if (area.isEmpty())
        return {};
    double r = 0, g = 0, b = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto c = image.getPixelAt (x, y);
            r += c.getRed();
            g += c.getGreen();
            b += c.getBlue();
        }
    const double n = (double) area.getWidth() * area.getHeight();
    return juce::Colour ((juce::uint8) std::lround (r / n), (juce::uint8) std::lround (g / n),
                         (juce::uint8) std::lround (b / n));
}

int brightest (const juce::Image& image, juce::Rectangle<int> area)
{
    area = clipped (image, area);
    int best = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto c = image.getPixelAt (x, y);
            best = std::max ({ best, (int) c.getRed(), (int) c.getGreen(), (int) c.getBlue() });
        }
    return best;
}

int countInk (const juce::Image& image, juce::Rectangle<int> area, int threshold)
{
    area = clipped (image, area);
    if (area.isEmpty())
        return 0;
    const auto background = mostCommonColour (image, area);
    int ink = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            ink += distance (image.getPixelAt (x, y), background) > threshold;
    return ink;
}

double meanDifference (const juce::Image& image, juce::Rectangle<int> area, const juce::Image& expected)
{
    if (! image.getBounds().contains (area) || expected.getWidth() != area.getWidth()
        || expected.getHeight() != area.getHeight() || area.isEmpty())
        return 255.0;
    double sum = 0;
    for (int y = 0; y < area.getHeight(); ++y)
        for (int x = 0; x < area.getWidth(); ++x)
            sum += distance (image.getPixelAt (area.getX() + x, area.getY() + y), expected.getPixelAt (x, y));
    return sum / (3.0 * area.getWidth() * area.getHeight());
}

juce::Image drawnText (const juce::String& text, const TextLook& look, int width, int height)
{
    juce::Image image (juce::Image::RGB, width, height, true);
    juce::Graphics g (image);
    g.fillAll (look.background);
    g.setColour (look.colour);
    g.setFont (juce::Font (AppLookAndFeel::resolvedInterfaceTypeface(), look.height,
                           look.bold ? juce::Font::bold : juce::Font::plain));
    g.drawText (text, 0, 0, width, height, look.justification, true);
    return image;
}

::testing::AssertionResult showsText (const juce::Image& image, juce::Rectangle<int> area, const TextLook& look,
                                      const juce::String& text, std::initializer_list<juce::String> others)
{
    // Anti-aliased glyphs may differ by a little here and there between two
    // renderings; a different text differs by whole glyphs.
    constexpr double kTolerance = 3.0;

    const double own = meanDifference (image, area, drawnText (text, look, area.getWidth(), area.getHeight()));
    auto result = own <= kTolerance ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
    result << "\"" << text << "\" differs by " << own;
    for (const auto& other : others)
    {
        const double theirs = meanDifference (image, area, drawnText (other, look, area.getWidth(), area.getHeight()));
        result << ", \"" << other << "\" by " << theirs;
        if (theirs <= own)
            result = ::testing::AssertionFailure() << "\"" << text << "\" (" << own << ") is no closer than \""
                                                   << other << "\" (" << theirs << ")";
    }
    return result;
}

std::vector<juce::Point<int>> alertButtons (const juce::Image& dialog)
{
    std::vector<juce::Point<int>> centres;
    if (! dialog.isValid())
        return centres;

    // JUCE's alert buttons are 28 pixels high; look along their middle.
    const int y = (int) std::floor (dialog.getHeight() * 0.95) - 14;
    if (y < 0)
        return centres;
    const juce::Rectangle<int> row (0, y, dialog.getWidth(), 1);
    const auto background = mostCommonColour (dialog, row);

    // Runs of the buttons' bluish grey, joined across the letters of a label;
    // a button is wider than a stray mark. The box's icon reaches down into
    // that row on the left, in red (warning) or yellow (question): not a button.
    const auto isButton = [&] (juce::Colour c) {
        return distance (c, background) > 24 && (int) c.getBlue() - (int) c.getRed() >= 6;
    };
    constexpr int kJoin = 12, kMinimumWidth = 30;
    int start = -1, last = -1;
    const auto close = [&] {
        if (start >= 0 && last - start + 1 >= kMinimumWidth)
            centres.push_back ({ (start + last) / 2, y });
        start = last = -1;
    };
    for (int x = 0; x < dialog.getWidth(); ++x)
    {
        if (! isButton (dialog.getPixelAt (x, y)))
            continue;
        if (start >= 0 && x - last > kJoin)
            close();
        if (start < 0)
            start = x;
        last = x;
    }
    close();
    return centres;
}

AlertIcon alertIcon (const juce::Image& dialog)
{
    // The icon is a tall shape on the box's left, in red or blue; a progress
    // bar, also blue, is a thin band across the box: it is told apart by the
    // rows its colour takes.
    int red = 0, blue = 0, redRows = 0, blueRows = 0;
    for (int y = 0; y < dialog.getHeight(); ++y)
    {
        int redInRow = 0, blueInRow = 0;
        for (int x = 0; x < dialog.getWidth() / 3; ++x)
        {
            const auto c = dialog.getPixelAt (x, y);
            const int r = c.getRed(), g = c.getGreen(), b = c.getBlue();
            redInRow += r - b > 40 && r - g > 25;
            blueInRow += b - r > 40 && b - g > 25;
        }
        red += redInRow;
        blue += blueInRow;
        redRows += redInRow > 0;
        blueRows += blueInRow > 0;
    }
    constexpr int kIconPixels = 100, kIconRows = 40; // an icon, not a stray mark or a bar
    if (red > kIconPixels && redRows >= kIconRows && red > 4 * blue)
        return AlertIcon::kWarning;
    if (blue > kIconPixels && blueRows >= kIconRows && blue > 4 * red)
        return AlertIcon::kInformation;
    return AlertIcon::kNone;
}

std::optional<juce::Point<int>> alertTextEditor (const juce::Image& dialog)
{
    if (! dialog.isValid())
        return std::nullopt;

    // Row by row, the widest run of pure white and where it is centred.
    struct Run
    {
        int width = 0, centre = 0;
    };
    std::vector<Run> rows ((size_t) dialog.getHeight());
    int widest = 0;
    for (int y = 0; y < dialog.getHeight(); ++y)
    {
        int run = 0;
        for (int x = 0; x < dialog.getWidth(); ++x)
        {
            run = dialog.getPixelAt (x, y).getARGB() == 0xFFFFFFFF ? run + 1 : 0;
            if (run > rows[(size_t) y].width)
                rows[(size_t) y] = { run, x - run / 2 };
        }
        widest = std::max (widest, rows[(size_t) y].width);
    }
    if (widest < dialog.getWidth() / 2)
        return std::nullopt;

    // The field is the band of rows that wide; its middle row is inside it.
    std::vector<int> band;
    for (int y = 0; y < dialog.getHeight(); ++y)
        if (rows[(size_t) y].width >= widest - 4)
            band.push_back (y);
    const int y = band[band.size() / 2];
    return juce::Point<int> { rows[(size_t) y].centre, y };
}

bool saveAsPng (const juce::Image& image, const juce::File& file)
{
    if (! image.isValid() || ! file.getParentDirectory().createDirectory())
        return false;
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    return out.openedOk() && png.writeImageToStream (image, out);
}
} // namespace korva::test::e2e
