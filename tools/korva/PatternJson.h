#pragma once

// The decoded pattern record as JSON, every field by its name, step words
// unpacked into their fields: for people reading a pattern and for tests.

#include "patterns/PatternRecord.h"

#include <juce_core/juce_core.h>

namespace korvatool
{

juce::var patternToJson (const korva::PatternRecord& record);

// JSON text in which arrays of numbers and small objects keep to one line.
juce::String formatJson (const juce::var& value);

} // namespace korvatool
