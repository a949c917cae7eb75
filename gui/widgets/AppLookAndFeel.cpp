#include "gui/widgets/AppLookAndFeel.h"

namespace korva
{

AppLookAndFeel::AppLookAndFeel() = default;

AppLookAndFeel::~AppLookAndFeel()
{
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == this)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}

juce::StringArray AppLookAndFeel::fallbackTypefaces()
{
    // Liberation Sans has Arial's metrics, close to Meiryo UI's Latin widths;
    // Noto Sans and DejaVu Sans are wider and only used when nothing else is there.
    return { "Liberation Sans", "Noto Sans", "DejaVu Sans" };
}

juce::String AppLookAndFeel::resolvedInterfaceTypeface()
{
    static const juce::String resolved = [] {
        const auto installed = juce::Font::findAllTypefaceNames();
        if (installed.contains (kInterfaceTypeface))
            return juce::String (kInterfaceTypeface);

        for (const auto& name : fallbackTypefaces())
            if (installed.contains (name))
                return name;

        return installed.isEmpty() ? juce::String() : installed[0];
    }();
    return resolved;
}

juce::Typeface::Ptr AppLookAndFeel::getTypefaceForFont (const juce::Font& font)
{
    const auto name = font.getTypefaceName();

    // JUCE on Linux does not substitute a missing family: it would draw with
    // some fallback face while reporting the metrics of none. Resolve it here.
    if (name == kInterfaceTypeface || name == juce::Font::getDefaultSansSerifFontName())
    {
        const auto family = resolvedInterfaceTypeface();
        if (family.isNotEmpty())
        {
            juce::Font resolved (font);
            resolved.setTypefaceName (family);
            return juce::Typeface::createSystemTypefaceFor (resolved);
        }
    }

    return juce::LookAndFeel_V3::getTypefaceForFont (font);
}

void AppLookAndFeel::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                      double progress, const juce::String& textToShow)
{
    // The version-2 bar, always in the application's blue.
    const auto background = bar.findColour (juce::ProgressBar::backgroundColourId);
    const juce::Colour foreground (0xFF3264FF);

    g.fillAll (background);

    if (progress >= 0.0 && progress < 1.0)
    {
        drawGlassLozenge (g, 1.0f, 1.0f, (float) juce::jlimit (0.0, width - 2.0, progress * (width - 2.0)),
                          (float) (height - 2), foreground, 0.5f, 0.0f, true, true, true, true);
    }
    else
    {
        drawMovingStripes (g, width, height, foreground);
    }

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colours::black);
        g.setFont ((float) height * 0.6f);
        g.drawText (textToShow, 0, 0, width, height, juce::Justification::centred, false);
    }
}

void drawMovingStripes (juce::Graphics& g, int width, int height, juce::Colour colour)
{
    if (width <= 0 || height <= 0)
        return;

    // Stripes as wide as two heights, leaning half a stripe, moving one pixel every 15 ms.
    const int stripeWidth = height * 2;
    const int position = static_cast<int> (juce::Time::getMillisecondCounter() / 15) % stripeWidth;

    juce::Path p;
    for (float x = (float) -position; x < (float) (width + stripeWidth); x += (float) stripeWidth)
        p.addQuadrilateral (x, 0.0f, x + (float) stripeWidth * 0.5f, 0.0f, x, (float) height,
                            x - (float) stripeWidth * 0.5f, (float) height);

    juce::Image im (juce::Image::ARGB, width, height, true);
    {
        juce::Graphics g2 (im);
        juce::LookAndFeel_V2::drawGlassLozenge (g2, 1.0f, 1.0f, (float) (width - 2), (float) (height - 2), colour,
                                                0.5f, 0.0f, true, true, true, true);
    }

    g.setColour (colour);
    g.setTiledImageFill (im, 0, 0, 0.85f);
    g.fillPath (p);
}

} // namespace korva
