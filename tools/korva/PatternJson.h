#pragma once

// The decoded pattern record as JSON, every field by its name, step words
// unpacked into their fields: for people reading a pattern and for tests.

#include "core/patterns/PatternRecord.h"

#include <juce_core/juce_core.h>

namespace korva
{

namespace tool
{

juce::var patternToJson (const korva::PatternRecord& record);

// JSON text in which arrays of numbers and small objects keep to one line.
juce::String formatJson (const juce::var& value);

} // namespace tool

} // namespace korva
