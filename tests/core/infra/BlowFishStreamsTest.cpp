#include "core/infra/BlowFishStreams.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace korva
{

using namespace korva::test;

namespace
{
juce::MemoryBlock encipher (const juce::MemoryBlock& plain, const void* key = nullptr, int keyBytes = 0)
{
    juce::MemoryOutputStream out;
    {
        infra::BlowFishOutputStream fish (&out, key, keyBytes);
        fish.write (plain.getData(), plain.getSize());
    }
    return out.getMemoryBlock();
}

juce::MemoryBlock decipher (const juce::MemoryBlock& cipherText, bool* valid = nullptr)
{
    juce::MemoryInputStream in (cipherText, false);
    infra::BlowFishInputStream fish (&in);
    if (valid != nullptr)
        *valid = fish.isValid();
    juce::MemoryBlock plain;
    fish.readIntoMemoryBlock (plain);
    return plain;
}

// The published vectors write a block as two big-endian words; the program
// keeps each word little-endian, so the bytes of each half are reversed.
juce::MemoryBlock swapHalves (const juce::MemoryBlock& block)
{
    juce::MemoryBlock swapped (block);
    auto* bytes = static_cast<juce::uint8*> (swapped.getData());
    for (size_t half = 0; half + 4 <= swapped.getSize(); half += 4)
        std::reverse (bytes + half, bytes + half + 4);
    return swapped;
}

juce::MemoryBlock pattern (int length)
{
    juce::MemoryBlock block ((size_t) length);
    for (int i = 0; i < length; ++i)
        static_cast<juce::uint8*> (block.getData())[i] = (juce::uint8) (i * 37 + 11);
    return block;
}
} // namespace

TEST (BlowFishStreams, CipherTextIsPaddedToTheNextWholeBlock)
{
    struct Case
    {
        int plain, cipher;
    };
    for (const auto c : { Case { 0, 8 }, Case { 1, 8 }, Case { 7, 8 }, Case { 8, 16 }, Case { 13, 16 },
                          Case { 16, 24 } })
        EXPECT_EQ ((int) encipher (pattern (c.plain)).getSize(), c.cipher) << c.plain;
}

TEST (BlowFishStreams, BlocksMatchThePublishedBlowfishVectors)
{
    // Eric Young's ECB vectors (key, plaintext, ciphertext), the last two with
    // keys of 1 and 24 bytes, which the key schedule repeats over its 72 bytes.
    struct Case
    {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        { "0000000000000000", "0000000000000000", "4EF997456198DD78" },
        { "FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A" },
        { "3000000000000000", "1000000000000001", "7D856F9A613063F2" },
        { "0123456789ABCDEF", "1111111111111111", "61F9C3802281B096" },
        { "1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7" },
        { "FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D" },
        { "7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B" },
        { "0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0" },
        { "F0", "FEDCBA9876543210", "F9AD597C49DB005E" },
        { "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.key);
        const auto key = fromHex (c.key);
        const juce::BlowFish cipher (key.getData(), (int) key.getSize());

        auto data = swapHalves (fromHex (c.plain));
        infra::blowfish::cryptBlocks (cipher, data, true);
        EXPECT_EQ (toHex (swapHalves (data)), c.cipher);
        infra::blowfish::cryptBlocks (cipher, data, false);
        EXPECT_EQ (toHex (swapHalves (data)), c.plain);
    }
}

TEST (BlowFishStreams, RoundTripsEveryLengthUpToSeventeen)
{
    DebugOutputCapture capture;
    for (int length = 0; length <= 17; ++length)
    {
        const auto plain = pattern (length);
        const auto cipherText = encipher (plain);
        if (length >= 8)
        {
            EXPECT_NE (juce::MemoryBlock (cipherText.getData(), (size_t) length), plain) << length;
        }

        bool valid = false;
        EXPECT_EQ (decipher (cipherText, &valid), plain) << length;
        EXPECT_TRUE (valid);
    }
    EXPECT_TRUE (capture.lines().empty());
}

TEST (BlowFishStreams, NothingReachesTheDestinationBeforeTheEnd)
{
    juce::MemoryOutputStream out;
    {
        infra::BlowFishOutputStream fish (&out, nullptr, 0);
        fish.write ("abcdefghij", 10);
        EXPECT_EQ (out.getDataSize(), 0u);
        EXPECT_EQ (fish.getPosition(), 10);
    }
    EXPECT_EQ (out.getDataSize(), 16u);
}

TEST (BlowFishStreams, OutputPositionMovesOnlyBackwards)
{
    juce::MemoryOutputStream out;
    infra::BlowFishOutputStream fish (&out, nullptr, 0);
    fish.write ("abcd", 4);
    EXPECT_FALSE (fish.setPosition (5));
    EXPECT_FALSE (fish.setPosition (-1));
    EXPECT_TRUE (fish.setPosition (1));
    fish.write ("X", 1);
    fish.flush();
    EXPECT_EQ (decipher (out.getMemoryBlock()).toString(), "aXcd");
}

TEST (BlowFishStreams, BadCipherTextGivesAnEmptyStreamWithATrace)
{
    DebugOutputCapture capture;

    bool valid = true;
    EXPECT_EQ (decipher (pattern (12), &valid).getSize(), 0u); // not whole blocks
    EXPECT_FALSE (valid);

    // Whole blocks whose last plaintext byte is not a pad count: the first
    // block of "1234567" + NUL, without its pad block, ends in 0.
    valid = true;
    const auto twoBlocks = encipher (juce::MemoryBlock ("1234567", 8));
    ASSERT_EQ (twoBlocks.getSize(), 16u);
    EXPECT_EQ (decipher (juce::MemoryBlock (twoBlocks.getData(), 8), &valid).getSize(), 0u);
    EXPECT_FALSE (valid);

    EXPECT_EQ (capture.count ("infra::BlowFishInputStream::BlowFishInputStream"), 2);

    juce::MemoryInputStream empty (nullptr, 0, false);
    infra::BlowFishInputStream fromNothing (&empty);
    EXPECT_TRUE (fromNothing.isValid());
    EXPECT_EQ (fromNothing.getTotalLength(), 0);
}

TEST (BlowFishStreams, RejectedKeyWritesNothingAtAll)
{
    TempFolder tmp;
    ScopedLogFile log (tmp / "log.txt");
    DebugOutputCapture capture;

    juce::MemoryOutputStream out;
    {
        const char key[] = "secret";
        infra::BlowFishOutputStream fish (&out, key, 0);
        EXPECT_FALSE (fish.hasCipher());
        fish.write ("plaintext", 9);
    }
    EXPECT_EQ (out.getDataSize(), 0u);
    EXPECT_TRUE (capture.contains ("infra::BlowFishOutputStream::BlowFishOutputStream - key && 0<key_bytes"));
}

TEST (BlowFishStreams, KeyPreparationFollowsItsFormula)
{
    // k[i] = (s[(i+19)%n] - 125 i) * (23 i + s[(i+13)%n] + s[i]) - (i even), modulo 256.
    const auto prepared = infra::blowfish::prepareKey ("ab", 2);
    ASSERT_EQ (prepared.getSize(), 2u);
    EXPECT_EQ (static_cast<const juce::uint8*> (prepared.getData())[0], 165);
    EXPECT_EQ (static_cast<const juce::uint8*> (prepared.getData())[1], 40);

    const juce::String text (infra::blowfish::builtInKeyText());
    EXPECT_EQ (text.length(), 74);
    EXPECT_TRUE (text.containsOnly ("abcdefghijklmnopqrstuvwxyz"));
}

TEST (BlowFishStreams, AGivenKeyChangesTheCipherText)
{
    const auto plain = pattern (24);
    const char key[] = "another key";
    EXPECT_NE (encipher (plain, key, 11), encipher (plain));
}

} // namespace korva
