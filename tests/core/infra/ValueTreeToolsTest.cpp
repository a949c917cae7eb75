#include "core/infra/ValueTreeTools.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;
using infra::StoreOptions;
using infra::ValueTreeTools;

namespace
{
juce::ValueTree sampleTree()
{
    juce::ValueTree tree ("DirectorySetting");
    tree.setProperty ("dataDirectory", "/home/user/MELDRA/KORVA", nullptr);
    tree.setProperty ("count", 42, nullptr);
    juce::ValueTree child ("Child");
    child.setProperty ("flag", true, nullptr);
    tree.addChild (child, -1, nullptr);
    return tree;
}

juce::MemoryBlock treeBytes (const juce::ValueTree& tree)
{
    juce::MemoryOutputStream out;
    tree.writeToStream (out);
    return out.getMemoryBlock();
}

StoreOptions options (bool gzip, bool blowfish)
{
    StoreOptions o;
    o.gzip = gzip;
    o.blowfish = blowfish;
    return o;
}

juce::MemoryBlock write (const juce::ValueTree& tree, const StoreOptions& o)
{
    juce::MemoryOutputStream out;
    EXPECT_TRUE (ValueTreeTools::valueTreeToStream (tree, out, o));
    return out.getMemoryBlock();
}

juce::ValueTree read (const juce::MemoryBlock& bytes)
{
    juce::MemoryInputStream in (bytes, false);
    return ValueTreeTools::streamToValueTree (in);
}

juce::MemoryBlock concat (const char* prefix, size_t prefixLength, const juce::MemoryBlock& rest)
{
    juce::MemoryBlock block (prefix, prefixLength);
    block.append (rest.getData(), rest.getSize());
    return block;
}
} // namespace

TEST (ValueTreeTools, EveryContainerVariantRoundTrips)
{
    struct Case
    {
        bool gzip, blowfish;
        const char* header;
    };
    for (const auto& c : { Case { false, false, "" }, Case { true, false, "vltrgzip" },
                           Case { false, true, "vltrfishnon " }, Case { true, true, "vltrfishgzip" } })
    {
        const auto bytes = write (sampleTree(), options (c.gzip, c.blowfish));
        const juce::String header (c.header);
        EXPECT_EQ (juce::String::fromUTF8 (static_cast<const char*> (bytes.getData()), header.length()), header);
        EXPECT_TRUE (read (bytes).isEquivalentTo (sampleTree())) << c.header;
    }
}

// Settings files stored enciphered must keep reading: the exact bytes of a
// tiny settings tree, worked out apart from the program. The tree bytes are
// the framework's: the type and property name zero-terminated, counts as
// compressed ints (01 01: one byte, 1), the value as a var (01 04: four bytes
// follow; 05: a string; "/K" 00), then no children (00). The cipher pads the
// 40 bytes with eight 08 to whole blocks and enciphers them with the built-in
// key as prepared (the formula of prepareKey over its first 72 letters), each
// block as two little-endian words; the cipher text was computed from those
// with another Blowfish implementation.
TEST (ValueTreeTools, EncipheredSettingsHaveTheirKnownBytes)
{
    juce::ValueTree tree ("DirectorySetting");
    tree.setProperty ("dataDirectory", "/K", nullptr);
    const auto plain =
        fromHex ("4469726563746F727953657474696E6700 0101 646174614469726563746F727900 010405 2F4B00 00");
    EXPECT_EQ (toHex (treeBytes (tree)), toHex (plain));

    const auto file = fromHex ("766C7472 66697368 6E6F6E20 " // "vltr" "fish" "non "
                               "679DBBEAD3684D71 90E8617AADF978BD 1F5096E30CD6DD83 "
                               "7537C4D4A4B882BF 67B973EE18A08675 788D95868DEDB833");
    EXPECT_EQ (toHex (write (tree, options (false, true))), toHex (file));
    EXPECT_TRUE (read (file).isEquivalentTo (tree));
}

TEST (ValueTreeTools, BareVariantIsExactlyTheTreeBytes)
{
    EXPECT_EQ (write (sampleTree(), StoreOptions (false)), treeBytes (sampleTree()));
}

TEST (ValueTreeTools, ReadableOnlyVariantIsRead)
{
    const auto bytes = concat ("vltrnon ", 8, treeBytes (sampleTree()));
    EXPECT_TRUE (read (bytes).isEquivalentTo (sampleTree()));
}

TEST (ValueTreeTools, UnknownTypeAfterFishIsReported)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;

    const auto bytes = concat ("vltrfishzzzz", 12, treeBytes (sampleTree()));
    EXPECT_FALSE (read (bytes).isValid());
    EXPECT_TRUE (capture.contains ("infra::ValueTreeTools::streamToValueTree - 1"));
}

TEST (ValueTreeTools, ShortHeadersAreReported)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;

    EXPECT_FALSE (read (juce::MemoryBlock ("vlt", 3)).isValid());
    EXPECT_FALSE (read (juce::MemoryBlock ("vltrfi", 6)).isValid());
    EXPECT_FALSE (read (juce::MemoryBlock ("vltrfishgz", 10)).isValid());
    EXPECT_EQ (capture.lines(),
               (std::vector<std::string> {
                   "infra::ValueTreeTools::streamToValueTree - fin->read (header, 4)==4",
                   "infra::ValueTreeTools::streamToValueTree - fin->read (type, 4)==4",
                   "infra::ValueTreeTools::streamToValueTree - fin->read (type, 4)==4" }));
}

TEST (ValueTreeTools, DamagedContainersNeverGiveAWrongTreeOrCrash)
{
    DebugOutputCapture quiet;
    for (const auto& o : { options (false, false), options (true, false), options (false, true),
                           options (true, true) })
    {
        const auto good = write (sampleTree(), o);
        // Every truncation: nothing, or (for zlib, which may lose only its
        // trailing checksum) the whole tree, never a partial one.
        for (size_t cut = 0; cut < good.getSize(); ++cut)
        {
            const auto tree = read (juce::MemoryBlock (good.getData(), cut));
            if (o.gzip)
            {
                EXPECT_TRUE (! tree.isValid() || tree.isEquivalentTo (sampleTree())) << cut;
            }
            else
            {
                EXPECT_FALSE (tree.isValid()) << cut;
            }
        }
        // Every single flipped byte: reading must simply survive.
        for (size_t i = 0; i < good.getSize(); ++i)
        {
            auto damaged = good;
            static_cast<juce::uint8*> (damaged.getData())[i] ^= 0xA5;
            (void) read (damaged);
        }
    }
}

TEST (ValueTreeTools, HostileCountsAreRefusedWithoutAllocating)
{
    // type "t", then a property count, a child count or an array length of 2^31-1.
    const std::vector<juce::MemoryBlock> hostile {
        bytesOf ({ 't', 0, 4, 0xff, 0xff, 0xff, 0x7f }),
        bytesOf ({ 't', 0, 0, 4, 0xff, 0xff, 0xff, 0x7f }),
        bytesOf ({ 't', 0, 1, 'p', 0, 4, 0xff, 0xff, 0xff, 0x7f, 8 }),
        bytesOf ({ 't', 0, 1, 'p', 0, 1, 2, 7, 4, 0xff, 0xff, 0xff, 0x7f, 0 }),
        bytesOf ({ 't', 0, 0x81, 5, 0 }), // negative property count
        bytesOf ({ 't', 0, 5, 0, 0, 0, 0, 0 }),
        bytesOf ({ 't' }),
    };
    for (const auto& bytes : hostile)
        EXPECT_FALSE (ValueTreeTools::readTreeBytes (bytes.getData(), bytes.getSize()).isValid());

    // Children nested beyond any real settings tree.
    juce::MemoryBlock deep;
    for (int i = 0; i < 1000; ++i)
        deep.append (bytesOf ({ 'c', 0, 0, 1 }).getData(), 4);
    EXPECT_FALSE (ValueTreeTools::readTreeBytes (deep.getData(), deep.getSize()).isValid());
}

TEST (ValueTreeTools, FilesAreReplacedThroughTheirDottedSibling)
{
    TempFolder tmp;
    const auto file = tmp / "DirectorySetting.bin";
    const auto sibling = tmp / ".DirectorySetting.bin";

    ASSERT_TRUE (ValueTreeTools::valueTreeToFile (sampleTree(), file, StoreOptions (false)));
    EXPECT_TRUE (ValueTreeTools::fileToValueTree (file).isEquivalentTo (sampleTree()));

    juce::ValueTree changed ("DirectorySetting");
    changed.setProperty ("dataDirectory", "/elsewhere", nullptr);
    ASSERT_TRUE (ValueTreeTools::valueTreeToFile (changed, file, StoreOptions (false)));
    EXPECT_FALSE (sibling.exists());
    EXPECT_TRUE (ValueTreeTools::fileToValueTree (file).isEquivalentTo (changed));
}

TEST (ValueTreeTools, FailedWriteLeavesTheExistingFileUntouched)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;
    const auto file = tmp / "DirectorySetting.bin";
    ASSERT_TRUE (ValueTreeTools::valueTreeToFile (sampleTree(), file, StoreOptions (false)));
    juce::MemoryBlock before;
    file.loadFileAsData (before);

    // A folder squats on the dotted sibling, so the new contents cannot be written.
    (tmp / ".DirectorySetting.bin/inside").createDirectory();
    juce::ValueTree changed ("DirectorySetting");
    EXPECT_FALSE (ValueTreeTools::valueTreeToFile (changed, file, StoreOptions (false)));

    juce::MemoryBlock after;
    file.loadFileAsData (after);
    EXPECT_EQ (before, after);
    EXPECT_TRUE (capture.contains ("infra::ValueTreeTools::valueTreeToFile - FileTools::createAnyhow (dst_file, false)"));
}

TEST (ValueTreeTools, MissingFilesAreInvalidWithoutReport)
{
    TempFolder tmp;
    DebugOutputCapture capture;
    EXPECT_FALSE (ValueTreeTools::fileToValueTree (tmp / "nothing.bin").isValid());
    EXPECT_TRUE (capture.lines().empty());

    (tmp / "garbage.bin").replaceWithText ("this is not a value tree at all");
    EXPECT_FALSE (ValueTreeTools::fileToValueTree (tmp / "garbage.bin").isValid());
}

} // namespace korva
