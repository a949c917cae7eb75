#pragma once

#include <juce_core/juce_core.h>

namespace korva
{

namespace infra
{

struct VarUtility
{
    // dst takes src's text when src holds a string; otherwise a report and no change.
    static void fromVar (juce::String& dst, const juce::var& src);
};

// Names of an enum's enumerators, for diagnostics. The list is made once per
// enum type from the text that declares it: "kA, kB, kC".
template <typename E>
class EnumUtility
{
public:
    static void createIdentifierList (const char* text);

    static const juce::Array<juce::Identifier>& getIdentifierList (const char* text)
    {
        const juce::ScopedLock lock (state().lock);
        if (state().names.isEmpty())
            fill (text);
        return state().names;
    }

    static juce::String getName (E value, const char* text)
    {
        const auto& names = getIdentifierList (text);
        const int index = static_cast<int> (value);
        return juce::isPositiveAndBelow (index, names.size()) ? names.getReference (index).toString() : juce::String();
    }

private:
    struct State
    {
        juce::CriticalSection lock;
        juce::Array<juce::Identifier> names;
    };

    static State& state()
    {
        static State s;
        return s;
    }

    static void fill (const char* text);
};

namespace detail
{
// Splits at white space (quoted parts kept together) and keeps the part of
// each token before its first comma, without blanks. Empty when no tokens.
juce::StringArray enumeratorNames (const char* text);
void reportEmptyEnumeratorList (const char* functionName);
} // namespace detail

template <typename E>
void EnumUtility<E>::createIdentifierList (const char* text)
{
    const juce::ScopedLock lock (state().lock);
    fill (text);
}

template <typename E>
void EnumUtility<E>::fill (const char* text)
{
    const auto names = detail::enumeratorNames (text);
    if (names.isEmpty())
    {
        detail::reportEmptyEnumeratorList ("infra::EnumUtility::createIdentifierList");
        return;
    }
    state().names.clearQuick();
    for (const auto& name : names)
        state().names.add (juce::Identifier (name));
}

} // namespace infra

} // namespace korva
