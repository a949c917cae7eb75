#pragma once

// Helpers shared by the tests.

#include <juce_events/juce_events.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace korva
{

namespace test
{

// Runs the message loop until the condition holds or the time is up.
// Returns the condition's last value.
bool runMessageLoopUntil (const std::function<bool()>& condition, int timeoutMs = 5000);

// Runs the message loop for a while (lets posted messages be delivered).
void runMessageLoopFor (int milliseconds);

// Runs the message loop until every message posted before the call has been
// delivered (the loop delivers in posting order). Message thread only.
bool deliverPostedMessages (int timeoutMs = 5000);

// Waits without running the message loop (for worker-thread conditions).
bool waitUntil (const std::function<bool()>& condition, int timeoutMs = 5000);

// A fresh folder below the system's temporary folder, removed afterwards.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    const juce::File& get() const noexcept { return m_folder; }
    juce::File operator/ (const juce::String& child) const { return m_folder.getChildFile (child); }

private:
    juce::File m_folder;
};

// Collects every text written to the debug output while it lives.
class DebugOutputCapture
{
public:
    DebugOutputCapture();
    ~DebugOutputCapture();

    std::vector<std::string> lines() const;
    bool contains (const std::string& text) const;
    int count (const std::string& text) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Points the log at a file of the test's own and restores the defaults after.
class ScopedLogFile
{
public:
    explicit ScopedLogFile (const juce::File& file, bool debuggerAttached = false);
    ~ScopedLogFile();

private:
    juce::File m_previous;
};

juce::MemoryBlock bytesOf (std::initializer_list<int> values);

// Bytes from hexadecimal digits (anything else between them is skipped), and
// back as upper-case digits without separators.
juce::MemoryBlock fromHex (const char* hex);
std::string toHex (const juce::MemoryBlock& block);

// How often `what` stands in `text` (a log, a trace), without overlaps.
int occurrences (const juce::String& text, const juce::String& what);

// The names in a folder, sorted; `what` takes juce::File's flags (findFiles,
// findFilesAndDirectories, ignoreHiddenFiles). Hidden names count unless told.
juce::StringArray namesIn (const juce::File& folder, int what = juce::File::findFilesAndDirectories);

} // namespace test

} // namespace korva
