#pragma once

// A KORVA at the level of whole messages, for testing the sequencer without
// the transport: every message the sequencer sends is acknowledged, and the
// test's `answer` function decides the device's reply (or none).

#include "core/device/HidSequenceManager.h"

#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace korva
{

namespace test
{
class MessageLevelKorva final : public HidSequenceManager::Transport
{
public:
    using Answer = std::function<std::optional<juce::MemoryBlock> (juce::uint8 type, const juce::MemoryBlock& payload)>;

    explicit MessageLevelKorva (HidSequenceManager& manager);
    ~MessageLevelKorva() override;

    bool sendRequest (juce::uint8 dataType, const juce::MemoryBlock& payload) override;
    double getSendProgress() override { return 0.5; }
    double getRecvProgress() override { return 0.5; }

    std::vector<std::pair<juce::uint8, juce::MemoryBlock>> sent() const;
    int count (juce::uint8 type) const;

    Answer answer;                   // the device's reply to a message
    std::atomic<bool> refuse { false }; // the transport will not take messages
    std::atomic<int> sendResult { HidDeviceManager::kSuccess };
    // Decides each message's send result in place of sendResult (set before the exchange starts).
    std::function<HidDeviceManager::eResult (juce::uint8 type, const juce::MemoryBlock& payload)> sendOutcome;

private:
    void serve();

    HidSequenceManager& m_manager;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<juce::uint8, juce::MemoryBlock>> m_queue;
    std::vector<std::pair<juce::uint8, juce::MemoryBlock>> m_sent;
    bool m_stop = false;
    std::thread m_thread;
};

// Records what the sequencer tells its listeners, as text lines.
class RecordingListener final : public HidSequenceManagerListener
{
public:
    std::vector<std::string> events() const;
    bool has (const std::string& event) const;
    int count (const std::string& event) const;
    void clear();

    void connectionChanged() override { add ("connectionChanged"); }
    void sendErrorOccurred (juce::uint8 t, eResult r) override { add (format ("sendError", t, r)); }
    void receiveErrorOccurred (juce::uint8 t, eResult r) override { add (format ("receiveError", t, r)); }
    void getProjectInfoResponsed (int r, bool changed) override { add (format ("projectInfo", r, changed)); }
    void deleteProjectResponsed (int r) override { add (format ("delete", r)); }
    void renameProjectResponsed (int r) override { add (format ("rename", r)); }
    void importProjectDataResponsed (int r) override { add (format ("import", r)); }
    void queryExportProjectResponsed (int r) override { add (format ("queryExport", r)); }
    void exportProjectDataResponsed (int r) override { add (format ("export", r)); }
    void getPatternInfoResponsed (int r) override { add (format ("patternInfo", r)); }
    void importPatternDataResponsed (juce::File f, int r) override
    {
        lastMidiFile = f;
        add (format ("importPattern", r));
    }
    void queryExportPatternResponsed (int r) override { add (format ("queryExportPattern", r)); }
    void exportPatternDataResponsed (int r) override { add (format ("exportPattern", r)); }
    void receivedProjectDataResponsed (int r) override { add (format ("received", r)); }
    void getVersionInfoResponsed (int r) override { add (format ("version", r)); }
    void readProjectFileErrorOccurred() override { add ("readProjectFileError"); }
    void readSmfErrorOccurred() override { add ("readSmfError"); }
    void deleteProjectRequestStarted() override { add ("deleteStarted"); }
    void renameProjectRequestStarted() override { add ("renameStarted"); }
    void importProjectDataRequestStarted() override { add ("importStarted"); }
    void exportProjectDataRequestStarted() override { add ("exportStarted"); }
    void openErrorOccurred (juce::String path, int error) override
    {
        add ("openError " + path.toStdString() + " " + std::to_string (error));
    }

    juce::File lastMidiFile;

private:
    static std::string format (const char* what, int a) { return std::string (what) + " " + std::to_string (a); }
    static std::string format (const char* what, int a, int b)
    {
        return format (what, a) + " " + std::to_string (b);
    }
    void add (const std::string& event);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
};

// Runs the message loop until the sequencer's thread has done every task
// handed to it before the call, then until every message posted meanwhile
// (what its listeners handed to the message thread) has been delivered.
// Message thread only.
bool catchUpWith (HidSequenceManager& sequencer, int timeoutMs = 5000);

// Runs the message loop until nothing waits and nothing is in progress on
// the sequencer's side, then catches up with it: whatever the last exchange
// was to set off has happened, so what a test then finds missing is not
// still on its way. Message thread only.
bool waitUntilAtRest (HidSequenceManager& sequencer, int timeoutMs = 5000);
} // namespace test

} // namespace korva
