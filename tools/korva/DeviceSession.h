#pragma once

// One device command's time with the KORVA. The session starts the program's
// own device stack the way the program does (HidDeviceManager, then
// HidSequenceManager with the device manager as transport and the pattern
// data manager as conversions, the sequencer as the device manager's
// listener), runs the message loop while it waits for answers, probes the
// firmware as the program does on connection, and shuts the stack down in the
// program's order. Every request goes through HidSequenceManager.
//
// While a project transfer runs, Ctrl+C does what the progress window's
// "Cancel" does (the exchange ends with the device's abort); other requests
// are left to finish. A second Ctrl+C ends the command at once. A progress
// bar goes to standard error when it is a terminal.

#include "core/device/HidSequenceManager.h"
#include "tools/korva/Command.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace korva
{

class InstanceLock;

namespace tool
{

// What became of one exchange.
struct Outcome
{
    enum Kind
    {
        kDone,         // the device did what was asked
        kFailed,       // `message` says why, in the program's words
        kCancelled,    // Ctrl+C; the exchange was ended cleanly
        kDisconnected, // the KORVA went away
        kInterrupted   // Ctrl+C on a request that cannot be cancelled; it was let finish
    };

    Kind kind = kFailed;
    juce::String message;
    juce::File file; // the MIDI file of a pattern import

    bool ok() const noexcept { return kind == kDone; }
    static Outcome done() { return {kDone, {}, {}}; }
    static Outcome failed (const juce::String& text) { return {kFailed, text, {}}; }
};

// What the sequencer told the listeners, in order.
struct SequencerEvent
{
    enum Kind
    {
        kTransportError, // sendErrorOccurred / receiveErrorOccurred: result is an eResult
        kProjectInfo,
        kDeleteProject,
        kRenameProject,
        kImportProject,
        kQueryExportProject,
        kExportProject,
        kPatternInfo,
        kImportPattern,
        kQueryExportPattern,
        kExportPattern,
        kVersionInfo,
        kReadProjectFileError,
        kReadSmfError
    };

    Kind kind;
    int result = 0;
    juce::File file;
    // A project transfer's failure on the computer's side, read in the call.
    infra::FileFailure local;
};

class DeviceSession final : private HidSequenceManagerListener
{
public:
    DeviceSession();
    ~DeviceSession() override;

    // Takes the program's instance lock, starts the stack, waits for the
    // KORVA and probes its firmware. On failure the reason has been printed
    // (unless the session is quiet) and `exitCode` says how to end.
    bool open (int& exitCode);

    // A quiet session prints nothing of its own; why it could not be opened
    // is kept instead, in the program's words ("KORVA is not connected.").
    void setQuiet (bool quiet) noexcept { m_quiet = quiet; }
    const juce::String& getFailure() const noexcept { return m_failure; }

    HidSequenceManager& sequencer() noexcept { return *m_sequencer; }

    // Reads `interpret` over the sequencer's events until it yields an
    // outcome. Returns nothing to let an event pass.
    using Interpreter = std::function<std::optional<Outcome> (const SequencerEvent&)>;

    // The interpreter of a request answered by one event of `kind`: done on
    // success, else failed with the message `failure` makes of the result.
    static Interpreter answeredBy (SequencerEvent::Kind kind, juce::String (*failure) (int));

    struct Exchange
    {
        std::function<void()> issue;                 // asks the sequencer
        Interpreter interpret;                       // reads its answers
        bool cancellable = false;                    // a project transfer: Ctrl+C cancels it
        juce::String progressLabel;                  // shown beside the bar; empty: no bar
        std::optional<Outcome> whenEndedUnanswered;  // an exchange that ends without an answer
    };

    // Runs one exchange to its end: issues it once the previous one is over,
    // waits for its outcome, and returns only when the sequencer has nothing
    // in progress any more (so that the next request is never dropped).
    Outcome run (const Exchange& exchange);

    // The project list, fresh from the device (KorvaProjectList and the
    // capacity figures of ProjectDataManager).
    Outcome fetchProjectList();
    // The pattern information (PatternDataManager).
    Outcome fetchPatternInfo();

    // The folder a pull stages its imports in, removed when the command is
    // stopped at once by a second Ctrl+C; a null file when there is none.
    void setStagingFolder (const juce::File& folder);

    // True once Ctrl+C was pressed.
    static bool interruptRequested();

    // Prints "korva: <message>" for an outcome that is not done and gives the
    // exit code for it.
    static int report (const Outcome& outcome, const juce::String& subject = {});

private:
    // HidSequenceManagerListener: every callback is recorded.
    void sendErrorOccurred (juce::uint8, eResult result) override;
    void receiveErrorOccurred (juce::uint8, eResult result) override;
    void getProjectInfoResponsed (int result, bool) override;
    void deleteProjectResponsed (int result) override;
    void renameProjectResponsed (int result) override;
    void importProjectDataResponsed (int result) override;
    void queryExportProjectResponsed (int result) override;
    void exportProjectDataResponsed (int result) override;
    void getPatternInfoResponsed (int result) override;
    void importPatternDataResponsed (juce::File midiFile, int result) override;
    void queryExportPatternResponsed (int result) override;
    void exportPatternDataResponsed (int result) override;
    void getVersionInfoResponsed (int result) override;
    void readProjectFileErrorOccurred() override;
    void readSmfErrorOccurred() override;
    void openErrorOccurred (juce::String devicePath, int error) override;

    // The message for a KORVA that was found but could not be opened; empty
    // while there is none.
    juce::String openFailure() const;

    void record (SequencerEvent::Kind kind, int result, const juce::File& file = {});
    // The same for a project transfer, with what failed on the computer's side.
    void recordTransfer (SequencerEvent::Kind kind, int result);
    std::vector<SequencerEvent> eventsFrom (size_t first) const;
    size_t eventCount() const;

    bool waitForConnection();
    bool isIdle() const;
    // Lets every task the sequencer's thread holds run (so that the listener
    // calls that go with an end already seen have all been made).
    bool drainSequencer();
    void pump();
    void closeStack();

    struct ProgressBar;

    std::unique_ptr<InstanceLock> m_lock;
    HidDeviceManager* m_deviceManager = nullptr;
    HidSequenceManager* m_sequencer = nullptr;
    bool m_listening = false;
    bool m_quiet = false;
    juce::String m_failure; // why the last open failed, without "korva: "

    // Prints "korva: <text>" unless quiet, keeps the text, and gives the exit code.
    int refuse (const juce::String& text, int exitCode);


    mutable std::mutex m_eventLock;
    std::vector<SequencerEvent> m_events;
    juce::String m_openFailure; // under m_eventLock

    JUCE_DECLARE_NON_COPYABLE (DeviceSession)
};

} // namespace tool

} // namespace korva
