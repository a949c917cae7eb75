#pragma once

#include <juce_core/juce_core.h>

namespace infra
{

struct FileTools
{
    // Creates dir and every missing ancestor. The flag has no effect.
    static bool createParents (const juce::File& dir, bool flag = false);

    // Makes sure the file exists afresh: a directory when its name has no
    // extension, otherwise an empty file (an existing one is deleted first).
    static bool createAnyhow (const juce::File& file, bool flag = false);
};

} // namespace infra
