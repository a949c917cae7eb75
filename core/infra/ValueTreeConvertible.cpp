#include "core/infra/ValueTreeConvertible.h"

namespace korva
{

namespace infra
{

int ValueTreeConvertible::fromValueTree (const juce::ValueTree& tree, const LoadOptions& options)
{
    int r = checkSource (tree, options);
    if (r == kSourceRefused || (r == kSourceWarning2 && ! options.proceedOn2)
        || (r == kSourceWarning4 && ! options.proceedOn4))
        return r;

    reset (true);

    for (auto* field : m_fields)
        field->fromValueTree (tree);

    onFromValueTree (tree, options);

    if (! isValid())
        r |= kInvalidValues;

    if (options.recursive)
    {
        for (int i = 0; i < m_subObjects.size();)
        {
            auto* sub = m_subObjects.getUnchecked (i);
            if (! INFRA_VERIFY ("infra::ValueTreeConvertible::fromValueTree", QVS_EXISTS (sub)))
            {
                m_subObjects.remove (i);
                continue;
            }

            const auto child = tree.getChildWithName (sub->getTypeName());
            if (child.isValid())
            {
                r |= sub->fromValueTree (child, options);
                if (r == kSourceRefused)
                    break;
            }
            else
            {
                sub->reset (options.recursive);
            }
            ++i;
        }
    }
    return r;
}

juce::ValueTree ValueTreeConvertible::toValueTree (bool recursive)
{
    if (isOmitted())
        return {};

    (void) isValid();

    juce::ValueTree tree (m_typeName);
    for (auto* field : m_fields)
        field->toValueTree (tree);
    onToValueTree (tree);

    if (recursive)
    {
        for (int i = 0; i < m_subObjects.size();)
        {
            auto* sub = m_subObjects.getUnchecked (i);
            if (! INFRA_VERIFY ("infra::ValueTreeConvertible::toValueTree", QVS_EXISTS (sub)))
            {
                m_subObjects.remove (i);
                continue;
            }

            auto child = sub->toValueTree (recursive);
            if (child.isValid())
                tree.addChild (child, i, nullptr);
            ++i;
        }
    }
    return tree;
}

void ValueTreeConvertible::reset (bool recursive)
{
    for (auto* field : m_fields)
        field->reset();
    onReset();

    if (recursive)
    {
        for (int i = 0; i < m_subObjects.size();)
        {
            auto* sub = m_subObjects.getUnchecked (i);
            if (! INFRA_VERIFY ("infra::ValueTreeConvertible::reset", QVS_EXISTS (sub)))
            {
                m_subObjects.remove (i);
                continue;
            }
            sub->reset (recursive);
            ++i;
        }
    }
}

void ValueTreeConvertible::copyFrom (const ValueTreeConvertible& source, bool recursive)
{
    for (auto* field : m_fields)
        field->copyFrom (&source);
    onCopyFrom (source);

    if (! recursive)
        return;

    for (int j = 0; j < m_subObjects.size();)
    {
        auto* dst_sub = m_subObjects.getUnchecked (j);
        if (! INFRA_VERIFY ("infra::ValueTreeConvertible::copyFrom", QVS_EXISTS (dst_sub)))
        {
            m_subObjects.remove (j);
            continue;
        }

        const ValueTreeConvertible* src_sub = j < source.m_subObjects.size() ? source.m_subObjects.getUnchecked (j)
                                                                              : nullptr;
        if (! INFRA_VERIFY ("infra::ValueTreeConvertible::copyFrom", QVS_EXISTS (src_sub)))
            return;

        dst_sub->copyFrom (*src_sub, recursive);
        ++j;
    }
}

juce::String ValueTreeConvertible::toString() const
{
    juce::String text;
    for (auto* field : m_fields)
        field->toString (text);
    return text;
}

} // namespace infra

} // namespace korva
