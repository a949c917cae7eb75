#include "core/projects/ProjectFileName.h"

namespace korva
{

namespace projectfilename
{

// Any other character may stand in a Linux file name.
juce::String mendForThisSystem (const juce::String& name)
{
    return mendForEverySystem (name);
}

} // namespace projectfilename

} // namespace korva
