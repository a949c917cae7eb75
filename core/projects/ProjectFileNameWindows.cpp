#include "core/projects/ProjectFileName.h"

namespace korva
{

namespace projectfilename
{

juce::String mendForThisSystem (const juce::String& name)
{
    return mendForWindows (mendForEverySystem (name));
}

} // namespace projectfilename

} // namespace korva
