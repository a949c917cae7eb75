#include "core/infra/ValueTreeTools.h"

#include "core/infra/BlowFishStreams.h"
#include "core/infra/Diagnostics.h"
#include "core/infra/FileTools.h"

#include <memory>

namespace korva
{

namespace infra
{
namespace
{
// Walks the framework's value-tree stream format and tells whether reading it
// stays inside the data, with sane counts and a bounded depth.
class TreeBytesChecker
{
public:
    TreeBytesChecker (const juce::uint8* data, size_t size) : m_data (data), m_size (size) {}

    bool check() { return tree (0); }

private:
    static constexpr int kMaxDepth = 32;

    size_t remaining() const noexcept { return m_size - m_pos; }

    bool skip (size_t n)
    {
        if (n > remaining())
            return false;
        m_pos += n;
        return true;
    }

    bool byte (juce::uint8& value)
    {
        if (remaining() < 1)
            return false;
        value = m_data[m_pos++];
        return true;
    }

    // A zero-terminated string; `length` excludes the terminator.
    bool string (size_t& length)
    {
        for (size_t i = m_pos; i < m_size; ++i)
        {
            if (m_data[i] == 0)
            {
                length = i - m_pos;
                m_pos = i + 1;
                return true;
            }
        }
        return false;
    }

    bool compressedInt (int& value)
    {
        juce::uint8 sizeByte;
        if (! byte (sizeByte))
            return false;
        if (sizeByte == 0)
        {
            value = 0;
            return true;
        }
        const int numBytes = sizeByte & 0x7f;
        if (numBytes > 4 || (size_t) numBytes > remaining())
            return false;
        juce::uint8 bytes[4] = {};
        for (int i = 0; i < numBytes; ++i)
            bytes[i] = m_data[m_pos++];
        const auto magnitude = juce::ByteOrder::littleEndianInt (bytes);
        if (magnitude > 0x7fffffffu)
            return false;
        value = (sizeByte & 0x80) ? -(int) magnitude : (int) magnitude;
        return true;
    }

    bool var (int depth)
    {
        if (depth > kMaxDepth)
            return false;
        int numBytes;
        if (! compressedInt (numBytes))
            return false;
        if (numBytes <= 0)
            return true;

        juce::uint8 marker;
        if (! byte (marker))
            return false;

        switch (marker)
        {
            case 1: return skip (4);              // int
            case 2: case 3: return true;          // bool
            case 4: case 6: return skip (8);      // double, int64
            case 7:                               // array
            {
                int count;
                if (! compressedInt (count) || count < 0 || (size_t) count > remaining())
                    return false;
                for (int i = 0; i < count; ++i)
                    if (! var (depth + 1))
                        return false;
                return true;
            }
            default:                              // string, binary, anything else
                return skip ((size_t) numBytes - 1);
        }
    }

    bool tree (int depth)
    {
        if (depth > kMaxDepth)
            return false;

        size_t typeLength;
        if (! string (typeLength) || typeLength == 0)
            return false;

        int numProps;
        if (! compressedInt (numProps) || numProps < 0 || (size_t) numProps > remaining() / 3)
            return false;

        for (int i = 0; i < numProps; ++i)
        {
            size_t nameLength;
            if (! string (nameLength) || nameLength == 0 || ! var (depth + 1))
                return false;
        }

        int numChildren;
        if (! compressedInt (numChildren) || numChildren < 0 || (size_t) numChildren > remaining() / 4)
            return false;

        for (int i = 0; i < numChildren; ++i)
            if (! tree (depth + 1))
                return false;

        return true;
    }

    const juce::uint8* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

juce::ValueTree readRemainingTree (juce::InputStream& in)
{
    juce::MemoryBlock bytes;
    {
        juce::MemoryOutputStream collected (bytes, false);
        const auto copied = collected.writeFromInputStream (in, ValueTreeTools::kMaxTreeBytes + 1);
        if (copied > ValueTreeTools::kMaxTreeBytes)
            return {};
    }
    return ValueTreeTools::readTreeBytes (bytes.getData(), bytes.getSize());
}
} // namespace

juce::ValueTree ValueTreeTools::readTreeBytes (const void* data, size_t size)
{
    if (data == nullptr || size == 0)
        return {};

    TreeBytesChecker checker (static_cast<const juce::uint8*> (data), size);
    if (! checker.check())
        return {};

    return juce::ValueTree::readFromData (data, size);
}

bool ValueTreeTools::valueTreeToStream (const juce::ValueTree& tree, juce::OutputStream& dest,
                                        const StoreOptions& options)
{
    constexpr const char* fn = "infra::ValueTreeTools::valueTreeToStream";
    std::unique_ptr<juce::GZIPCompressorOutputStream> compressor;
    std::unique_ptr<BlowFishOutputStream> cipher;

    if (options.blowfish)
    {
        if (! INFRA_VERIFY (fn, dest.write (kHeader, 4)) || ! INFRA_VERIFY (fn, dest.write (kBFish, 4)))
            return false;
        if (options.gzip)
        {
            if (! INFRA_VERIFY (fn, dest.write (kGZip, 4)))
                return false;
        }
        else if (! INFRA_VERIFY (fn, dest.write (kNon, 4)))
            return false;

        if (options.gzip)
            compressor = std::make_unique<juce::GZIPCompressorOutputStream> (dest, 1);
        cipher = std::make_unique<BlowFishOutputStream> (compressor != nullptr ? compressor.get() : &dest,
                                                         options.key, options.key_bytes);
    }
    else if (options.gzip)
    {
        if (! INFRA_VERIFY (fn, dest.write (kHeader, 4)) || ! INFRA_VERIFY (fn, dest.write (kGZip, 4)))
            return false;
        compressor = std::make_unique<juce::GZIPCompressorOutputStream> (dest, 1);
    }

    juce::OutputStream* outer = &dest;
    if (compressor != nullptr)
        outer = compressor.get();
    if (cipher != nullptr)
        outer = cipher.get();

    tree.writeToStream (*outer);

    // The cipher pads and writes its last block first; then the zlib stream ends.
    cipher.reset();
    compressor.reset();
    return true;
}

juce::ValueTree ValueTreeTools::streamToValueTree (juce::InputStream& input)
{
    constexpr const char* fn = "infra::ValueTreeTools::streamToValueTree";
    juce::InputStream* const fin = &input;
    char header[4];
    if (! INFRA_VERIFY (fn, fin->read (header, 4)==4))
        return {};

    if (std::memcmp (header, kHeader, 4) != 0)
    {
        if (! fin->setPosition (0))
            return {};
        return readRemainingTree (*fin);
    }

    char type[4];
    if (! INFRA_VERIFY (fn, fin->read (type, 4)==4))
        return {};

    bool decipher = false;
    if (std::memcmp (type, kBFish, 4) == 0)
    {
        decipher = true;
        if (! INFRA_VERIFY (fn, fin->read (type, 4)==4))
            return {};
    }

    std::unique_ptr<juce::InputStream> unpacked;
    juce::InputStream* stream = fin;
    if (std::memcmp (type, kGZip, 4) == 0)
    {
        unpacked = std::make_unique<juce::GZIPDecompressorInputStream> (fin, false);
        stream = unpacked.get();
    }
    else if (std::memcmp (type, kNon, 4) != 0)
    {
        reportFailure (fn);
        return {};
    }

    if (decipher)
    {
        BlowFishInputStream plain (stream);
        return readRemainingTree (plain);
    }
    return readRemainingTree (*stream);
}

juce::ValueTree ValueTreeTools::fileToValueTree (const juce::File& file)
{
    if (! file.existsAsFile())
        return {};

    juce::FileInputStream in (file);
    auto* fin = in.openedOk() ? &in : nullptr;
    if (! INFRA_VERIFY ("infra::ValueTreeTools::fileToValueTree", fin))
        return {};

    return streamToValueTree (*fin);
}

bool ValueTreeTools::valueTreeToFile (const juce::ValueTree& tree, const juce::File& file,
                                      const StoreOptions& options)
{
    constexpr const char* fn = "infra::ValueTreeTools::valueTreeToFile";

    // An existing file is replaced through its dotted sibling, so a failed
    // write never touches it.
    const auto dst_file = file.existsAsFile() ? file.getSiblingFile ("." + file.getFileName()) : file;

    if (! INFRA_VERIFY (fn, FileTools::createAnyhow (dst_file, false)))
        return false;

    bool ok;
    {
        auto fout = std::make_unique<juce::FileOutputStream> (dst_file);
        if (! fout->openedOk())
            fout.reset();

        if (! INFRA_VERIFY (fn, fout && fout->setPosition (0) && fout->truncate()))
        {
            fout.reset();
            dst_file.deleteFile();
            return false;
        }

        ok = valueTreeToStream (tree, *fout, options);
        fout->flush();
        if (fout->getStatus().failed())
        {
            debugPrint (fout->getStatus().getErrorMessage().toRawUTF8());
            ok = false;
        }
    }

    if (! ok)
    {
        INFRA_VERIFY (fn, dst_file.deleteFile());
        return false;
    }

    if (dst_file == file)
        return true;

    if (! file.deleteFile())
    {
        INFRA_VERIFY (fn, dst_file.deleteFile());
        return false;
    }

    return INFRA_VERIFY (fn, dst_file.moveFileTo (file));
}

} // namespace infra

} // namespace korva
