#include "core/projects/ProjectFileName.h"

namespace korva
{

namespace projectfilename
{

namespace
{
bool isDeviceName (const juce::String& stem)
{
    static const juce::StringArray kNames = []
    {
        juce::StringArray names { "CON", "PRN", "AUX", "NUL" };
        for (const char* port : { "COM", "LPT" })
        {
            for (int digit = 0; digit <= 9; ++digit)
                names.add (port + juce::String (digit));
            for (const juce::juce_wchar superscript : { 0xB9, 0xB2, 0xB3 })
                names.add (port + juce::String::charToString (superscript));
        }
        return names;
    }();
    return kNames.contains (stem, true);
}
} // namespace

juce::String mendForEverySystem (const juce::String& name)
{
    juce::String mended;
    for (const auto c : name)
        mended += (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) ? juce::String ("_") : juce::String::charToString (c);
    return mended;
}

juce::String mendForWindows (const juce::String& name)
{
    static const juce::String kNotInNames ("<>:\"/\\|?*");
    juce::String mended;
    for (const auto c : name)
        mended += (c < 0x20 || kNotInNames.containsChar (c))
                      ? juce::String ("_")
                      : juce::String::charToString (c);

    const int dot = mended.indexOfChar ('.');
    const auto stem = (dot < 0 ? mended : mended.substring (0, dot)).trimCharactersAtEnd (" ");
    if (isDeviceName (stem))
        mended = stem + "_" + mended.substring (stem.length());

    if (mended.isEmpty() || mended.endsWithChar ('.') || mended.endsWithChar (' '))
        mended << "_";
    return mended;
}

} // namespace projectfilename

} // namespace korva
