#include "tools/korva/PatternJson.h"

#include <algorithm>

namespace korva
{

namespace tool
{

namespace
{

using namespace korva;

class JsonObject
{
public:
    JsonObject() : m_object (new juce::DynamicObject()) {}

    JsonObject& set (const char* name, const juce::var& value)
    {
        m_object->setProperty (name, value);
        return *this;
    }

    operator juce::var() const { return juce::var (m_object.get()); }

private:
    juce::DynamicObject::Ptr m_object;
};

template <typename T>
juce::var numbers (const T* values, int count)
{
    juce::Array<juce::var> list;
    for (int i = 0; i < count; ++i)
        list.add ((int)values[i]);
    return list;
}

// The magic may hold any bytes; each stands for the character of the same code.
juce::String magicText (const char (&magic)[4])
{
    juce::String text;
    for (char c : magic)
        text += juce::String::charToString ((juce::juce_wchar) (uint8_t)c);
    return text;
}

juce::var stepToJson (const StepBlock& block, int step)
{
    const uint32_t word = block.steps[step];

    juce::Array<juce::var> notes;
    for (const NoteSlot& slot : block.notes[step])
        notes.add (JsonObject().set ("note", slot.note).set ("velocity", slot.velocity).set ("length", slot.length));

    const StepMotion& motion = block.stepMotion[step];
    const juce::var motionJson = JsonObject()
                                     .set ("transposeCode", motion.transposeCode)
                                     .set ("repeatCode", motion.repeatCode)
                                     .set ("loopCode", motion.loopCode)
                                     .set ("nudge", numbers (motion.nudge, kNudgeCount));

    return JsonObject()
        .set ("index", step)
        .set ("enabled", stepword::enabled (word))
        .set ("tie", stepword::tie (word))
        .set ("ratioDen", stepword::ratioDen (word))
        .set ("ratioNum", stepword::ratioNum (word))
        .set ("tag", stepword::tag (word))
        .set ("glide", stepword::glide (word))
        .set ("noteMask", stepword::noteMask (word))
        .set ("ccMask", stepword::ccMask (word))
        .set ("subPositionMasks", numbers (block.subPositionMasks[step], kSubPositionCount))
        .set ("notes", notes)
        .set ("ccValues", numbers (block.ccValues[step], kLaneCount))
        .set ("stepMotion", motionJson);
}

juce::var settingsToJson (const PatternSettings& s)
{
    return JsonObject()
        .set ("grooveCurve", s.grooveCurve)
        .set ("grooveCycle", s.grooveCycle)
        .set ("grooveAmount", s.grooveAmount)
        .set ("swing", s.swing)
        .set ("arpEnabled", s.arpEnabled)
        .set ("arpOctaves", s.arpOctaves)
        .set ("arpGate", s.arpGate)
        .set ("arpRate", (juce::int64)s.arpRate)
        .set ("arpMode", (juce::int64)s.arpMode)
        .set ("scaleType", s.scaleType)
        .set ("scaleRoot", s.scaleRoot)
        .set ("probability", s.probability)
        .set ("probabilityEnabled", s.probabilityEnabled)
        .set ("resyncEnabled", s.resyncEnabled)
        .set ("resyncSteps", s.resyncSteps)
        .set ("stepOrder", (juce::int64)s.stepOrder)
        .set ("linkReverse", s.linkReverse)
        .set ("linkEndFlag", s.linkEndFlag)
        .set ("patternOption", (juce::int64)s.patternOption)
        .set ("nextLinks", numbers (s.nextLinks, kStepCount))
        .set ("prevLinks", numbers (s.prevLinks, kStepCount));
}

bool isPrimitive (const juce::var& value)
{
    return !value.isArray() && !value.isObject();
}

bool isFlat (const juce::var& value)
{
    if (auto* array = value.getArray())
        return std::all_of (array->begin(), array->end(), isPrimitive);
    if (auto* object = value.getDynamicObject())
    {
        for (const auto& property : object->getProperties())
        {
            if (!isPrimitive (property.value) && !(property.value.isArray() && isFlat (property.value)))
                return false;
        }
    }
    return true;
}

// Compact but readable: an array of numbers, or a small object, stays on one line.
void format (const juce::var& value, int indent, juce::String& out)
{
    const juce::String inner = juce::String::repeatedString (" ", indent + 2);
    const bool oneLine = isFlat (value) && (value.isArray() || juce::JSON::toString (value, true).length() <= 100);

    if (auto* array = value.getArray())
    {
        out << "[";
        for (int i = 0; i < array->size(); ++i)
        {
            out << (i > 0 ? "," : "") << (oneLine ? (i > 0 ? " " : "") : "\n" + inner);
            format (array->getReference (i), indent + 2, out);
        }
        out << (oneLine || array->isEmpty() ? "" : "\n" + juce::String::repeatedString (" ", indent)) << "]";
        return;
    }
    if (auto* object = value.getDynamicObject())
    {
        out << "{";
        int i = 0;
        for (const auto& property : object->getProperties())
        {
            out << (i++ > 0 ? "," : "") << (oneLine ? " " : "\n" + inner);
            out << juce::JSON::toString (property.name.toString()) << ": ";
            format (property.value, indent + 2, out);
        }
        out << (oneLine ? " " : "\n" + juce::String::repeatedString (" ", indent)) << "}";
        return;
    }
    out << juce::JSON::toString (value, true);
}

} // namespace

juce::String formatJson (const juce::var& value)
{
    juce::String out;
    format (value, 0, out);
    return out;
}

juce::var patternToJson (const PatternRecord& record)
{
    const StepBlock& block = record.block;
    juce::Array<juce::var> steps;
    for (int step = 0; step < kStepCount; ++step)
        steps.add (stepToJson (block, step));

    return JsonObject()
        .set ("magic", magicText (record.magic))
        .set ("barCount", block.barCount)
        .set ("speed", block.speed)
        .set ("stepPresentMasks", numbers (block.stepPresentMasks, 4))
        .set ("steps", steps)
        .set ("settings", settingsToJson (record.settings));
}

} // namespace tool

} // namespace korva
