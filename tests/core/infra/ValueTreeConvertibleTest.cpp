#include "core/infra/ValueTreeConvertible.h"
#include "core/infra/VarUtility.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;
using infra::ValueTreeConvertible;

namespace
{
// A small settings object: one text field, optionally sub-objects.
class Setting : public ValueTreeConvertible
{
public:
    Setting (const juce::Identifier& type, juce::String defaultValue)
        : ValueTreeConvertible (type), m_default (std::move (defaultValue)), value (m_default)
    {
        struct Field final : IFunction
        {
            explicit Field (Setting* owner) : IFunction (owner) {}
            Setting& self() const { return *static_cast<Setting*> (m_owner); }
            void fromValueTree (const juce::ValueTree& tree) override
            {
                if (tree.hasProperty ("value"))
                    infra::VarUtility::fromVar (self().value, tree["value"]);
            }
            void toValueTree (juce::ValueTree& tree) override { tree.setProperty ("value", self().value, nullptr); }
            void reset() override { self().value = self().m_default; }
            void copyFrom (const ValueTreeConvertible* source) override
            {
                if (auto* p = dynamic_cast<const Setting*> (source))
                    self().value = p->value;
            }
            void toString (juce::String& text) const override { text << "value = " << self().value << "\n"; }
        };
        addField (new Field (this));
    }

    void add (Setting& sub) { addSubObject (&sub); }

    int sourceAnswer = kOK;
    bool valid = true;
    int checkSource (const juce::ValueTree&, const LoadOptions&) override { return sourceAnswer; }
    bool isValid() const override { return valid; }

    juce::String m_default;
    juce::String value;
};
} // namespace

TEST (ValueTreeConvertible, ToAndFromTreeWithSubObjects)
{
    Setting root ("Root", "r"), a ("A", "a"), b ("B", "b");
    root.add (a);
    root.add (b);
    root.value = "R1";
    a.value = "A1";
    b.value = "B1";

    const auto tree = root.toValueTree (true);
    EXPECT_EQ (tree.getType().toString(), "Root");
    ASSERT_EQ (tree.getNumChildren(), 2);
    EXPECT_EQ (tree.getChild (0).getType().toString(), "A");
    EXPECT_EQ (tree.getChild (1)["value"].toString(), "B1");

    Setting root2 ("Root", "r"), a2 ("A", "a"), b2 ("B", "b");
    root2.add (a2);
    root2.add (b2);
    EXPECT_EQ (root2.fromValueTree (tree, {}), ValueTreeConvertible::kOK);
    EXPECT_EQ (root2.value, "R1");
    EXPECT_EQ (a2.value, "A1");
    EXPECT_EQ (b2.value, "B1");
    EXPECT_EQ (root2.toString(), "value = R1\n");
}

TEST (ValueTreeConvertible, MissingChildResetsItsSubObject)
{
    Setting root ("Root", "r"), a ("A", "default-a");
    root.add (a);
    a.value = "changed";

    juce::ValueTree tree ("Root");
    tree.setProperty ("value", "x", nullptr);
    EXPECT_EQ (root.fromValueTree (tree, {}), ValueTreeConvertible::kOK);
    EXPECT_EQ (a.value, "default-a");
}

TEST (ValueTreeConvertible, SourceChecksDecideWhetherToLoad)
{
    struct Case
    {
        int answer;
        bool loads;
    };
    for (const auto c : { Case { 8, false }, Case { 2, false }, Case { 4, true }, Case { 0, true } })
    {
        Setting s ("S", "d");
        s.value = "before";
        s.sourceAnswer = c.answer;
        juce::ValueTree tree ("S");
        tree.setProperty ("value", "loaded", nullptr);
        EXPECT_EQ (s.fromValueTree (tree, {}), c.answer);
        EXPECT_EQ (s.value, c.loads ? "loaded" : "before") << c.answer;
    }

    Setting invalid ("S", "d");
    invalid.valid = false;
    EXPECT_EQ (invalid.fromValueTree (juce::ValueTree ("S"), {}), ValueTreeConvertible::kInvalidValues);
}

TEST (ValueTreeConvertible, DeadSubObjectsAreReportedAndDropped)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;

    Setting root ("Root", "r");
    auto gone = std::make_unique<Setting> ("Gone", "g");
    root.add (*gone);
    gone.reset();

    EXPECT_EQ (root.toValueTree (true).getNumChildren(), 0);
    EXPECT_TRUE (capture.contains ("infra::ValueTreeConvertible::toValueTree - QVS_EXISTS (sub)"));

    capture.clear();
    root.reset (true); // already dropped: nothing more to report
    EXPECT_TRUE (capture.lines().empty());
}

TEST (ValueTreeConvertible, CopyStopsAtAMissingSourceSubObject)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;

    Setting src ("Root", "r"), srcA ("A", "a");
    src.add (srcA);
    src.value = "copied";
    srcA.value = "copied-a";

    Setting dst ("Root", "r"), dstA ("A", "a"), dstB ("B", "b");
    dst.add (dstA);
    dst.add (dstB);
    dst.copyFrom (src, true);

    EXPECT_EQ (dst.value, "copied");
    EXPECT_EQ (dstA.value, "copied-a");
    EXPECT_EQ (dstB.value, "b");
    EXPECT_TRUE (capture.contains ("infra::ValueTreeConvertible::copyFrom - QVS_EXISTS (src_sub)"));
}

} // namespace korva
