#include "tests/core/projects/ProjectFixtures.h"

#include <algorithm>
#include <cstring>

namespace korva
{

namespace test
{
juce::MemoryBlock projectHeader (const juce::String& name, int patterns)
{
    juce::MemoryBlock block (4096, true);
    auto* b = static_cast<juce::uint8*> (block.getData());
    b[0] = 0x83;
    b[1] = 0x49;
    const auto utf8 = name.toRawUTF8();
    for (size_t i = 0; i < 33 && utf8[i] != 0; ++i)
        b[4 + i] = (juce::uint8) utf8[i];
    for (int bit = 0; bit < patterns; ++bit)
    {
        const int k = bit / 64, inMap = bit % 64;
        b[44 + 232 * k + inMap / 8] |= (juce::uint8) (1 << (inMap % 8));
    }
    return block;
}

juce::MemoryBlock patternBlock (int fill)
{
    juce::MemoryBlock block (4096, false);
    block.fillWith ((juce::uint8) fill);
    std::memcpy (block.getData(), "seq3", 4);
    return block;
}

juce::MemoryBlock projectFile (const juce::String& name, int patterns)
{
    auto file = projectHeader (name, patterns);
    for (int i = 0; i < patterns; ++i)
    {
        const auto block = patternBlock (i + 1);
        file.append (block.getData(), block.getSize());
    }
    return file;
}

juce::MemoryBlock projectInfo (const std::vector<DeviceProject>& projects, int projectRoom, int patternRoom,
                               int current)
{
    juce::MemoryBlock payload;
    const auto add = [&payload] (int v) {
        const auto byte = (juce::uint8) v;
        payload.append (&byte, 1);
    };
    add ((int) projects.size());
    for (const auto& p : projects)
    {
        add (p.index);
        add (p.patterns >> 8);
        add (p.patterns & 0xFF);
        juce::uint8 name[33] = {};
        std::memcpy (name, p.name, std::min<size_t> (std::strlen (p.name), 32)); // NUL-terminated
        payload.append (name, 33);
    }
    add (projectRoom);
    add (patternRoom >> 8);
    add (patternRoom & 0xFF);
    add (current);
    return payload;
}
} // namespace test

} // namespace korva
