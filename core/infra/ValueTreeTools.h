#pragma once

// Value trees to streams and files, inside a small container that can add
// zlib compression and Blowfish encryption:
//   bare:                    the tree bytes
//   "vltr" "gzip"            zlib stream of the tree bytes
//   "vltr" "fish" "gzip"     zlib stream of the enciphered tree bytes
//   "vltr" "fish" "non "     enciphered tree bytes
//   "vltr" "non "            the tree bytes (read, never written)

#include <juce_data_structures/juce_data_structures.h>

namespace korva
{

namespace infra
{

struct StoreOptions
{
    StoreOptions() = default;
    // The program's one save passes false: no compression, no encryption.
    StoreOptions (bool compressAndEncipher) // NOLINT: `false` reads well at the call site
        : gzip (compressAndEncipher), blowfish (compressAndEncipher)
    {
    }

    bool gzip = false;
    bool readable = true; // not read by the writers
    bool blowfish = false;
    const void* key = nullptr;
    int key_bytes = 0;
};

struct ValueTreeTools
{
    static constexpr char kHeader[4] = { 'v', 'l', 't', 'r' };
    static constexpr char kBFish[4] = { 'f', 'i', 's', 'h' };
    static constexpr char kGZip[4] = { 'g', 'z', 'i', 'p' };
    static constexpr char kNon[4] = { 'n', 'o', 'n', ' ' };

    // The most tree bytes a container may hold once unpacked.
    static constexpr juce::int64 kMaxTreeBytes = 16 * 1024 * 1024;

    static bool valueTreeToStream (const juce::ValueTree& tree, juce::OutputStream& dest, const StoreOptions& options);
    static juce::ValueTree streamToValueTree (juce::InputStream& fin);
    static bool valueTreeToFile (const juce::ValueTree& tree, const juce::File& file, const StoreOptions& options);
    static juce::ValueTree fileToValueTree (const juce::File& file);

    // Reads tree bytes without trusting them: counts and lengths are checked
    // against the data before anything is allocated. Invalid tree on any fault.
    static juce::ValueTree readTreeBytes (const void* data, size_t size);
};

} // namespace infra

} // namespace korva
