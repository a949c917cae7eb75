#include "core/infra/VarUtility.h"

#include "core/infra/Diagnostics.h"

namespace korva
{

namespace infra
{

void VarUtility::fromVar (juce::String& dst, const juce::var& src)
{
    if (INFRA_VERIFY ("infra::VarUtility::fromVar", src.isString()))
        dst = src.toString();
}

namespace detail
{
juce::StringArray enumeratorNames (const char* text)
{
    juce::StringArray tokens;
    tokens.addTokens (juce::String (text), " \t\r\n", "\"");
    tokens.removeEmptyStrings();

    juce::StringArray names;
    for (auto token : tokens)
    {
        token = token.upToFirstOccurrenceOf (",", false, false);
        token = token.removeCharacters (" \r\n\t");
        if (token.isNotEmpty())
            names.add (token);
    }
    return names;
}

void reportEmptyEnumeratorList (const char* functionName)
{
    logPrintf ("%s - %s", functionName, "0<sa.size()");
}
} // namespace detail

} // namespace infra

} // namespace korva
