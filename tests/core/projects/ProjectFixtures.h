#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace korva
{

namespace test
{
// A project header block: magic, name at offset 4, `patterns` bits set in the bitmaps.
juce::MemoryBlock projectHeader (const juce::String& name, int patterns);
// A pattern block: "seq3" and a recognisable fill byte.
juce::MemoryBlock patternBlock (int fill);
// A whole .prj image: header plus `patterns` pattern blocks.
juce::MemoryBlock projectFile (const juce::String& name, int patterns);
// A project-info response payload.
struct DeviceProject
{
    int index;
    int patterns;
    const char* name;
};
juce::MemoryBlock projectInfo (const std::vector<DeviceProject>& projects, int projectRoom, int patternRoom,
                               int current);
} // namespace test

} // namespace korva
