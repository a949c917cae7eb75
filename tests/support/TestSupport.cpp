#include "tests/support/TestSupport.h"

#include "core/infra/Diagnostics.h"
#include "tests/support/TestPlatform.h"

#include <atomic>
#include <memory>

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
    // A folder of our own even while other test processes make theirs.
    m_folder = makeUniqueFolder (juce::File::getSpecialLocation (juce::File::tempDirectory), "korva-test-");
    if (m_folder == juce::File())
    {
        m_folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                       .getNonexistentChildFile ("korva-test", "", false);
        m_folder.createDirectory();
    }
}

namespace
{
// Lets the owner write every folder and file below `folder` that a test made
// read-only, so that they can be removed. Symbolic links are never followed:
// a link to "/" in a test's folder (a Wine prefix has one) would otherwise
// open the whole system to everyone.
void makeWritableBelow (const juce::File& folder)
{
    if (folder.isSymbolicLink())
        return;
    folder.setReadOnly (false, false);
    if (! folder.isDirectory())
        return;
    for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*", juce::File::findFilesAndDirectories,
                                                           juce::File::FollowSymlinks::no))
        makeWritableBelow (entry.getFile());
}
} // namespace

TempFolder::~TempFolder()
{
    makeWritableBelow (m_folder);
    m_folder.deleteRecursively (false);
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
