#pragma once

// Objects with registered fields (and registered sub-objects) that turn into
// a value tree and back.

#include "core/infra/Diagnostics.h"

#include <juce_data_structures/juce_data_structures.h>

namespace korva
{

namespace infra
{

class ValueTreeConvertible : public ExistenceConfirmable
{
public:
    enum Result
    {
        kOK = 0,
        kInvalidValues = 1,
        kSourceWarning2 = 2,
        kSourceWarning4 = 4,
        kSourceRefused = 8
    };

    struct LoadOptions
    {
        bool proceedOn4 = true;
        bool proceedOn2 = false;
        bool recursive = true;
        int reserved1 = -1;
        int reserved2 = -1;
    };

    // One stored field. Classes usually define these locally in their constructor.
    class IFunction : public juce::SingleThreadedReferenceCountedObject
    {
    public:
        explicit IFunction (ValueTreeConvertible* owner) : m_owner (owner) {}
        ~IFunction() override = default;

        virtual void fromValueTree (const juce::ValueTree& tree) = 0; // a missing property changes nothing
        virtual void toValueTree (juce::ValueTree& tree) = 0;
        virtual void reset() = 0;
        virtual void copyFrom (const ValueTreeConvertible* source) = 0;
        virtual void toString (juce::String& text) const = 0;

    protected:
        ValueTreeConvertible* const m_owner;
    };

    explicit ValueTreeConvertible (const juce::Identifier& typeName) : m_typeName (typeName) {}
    virtual ~ValueTreeConvertible() = default;

    virtual int checkSource (const juce::ValueTree&, const LoadOptions&) { return kOK; }
    virtual bool isOmitted() const { return false; }
    virtual void onFromValueTree (const juce::ValueTree&, const LoadOptions&) {}
    virtual void onToValueTree (juce::ValueTree&) {}
    virtual void onReset() {}
    virtual void onCopyFrom (const ValueTreeConvertible&) {}
    virtual void onUnusedHook (int, int) {}
    virtual bool isValid() const { return true; }

    int fromValueTree (const juce::ValueTree& tree, const LoadOptions& options);
    juce::ValueTree toValueTree (bool recursive);
    void reset (bool recursive);
    void copyFrom (const ValueTreeConvertible& source, bool recursive);

    // Diagnostics: one "name = value" line per field.
    juce::String toString() const;

    const juce::Identifier& getTypeName() const noexcept { return m_typeName; }

protected:
    void addField (IFunction* field) { m_fields.add (field); }
    void addSubObject (ValueTreeConvertible* sub) { m_subObjects.add (sub); }

private:
    juce::Identifier m_typeName;
    juce::ReferenceCountedArray<IFunction> m_fields;
    juce::Array<ValueTreeConvertible*> m_subObjects;
};

} // namespace infra

} // namespace korva
