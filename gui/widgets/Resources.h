#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// The folders that ship beside the executable: "Resource" (images) and
// "Manual" (the user's manual).
juce::File getResourceDirectory();
juce::File getManualDirectory();
juce::File getManualFile();

// The PNG image of that name in the resource folder (through the image
// cache), or a null image when the file is missing or not a ".png".
juce::Image loadResourceImage (const juce::String& fileName);

} // namespace korva
