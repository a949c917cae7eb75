#pragma once

// What the fuzz targets share: a quiet program (no log file, nothing on
// standard error), a scratch folder in memory, and a reader that takes the
// fuzzer's bytes apart without ever running past them.

#include "core/infra/Diagnostics.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <unistd.h>

namespace korva
{

namespace fuzz
{
// Reports go nowhere: a log file beside the fuzzer would grow with every
// refused input, and standard error is libFuzzer's.
inline void quietDiagnostics()
{
    infra::diagnostics::setDebuggerPresentOverride (1);
    infra::diagnostics::setStandardErrorEnabled (false);
}

// A fresh folder for this process, on /dev/shm when there is one (files are
// written on every run), removed at exit.
inline juce::File scratchFolder (const char* name)
{
    const juce::File shm ("/dev/shm");
    const auto base =
        shm.isDirectory() && shm.hasWriteAccess() ? shm : juce::File::getSpecialLocation (juce::File::tempDirectory);
    // Kept to the end of the process: the clean-up at exit still needs it.
    static const juce::File& root = *[&]
    {
        auto* folder = new juce::File (base.getChildFile ("korva-fuzz-" + juce::String ((int)::getpid())));
        folder->deleteRecursively();
        folder->createDirectory();
        std::atexit ([] { root.deleteRecursively(); });
        return folder;
    }();
    auto folder = root.getChildFile (name);
    folder.createDirectory();
    return folder;
}

// A property the reader promises that does not hold: a fault like a crash.
inline void require (bool condition)
{
    if (!condition)
        std::abort();
}

// Writes the bytes to `file`, replacing what it held; aborts when it cannot,
// since every later result would be meaningless.
inline void writeWhole (const juce::File& file, const void* data, std::size_t size)
{
    auto* out = std::fopen (file.getFullPathName().toRawUTF8(), "wb");
    if (out == nullptr || (size != 0 && std::fwrite (data, 1, size, out) != size) || std::fclose (out) != 0)
        std::abort();
}

// Takes the input apart: numbers first, then lengths and payloads. Past the
// end every number reads 0 and every span is empty.
class ByteReader
{
public:
    ByteReader (const uint8_t* data, std::size_t size) noexcept : m_data (data), m_size (size) {}

    bool atEnd() const noexcept { return m_at >= m_size; }
    std::size_t remaining() const noexcept { return m_size - m_at; }

    uint8_t u8() noexcept { return atEnd() ? 0 : m_data[m_at++]; }
    uint16_t u16() noexcept
    {
        const auto high = u8();
        return (uint16_t)((high << 8) | u8());
    }

    // Up to `n` bytes (fewer at the end).
    std::pair<const uint8_t*, std::size_t> take (std::size_t n) noexcept
    {
        n = std::min (n, remaining());
        const auto* at = m_data + m_at;
        m_at += n;
        return {at, n};
    }
    std::pair<const uint8_t*, std::size_t> rest() noexcept { return take (remaining()); }

    juce::MemoryBlock block (std::size_t n)
    {
        const auto span = take (n);
        return juce::MemoryBlock (span.first, span.second);
    }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};
} // namespace fuzz

} // namespace korva
