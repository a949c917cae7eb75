#pragma once

// Stream adapters that encipher and decipher a whole payload with Blowfish
// (ECB, 8-byte blocks as two little-endian words, padded with 1 to 8 bytes
// that each hold the pad length).

#include <juce_core/juce_core.h>
#include <juce_cryptography/juce_cryptography.h>

#include <memory>

namespace korva
{

namespace infra
{

namespace blowfish
{
constexpr int kBuiltInKeyLength = 74;
constexpr int kBuiltInKeyBytesUsed = 72;

// Plain text of the built-in key; only the first 72 bytes are used.
const char* builtInKeyText() noexcept;

// The key as the cipher receives it: derived byte by byte from the key text.
juce::MemoryBlock prepareKey (const void* key, int keyBytes);

// Enciphers or deciphers `data` in place, block by block; a last partial block
// is left as it is. Each 8-byte block is two little-endian words (left, right).
void cryptBlocks (const juce::BlowFish& cipher, juce::MemoryBlock& data, bool encrypt);

// Payloads larger than this are refused on reading (a settings tree is tiny).
constexpr juce::int64 kMaxPayloadBytes = 16 * 1024 * 1024;
} // namespace blowfish

class BlowFishOutputStream final : public juce::OutputStream
{
public:
    // With no key the built-in key is used. A key with a length of 0 or less is
    // refused: the stream then writes nothing at all.
    BlowFishOutputStream (juce::OutputStream* dest, const void* key, int key_bytes);
    ~BlowFishOutputStream() override;

    // Pads, enciphers and writes everything to the destination; only the first
    // call does anything.
    void flush() override;
    bool setPosition (juce::int64 pos) override;
    juce::int64 getPosition() override;
    bool write (const void* data, size_t n) override;

    bool hasCipher() const noexcept { return m_cipher != nullptr; }

private:
    juce::OutputStream* m_dest;
    juce::MemoryBlock m_block;
    std::unique_ptr<juce::MemoryOutputStream> m_buffer;
    std::unique_ptr<juce::BlowFish> m_cipher;
    bool m_flushed = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BlowFishOutputStream)
};

class BlowFishInputStream final : public juce::InputStream
{
public:
    // Reads and deciphers the whole source at once, always with the built-in key.
    BlowFishInputStream (juce::InputStream* source, const void* key = nullptr, int key_bytes = 0);

    juce::int64 getTotalLength() override;
    bool isExhausted() override;
    int read (void* buffer, int n) override;
    juce::int64 getPosition() override;
    bool setPosition (juce::int64 pos) override;

    bool isValid() const noexcept { return m_stream != nullptr; }

private:
    juce::MemoryBlock m_data;
    std::unique_ptr<juce::MemoryInputStream> m_stream;
    std::unique_ptr<juce::BlowFish> m_cipher;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BlowFishInputStream)
};

} // namespace infra

} // namespace korva
