// The settings file as the program reads it (the data-folder setting). The
// first byte chooses what the rest is:
//   0  the tree bytes alone, as they are once unpacked and deciphered;
//   1  the file as a whole: container, compression, cipher and tree;
//   2  the plain tree bytes, enciphered here the way the program writes
//      them, so that what comes out of the decipherer is the fuzzer's;
//   3  the same, enciphered and then compressed.
// Whatever tree comes out is read into the setting.

#include "core/infra/BlowFishStreams.h"
#include "core/infra/ValueTreeTools.h"
#include "core/settings/DirectorySetting.h"
#include "fuzz/FuzzSupport.h"

namespace
{
using korva::infra::ValueTreeTools;

// The container around enciphered bytes, as ValueTreeTools writes it.
juce::MemoryBlock enciphered (const uint8_t* plain, std::size_t size, bool compressed)
{
    juce::MemoryOutputStream out;
    out.write (ValueTreeTools::kHeader, 4);
    out.write (ValueTreeTools::kBFish, 4);
    out.write (compressed ? ValueTreeTools::kGZip : ValueTreeTools::kNon, 4);
    {
        std::unique_ptr<juce::GZIPCompressorOutputStream> compressor;
        if (compressed)
            compressor = std::make_unique<juce::GZIPCompressorOutputStream> (out, 1);
        korva::infra::BlowFishOutputStream cipher (
            compressed ? static_cast<juce::OutputStream*> (compressor.get()) : &out, nullptr, 0);
        cipher.write (plain, size);
        cipher.flush();
    }
    return out.getMemoryBlock();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, std::size_t size)
{
    using namespace korva;
    static const auto file = fuzz::scratchFolder ("settings").getChildFile ("DirectorySetting.bin");

    fuzz::ByteReader input (data, size);
    const int mode = input.u8() % 4;
    const auto bytes = input.rest();

    juce::ValueTree tree;
    switch (mode)
    {
        case 0:
            tree = ValueTreeTools::readTreeBytes (bytes.first, bytes.second);
            break;
        case 1:
            fuzz::writeWhole (file, bytes.first, bytes.second);
            tree = ValueTreeTools::fileToValueTree (file);
            break;
        default:
        {
            const auto container = enciphered (bytes.first, bytes.second, mode == 3);
            juce::MemoryInputStream in (container, false);
            tree = ValueTreeTools::streamToValueTree (in);
            break;
        }
    }

    if (tree.isValid())
    {
        DirectorySetting setting;
        setting.fromValueTree (tree, {});
        setting.toString();
    }
    return 0;
}
