// Draws the program's pictures into the "Resource" folder at build time, so
// the artwork lives in the repository as code rather than as binary files.
//
//   korva-resource-art OUTPUT_FOLDER          the four pictures of the "Resource" folder
//   korva-resource-art --icons OUTPUT_FOLDER  the application icon, SIZE/korva-manager.png

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace korva
{

namespace
{
bool save (const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat png;
    return out.openedOk() && png.writeImageToStream (image, out);
}

// A folder, seen from the front.
juce::Image folderButton()
{
    juce::Image image (juce::Image::ARGB, 48, 48, true);
    juce::Graphics g (image);
    juce::Path back;
    back.addRoundedRectangle (4.0f, 9.0f, 40.0f, 31.0f, 3.0f);
    back.addRoundedRectangle (4.0f, 6.0f, 17.0f, 8.0f, 2.0f);
    g.setColour (juce::Colour (0xFFD9A53A));
    g.fillPath (back);
    juce::Path front;
    front.addRoundedRectangle (4.0f, 15.0f, 40.0f, 25.0f, 3.0f);
    g.setGradientFill (juce::ColourGradient::vertical (juce::Colour (0xFFF6CF6A), 15.0f, juce::Colour (0xFFE4AE45), 40.0f));
    g.fillPath (front);
    g.setColour (juce::Colour (0xFF8A6420));
    g.strokePath (front, juce::PathStrokeType (1.0f));
    return image;
}

// The KORVA: a dark case with a display, knobs and the 4 x 4 pads.
juce::Image korvaPicture()
{
    const int w = 340, h = 200;
    juce::Image image (juce::Image::ARGB, w, h, true);
    juce::Graphics g (image);

    juce::Path body;
    body.addRoundedRectangle (6.0f, 10.0f, (float) w - 12.0f, (float) h - 20.0f, 14.0f);
    g.setGradientFill (juce::ColourGradient::vertical (juce::Colour (0xFF3A3D42), 10.0f, juce::Colour (0xFF1E2023), (float) h));
    g.fillPath (body);
    g.setColour (juce::Colour (0xFF0E0F10));
    g.strokePath (body, juce::PathStrokeType (2.0f));

    // display
    g.setColour (juce::Colour (0xFF101820));
    g.fillRoundedRectangle (24.0f, 28.0f, 120.0f, 44.0f, 4.0f);
    g.setColour (juce::Colour (0xFF63D2FF));
    g.setFont (juce::Font (juce::Font::getDefaultMonospacedFontName(), 18.0f, juce::Font::bold));
    g.drawText ("KORVA", 24, 28, 120, 44, juce::Justification::centred);

    // knobs
    for (int i = 0; i < 4; ++i)
    {
        const float cx = 36.0f + (float) i * 32.0f, cy = 104.0f;
        g.setColour (juce::Colour (0xFF5A5E66));
        g.fillEllipse (cx - 11.0f, cy - 11.0f, 22.0f, 22.0f);
        g.setColour (juce::Colour (0xFFE0E0E0));
        g.drawLine (cx, cy, cx + 6.0f, cy - 8.0f, 2.0f);
    }

    // transport buttons
    g.setColour (juce::Colour (0xFF2ECC71));
    g.fillRoundedRectangle (24.0f, 136.0f, 28.0f, 20.0f, 3.0f);
    g.setColour (juce::Colour (0xFFE74C3C));
    g.fillRoundedRectangle (60.0f, 136.0f, 28.0f, 20.0f, 3.0f);

    // pads
    const juce::uint32 padColours[] = { 0xFFFF8A3D, 0xFF63D2FF, 0xFF9B8CFF, 0xFF6BE08A };
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
        {
            const float x = 176.0f + (float) col * 38.0f, y = 26.0f + (float) row * 38.0f;
            g.setColour (juce::Colour (padColours[(row + col) % 4]).withAlpha (row == col ? 1.0f : 0.55f));
            g.fillRoundedRectangle (x, y, 32.0f, 32.0f, 5.0f);
        }
    return image;
}

// A MIDI file: a page with a folded corner and a few notes.
juce::Image smfFileIcon()
{
    const int w = 48, h = 60;
    juce::Image image (juce::Image::ARGB, w, h, true);
    juce::Graphics g (image);

    juce::Path page;
    page.startNewSubPath (4.0f, 2.0f);
    page.lineTo (32.0f, 2.0f);
    page.lineTo (44.0f, 14.0f);
    page.lineTo (44.0f, 58.0f);
    page.lineTo (4.0f, 58.0f);
    page.closeSubPath();
    g.setColour (juce::Colours::white);
    g.fillPath (page);
    g.setColour (juce::Colour (0xFF3264FF));
    g.strokePath (page, juce::PathStrokeType (2.0f));
    g.drawLine (32.0f, 2.0f, 32.0f, 14.0f, 2.0f);
    g.drawLine (32.0f, 14.0f, 44.0f, 14.0f, 2.0f);

    for (int i = 0; i < 3; ++i)
    {
        const float x = 10.0f + (float) i * 9.0f, y = 24.0f + (float) ((i * 7) % 12);
        g.fillRect (x, y, 7.0f, 4.0f);
    }
    g.setFont (juce::Font (12.0f, juce::Font::bold));
    g.drawText ("MIDI", 4, 40, 40, 14, juce::Justification::centred);
    return image;
}

// Where a file is dropped: a dashed frame and an arrow pointing into it.
juce::Image dropAreaIcon()
{
    const int w = 346, h = 200;
    juce::Image image (juce::Image::ARGB, w, h, true);
    juce::Graphics g (image);

    juce::Path frame;
    frame.addRoundedRectangle (8.0f, 8.0f, (float) w - 16.0f, (float) h - 16.0f, 16.0f);
    juce::Path dashed;
    const float dashes[] = { 14.0f, 9.0f };
    juce::PathStrokeType (4.0f).createDashedStroke (dashed, frame, dashes, 2);
    g.setColour (juce::Colour (0xFF7D7D7D));
    g.fillPath (dashed);

    juce::Path arrow;
    const float cx = (float) w * 0.5f;
    arrow.addRectangle (cx - 14.0f, 40.0f, 28.0f, 60.0f);
    arrow.addTriangle (cx - 40.0f, 100.0f, cx + 40.0f, 100.0f, cx, 150.0f);
    g.setColour (juce::Colour (0xFF3264FF));
    g.fillPath (arrow);
    return image;
}
// The application's icon: the KORVA's 4 x 4 pads on a dark rounded square.
juce::Image applicationIcon (int size)
{
    juce::Image image (juce::Image::ARGB, size, size, true);
    juce::Graphics g (image);
    const float s = (float) size;
    g.setColour (juce::Colour (0xFF26292E));
    g.fillRoundedRectangle (s * 0.04f, s * 0.04f, s * 0.92f, s * 0.92f, s * 0.18f);

    const juce::uint32 padColours[] = { 0xFFFF8A3D, 0xFF63D2FF, 0xFF9B8CFF, 0xFF6BE08A };
    const float cell = s * 0.84f / 4.0f, pad = cell * 0.78f;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
        {
            const float x = s * 0.08f + (float) col * cell + (cell - pad) * 0.5f;
            const float y = s * 0.08f + (float) row * cell + (cell - pad) * 0.5f;
            g.setColour (juce::Colour (padColours[(row + col) % 4]).withAlpha (row == col ? 1.0f : 0.6f));
            g.fillRoundedRectangle (x, y, pad, pad, pad * 0.2f);
        }
    return image;
}
} // namespace

int runProgram (int argc, char** argv)
{
    const bool icons = argc == 3 && juce::String (argv[1]) == "--icons";
    if (argc != 2 && ! icons)
    {
        std::cerr << "usage: korva-resource-art [--icons] OUTPUT_FOLDER\n";
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;
    const juce::File folder = juce::File::getCurrentWorkingDirectory().getChildFile (argv[argc - 1]);
    if (! folder.createDirectory())
    {
        std::cerr << "korva-resource-art: cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }

    if (icons)
    {
        bool ok = true;
        for (int size : { 16, 24, 32, 48, 64, 128, 256 })
        {
            const auto sizeFolder = folder.getChildFile (juce::String (size) + "x" + juce::String (size) + "/apps");
            ok = ok && sizeFolder.createDirectory() && save (applicationIcon (size), sizeFolder.getChildFile ("korva-manager.png"));
        }
        if (! ok)
            std::cerr << "korva-resource-art: cannot write the icons in " << folder.getFullPathName() << "\n";
        return ok ? 0 : 1;
    }

    const bool ok = save (folderButton(), folder.getChildFile ("folder_button.png"))
                    && save (korvaPicture(), folder.getChildFile ("korva_image.png"))
                    && save (smfFileIcon(), folder.getChildFile ("smf_file_icon.png"))
                    && save (dropAreaIcon(), folder.getChildFile ("drop_area_icon.png"));
    if (! ok)
        std::cerr << "korva-resource-art: cannot write the images in " << folder.getFullPathName() << "\n";
    return ok ? 0 : 1;
}

} // namespace korva

int main (int argc, char** argv)
{
    return korva::runProgram (argc, argv);
}
