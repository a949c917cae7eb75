#include "core/infra/BlowFishStreams.h"

#include "core/infra/Diagnostics.h"

namespace korva
{

namespace infra
{
namespace blowfish
{
namespace
{
constexpr char kKeyText[] = "korvamanagerkeepsitsfoldersettinginasmallenciphereddocumentbesidetheuserxz";
static_assert (sizeof (kKeyText) - 1 == kBuiltInKeyLength, "the built-in key text has 74 letters");
} // namespace

void cryptBlocks (const juce::BlowFish& cipher, juce::MemoryBlock& data, bool encrypt)
{
    auto* bytes = static_cast<juce::uint8*> (data.getData());
    for (size_t offset = 0; offset + 8 <= data.getSize(); offset += 8)
    {
        auto left = juce::ByteOrder::littleEndianInt (bytes + offset);
        auto right = juce::ByteOrder::littleEndianInt (bytes + offset + 4);

        if (encrypt)
            cipher.encrypt (left, right);
        else
            cipher.decrypt (left, right);

        for (int i = 0; i < 4; ++i)
        {
            bytes[offset + (size_t) i] = static_cast<juce::uint8> (left >> (8 * i));
            bytes[offset + 4 + (size_t) i] = static_cast<juce::uint8> (right >> (8 * i));
        }
    }
}

const char* builtInKeyText() noexcept
{
    return kKeyText;
}

juce::MemoryBlock prepareKey (const void* key, int keyBytes)
{
    juce::MemoryBlock prepared ((size_t) keyBytes);
    const auto* s = static_cast<const juce::uint8*> (key);
    auto* k = static_cast<juce::uint8*> (prepared.getData());
    const int n = keyBytes;

    for (int i = 0; i < n; ++i)
    {
        const unsigned a = unsigned (s[(i + 19) % n]) - 125u * unsigned (i);
        const unsigned b = 23u * unsigned (i) + unsigned (s[(i + 13) % n]) + unsigned (s[i]);
        const unsigned e = (i % 2 == 0) ? 1u : 0u;
        k[i] = static_cast<juce::uint8> ((a * b - e) & 0xFFu);
    }
    return prepared;
}

std::unique_ptr<juce::BlowFish> makeCipher (const void* key, int keyBytes)
{
    const auto prepared = prepareKey (key, keyBytes);
    return std::make_unique<juce::BlowFish> (prepared.getData(), (int) prepared.getSize());
}
} // namespace blowfish

//==============================================================================
BlowFishOutputStream::BlowFishOutputStream (juce::OutputStream* dest, const void* key, int key_bytes)
    : m_dest (dest), m_buffer (std::make_unique<juce::MemoryOutputStream> (m_block, false))
{
    if (key == nullptr)
        m_cipher = blowfish::makeCipher (blowfish::builtInKeyText(), blowfish::kBuiltInKeyBytesUsed);
    else if (INFRA_VERIFY ("infra::BlowFishOutputStream::BlowFishOutputStream", key && 0<key_bytes))
        m_cipher = blowfish::makeCipher (key, key_bytes);
}

BlowFishOutputStream::~BlowFishOutputStream()
{
    flush();
}

bool BlowFishOutputStream::write (const void* data, size_t n)
{
    if (m_flushed)
        return false;
    return m_buffer->write (data, n);
}

juce::int64 BlowFishOutputStream::getPosition()
{
    return m_flushed ? 0 : m_buffer->getPosition();
}

bool BlowFishOutputStream::setPosition (juce::int64 pos)
{
    if (m_flushed || pos < 0 || pos > m_buffer->getPosition())
        return false;
    return m_buffer->setPosition (pos);
}

void BlowFishOutputStream::flush()
{
    if (m_flushed)
        return;
    m_flushed = true;

    m_buffer->flush();
    const size_t length = m_buffer->getDataSize();
    m_buffer.reset();

    // Without a cipher nothing may reach the destination: neither plaintext
    // posing as ciphertext nor anything else.
    if (m_cipher != nullptr && m_dest != nullptr)
    {
        const size_t padded = 8 * (length / 8 + 1);
        const auto pad = static_cast<juce::uint8> (padded - length);
        m_block.setSize (padded, false);
        auto* bytes = static_cast<juce::uint8*> (m_block.getData());
        for (size_t i = length; i < padded; ++i)
            bytes[i] = pad;

        blowfish::cryptBlocks (*m_cipher, m_block, true);
        m_dest->write (m_block.getData(), m_block.getSize());
        m_dest->flush();
    }

    m_block.reset();
}

//==============================================================================
BlowFishInputStream::BlowFishInputStream (juce::InputStream* source, const void*, int)
    : m_cipher (blowfish::makeCipher (blowfish::builtInKeyText(), blowfish::kBuiltInKeyBytesUsed))
{
    bool ok = source != nullptr;

    if (ok)
    {
        // Read to the end, but never more than any real payload could need.
        juce::MemoryOutputStream collected (m_data, false);
        const auto copied = collected.writeFromInputStream (*source, blowfish::kMaxPayloadBytes + 1);
        collected.flush();
        m_data.setSize ((size_t) copied);
        ok = copied <= blowfish::kMaxPayloadBytes;
    }

    if (ok && m_data.getSize() > 0)
    {
        const size_t length = m_data.getSize();
        ok = length % 8 == 0;

        if (ok)
        {
            blowfish::cryptBlocks (*m_cipher, m_data, false);
            const auto pad = static_cast<const juce::uint8*> (m_data.getData())[length - 1];
            ok = pad >= 1 && pad <= 8 && pad <= length;
            if (ok)
                m_data.setSize (length - pad);
        }
    }

    if (ok)
        m_stream = std::make_unique<juce::MemoryInputStream> (m_data, false);
    else
    {
        m_data.reset();
        debugPrint ("infra::BlowFishInputStream::BlowFishInputStream");
    }
}

juce::int64 BlowFishInputStream::getTotalLength()
{
    return m_stream != nullptr ? m_stream->getTotalLength() : 0;
}

bool BlowFishInputStream::isExhausted()
{
    return m_stream == nullptr || m_stream->isExhausted();
}

int BlowFishInputStream::read (void* buffer, int n)
{
    return m_stream != nullptr ? m_stream->read (buffer, n) : 0;
}

juce::int64 BlowFishInputStream::getPosition()
{
    return m_stream != nullptr ? m_stream->getPosition() : 0;
}

bool BlowFishInputStream::setPosition (juce::int64 pos)
{
    return m_stream != nullptr && m_stream->setPosition (pos);
}

} // namespace infra

} // namespace korva
