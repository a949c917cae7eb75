#include "tests/support/TestSupport.h"

#include "core/infra/Diagnostics.h"

#include <atomic>
#include <memory>
#include <stdlib.h>

namespace korva
{

namespace test
{

bool runMessageLoopUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    auto* mm = juce::MessageManager::getInstance();

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();
        mm->runDispatchLoopUntil (5);
    }
    return true;
}

void runMessageLoopFor (int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}

bool deliverPostedMessages (int timeoutMs)
{
    auto delivered = std::make_shared<std::atomic<bool>> (false);
    juce::MessageManager::callAsync ([delivered] { *delivered = true; });
    return runMessageLoopUntil ([delivered] { return delivered->load(); }, timeoutMs);
}

bool waitUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return condition();
        juce::Thread::sleep (2);
    }
    return true;
}

int occurrences (const juce::String& text, const juce::String& what)
{
    int count = 0;
    for (int at = text.indexOf (what); at >= 0 && what.isNotEmpty(); at = text.indexOf (at + what.length(), what))
        ++count;
    return count;
}

juce::StringArray namesIn (const juce::File& folder, int what)
{
    juce::StringArray names;
    for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", what))
        names.add (entry.getFile().getFileName());
    names.sort (false);
    return names;
}

TempFolder::TempFolder()
{
    // mkdtemp: a folder of our own even while other test processes make theirs.
    auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory)
                       .getChildFile ("korva-test-XXXXXX")
                       .getFullPathName()
                       .toStdString();
    if (::mkdtemp (pattern.data()) != nullptr)
    {
        m_folder = juce::File (pattern);
    }
    else
    {
        m_folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                       .getNonexistentChildFile ("korva-test", "", false);
        m_folder.createDirectory();
    }
}

TempFolder::~TempFolder()
{
    m_folder.setReadOnly (false, true);
    m_folder.deleteRecursively();
}

DebugOutputCapture::DebugOutputCapture()
{
    infra::diagnostics::setOutputHook ([this] (const char* text) {
        std::lock_guard<std::mutex> lock (m_mutex);
        m_lines.emplace_back (text);
    });
}

DebugOutputCapture::~DebugOutputCapture()
{
    infra::diagnostics::setOutputHook (nullptr);
}

std::vector<std::string> DebugOutputCapture::lines() const
{
    std::lock_guard<std::mutex> lock (m_mutex);
    return m_lines;
}

bool DebugOutputCapture::contains (const std::string& text) const
{
    return count (text) > 0;
}

int DebugOutputCapture::count (const std::string& text) const
{
    std::lock_guard<std::mutex> lock (m_mutex);
    int n = 0;
    for (const auto& line : m_lines)
        if (line == text)
            ++n;
    return n;
}

void DebugOutputCapture::clear()
{
    std::lock_guard<std::mutex> lock (m_mutex);
    m_lines.clear();
}

ScopedLogFile::ScopedLogFile (const juce::File& file, bool debuggerAttached)
    : m_previous (infra::diagnostics::getLogFile())
{
    infra::diagnostics::setLogFile (file);
    infra::diagnostics::resetFirstWrite();
    infra::diagnostics::setDebuggerPresentOverride (debuggerAttached ? 1 : 0);
}

ScopedLogFile::~ScopedLogFile()
{
    infra::diagnostics::setLogFile (m_previous);
    infra::diagnostics::setDebuggerPresentOverride (0);
}

juce::MemoryBlock bytesOf (std::initializer_list<int> values)
{
    juce::MemoryBlock block;
    for (int v : values)
    {
        const auto byte = static_cast<juce::uint8> (v);
        block.append (&byte, 1);
    }
    return block;
}

juce::MemoryBlock fromHex (const char* hex)
{
    juce::MemoryBlock block;
    block.loadFromHexString (hex);
    return block;
}

std::string toHex (const juce::MemoryBlock& block)
{
    return juce::String::toHexString (block.getData(), (int) block.getSize(), 0).toUpperCase().toStdString();
}

} // namespace test

} // namespace korva
