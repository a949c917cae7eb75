#include "tools/korva/DeviceSession.h"

#include "core/conversion/PatternDataManager.h"
#include "core/device/DeviceMessages.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"
#include "core/settings/DirectorySetting.h"
#include "core/settings/InstanceLock.h"
#include "tools/korva/Terminal.h"
#include "tools/korva/ToolFiles.h"

#include <atomic>
#include <cstdlib>
#include <iostream>

namespace korva
{

namespace tool
{

namespace
{

constexpr int kSliceMs = 10;
constexpr int kConnectTimeoutMs = 3000;
// A request the sequencer has not taken up by then was never reserved.
constexpr int kUnseenRequestMs = 2000;
// Longer than the sequencer's own reply time-out, which ends any exchange.
constexpr int kSettleTimeoutMs = HidSequenceManager::kReplyTimeoutMs + 5000;
constexpr int kCancelRepeatMs = 100;

std::atomic<int> g_interrupts{0};
// Removed when the command is stopped by a second Ctrl+C.
std::mutex g_stagingLock;
juce::File g_staging;

// Ctrl+C, and the other ways of asking the command to end (Terminal.h).
void onInterrupt()
{
    g_interrupts.fetch_add (1);
}

bool standardErrorIsTerminal()
{
    static const bool onTerminal = terminal::isTerminal (terminal::Stream::kError);
    return onTerminal;
}

juce::uint32 now()
{
    return juce::Time::getMillisecondCounter();
}

// The second Ctrl+C: nothing half-done may stay in the data folder, and
// nothing there is half-written (files reach it by rename), so only the
// staging folder needs to go.
[[noreturn]] void stopAtOnce()
{
    {
        const std::lock_guard<std::mutex> lock (g_stagingLock);
        if (g_staging != juce::File())
            g_staging.deleteRecursively();
    }
    std::cerr << (standardErrorIsTerminal() ? "\n" : "") << "korva: stopped" << std::endl;
    std::_Exit (kExitInterrupted);
}

} // namespace

//==============================================================================
struct DeviceSession::ProgressBar
{
    explicit ProgressBar (const juce::String& text) : label (text), enabled (text.isNotEmpty() && standardErrorIsTerminal())
    {
    }

    ~ProgressBar() { clear(); }

    void show (double fraction)
    {
        if (! enabled || now() - lastDrawn < 100)
            return;
        lastDrawn = now();
        const int width = 30;
        const int filled = juce::jlimit (0, width, (int) (fraction * width + 0.5));
        juce::String line = "\r" + label + " [" + juce::String::repeatedString ("#", filled)
                            + juce::String::repeatedString ("-", width - filled) + "] "
                            + juce::String (juce::jlimit (0, 100, (int) (fraction * 100.0 + 0.5))).paddedLeft (' ', 3)
                            + "%";
        std::cerr << line.toStdString() << std::flush;
        drawn = true;
    }

    void clear()
    {
        if (drawn)
            std::cerr << terminal::eraseLine() << std::flush;
        drawn = false;
    }

    const juce::String label;
    const bool enabled;
    bool drawn = false;
    juce::uint32 lastDrawn = 0;
};

//==============================================================================
DeviceSession::DeviceSession() = default;

DeviceSession::~DeviceSession()
{
    closeStack();
}

bool DeviceSession::interruptRequested()
{
    return g_interrupts.load() > 0;
}

int DeviceSession::report (const Outcome& outcome, const juce::String& subject)
{
    const juce::String prefix = "korva: " + (subject.isNotEmpty() ? subject + ": " : juce::String());
    switch (outcome.kind)
    {
        case Outcome::kDone: return kExitOk;
        case Outcome::kFailed: return failLine (prefix + outcome.message, kExitFailure);
        case Outcome::kDisconnected: return failLine (prefix + "KORVA is not connected.", kExitFailure);
        case Outcome::kCancelled: return failLine (prefix + "cancelled", kExitInterrupted);
        case Outcome::kInterrupted:
        default: return failLine (prefix + "interrupted", kExitInterrupted);
    }
}

int DeviceSession::refuse (const juce::String& text, int exitCode)
{
    m_failure = text;
    return m_quiet ? exitCode : failLine ("korva: " + text, exitCode);
}

bool DeviceSession::open (int& exitCode)
{
    terminal::onInterrupt (onInterrupt);
    exitCode = kExitFailure;

    // The KORVA answers one program at a time, and the program's temporary
    // files are shared: neither KORVA Manager nor a second korva may run
    // alongside.
    m_lock = std::make_unique<InstanceLock> (InstanceLock::defaultLockFile());
    if (! m_lock->isHeld())
    {
        refuse ("KORVA Manager or another korva command is using the KORVA; close it first", kExitFailure);
        return false;
    }

    juce::MessageManager::getInstance();
    DirectorySettingManager::getInstance();

    // The pattern data manager empties the temporary folder it shares with
    // the project imports, so it comes first.
    auto* patterns = korva::PatternDataManager::getInstance();
    auto* projects = ProjectDataManager::getInstance();

    // The program's start-up order.
    m_deviceManager = HidDeviceManager::getInstance();
    m_sequencer = HidSequenceManager::getInstance();
    m_sequencer->useDeviceManager (m_deviceManager);
    m_sequencer->setPatternConversions (patterns);
    m_sequencer->setProjectSide (projects);
    m_sequencer->addListener (this);
    m_listening = true;
    m_deviceManager->setListener (m_sequencer);

    const bool connected = waitForConnection();
    if (const auto failure = openFailure(); failure.isNotEmpty())
    {
        refuse (failure, kExitFailure);
        return false;
    }
    if (! connected)
    {
        if (interruptRequested())
            exitCode = refuse ("interrupted", kExitInterrupted);
        else
            refuse ("KORVA is not connected.", kExitFailure);
        return false;
    }

    // As the program does on every connection: a device that does not answer
    // the version request in time has firmware too old to talk to.
    Exchange probe;
    probe.issue = [this] { m_sequencer->requestGetVersionInfo(); };
    probe.interpret = [] (const SequencerEvent& event) -> std::optional<Outcome>
    {
        if (event.kind == SequencerEvent::kVersionInfo && event.result == HidSequenceManager::kResultNoVersionReply)
            return Outcome::failed (devicemessages::kUpgradeFirmware);
        return std::nullopt;
    };
    probe.whenEndedUnanswered = Outcome::done();
    const Outcome outcome = run (probe);
    if (! outcome.ok())
    {
        if (m_quiet)
            exitCode = refuse (outcome.kind == Outcome::kFailed ? outcome.message : "KORVA is not connected.",
                               kExitFailure);
        else
            exitCode = report (outcome);
        return false;
    }
    if (interruptRequested())
    {
        exitCode = refuse ("interrupted", kExitInterrupted);
        return false;
    }
    exitCode = kExitOk;
    return true;
}

bool DeviceSession::waitForConnection()
{
    // The program looks for the KORVA when the device registry reports a
    // change; the first look is made at once here, and it makes the registry,
    // which lists what is plugged in right away.
    m_deviceManager->timerCallback();
    if (auto* registry = hidlink::HidManager::getInstanceWithoutCreating();
        registry == nullptr || registry->getDeviceIdentifiers().isEmpty())
        return false;

    const auto deadline = now() + (juce::uint32) kConnectTimeoutMs;
    while (! m_sequencer->isConnected() && openFailure().isEmpty() && now() < deadline && ! interruptRequested())
        pump();
    return m_sequencer->isConnected();
}

juce::String DeviceSession::openFailure() const
{
    const std::lock_guard<std::mutex> lock (m_eventLock);
    return m_openFailure;
}

void DeviceSession::openErrorOccurred (juce::String devicePath, int error)
{
    const std::lock_guard<std::mutex> lock (m_eventLock);
    m_openFailure = devicemessages::cannotOpenDevice (devicePath, error);
}

void DeviceSession::closeStack()
{
    // The program's shutdown order; the framework's at-exit objects (the
    // sequencer among them) go in main().
    if (m_sequencer != nullptr && m_listening)
        m_sequencer->removeListener (this);
    m_listening = false;
    if (m_deviceManager != nullptr)
        m_deviceManager->clearListener();
    if (m_sequencer != nullptr)
        m_sequencer->useDeviceManager (nullptr);
    if (m_deviceManager != nullptr)
        HidDeviceManager::deleteInstance();
    m_deviceManager = nullptr;

    setStagingFolder ({});
    m_lock.reset();
}

//==============================================================================
void DeviceSession::setStagingFolder (const juce::File& folder)
{
    const std::lock_guard<std::mutex> lock (g_stagingLock);
    g_staging = folder;
}

void DeviceSession::pump()
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (kSliceMs);
    if (g_interrupts.load() >= 2)
        stopAtOnce();
}

bool DeviceSession::isIdle() const
{
    return m_sequencer->getRequestor().isIdle();
}

bool DeviceSession::drainSequencer()
{
    auto ran = std::make_shared<std::atomic<bool>> (false);
    infra::hop (*m_sequencer, [ran] { ran->store (true); });
    const auto deadline = now() + 2000;
    while (! ran->load() && now() < deadline)
        pump();
    return ran->load();
}

Outcome DeviceSession::run (const Exchange& exchange)
{
    // The previous exchange may still be ending (an import answers its
    // abort with a last status): a request reserved now would be dropped.
    const auto settleBy = now() + (juce::uint32) kSettleTimeoutMs;
    while (! (isIdle() && drainSequencer()) && m_sequencer->isConnected() && now() < settleBy)
        pump();

    if (! m_sequencer->isConnected())
        return {Outcome::kDisconnected, {}, {}};
    if (interruptRequested())
        return {Outcome::kInterrupted, {}, {}};

    size_t next = eventCount();
    m_sequencer->resetRequestProgress();
    exchange.issue();

    ProgressBar bar (exchange.progressLabel);
    const auto issuedAt = now();
    juce::uint32 lastCancel = 0;
    bool seenBusy = false;
    bool cancelling = false;
    bool toldToWait = false;
    std::optional<Outcome> outcome;

    const auto readEvents = [&]
    {
        for (const auto& event : eventsFrom (next))
        {
            ++next;
            if (outcome.has_value())
                continue; // the first word counts; an aborted import sends a second
            if (event.kind == SequencerEvent::kTransportError)
                outcome = Outcome::failed (devicemessages::communicationError (event.result));
            else if (exchange.interpret)
                outcome = exchange.interpret (event);
        }
    };

    for (;;)
    {
        pump();
        readEvents();

        // Unplugged: what the transport reported on the way out (the
        // program's box for it) counts, else the lost connection.
        if (! m_sequencer->isConnected())
            return outcome.value_or (Outcome{Outcome::kDisconnected, {}, {}});

        if (interruptRequested())
        {
            if (exchange.cancellable)
            {
                cancelling = true;
                if (now() - lastCancel >= (juce::uint32) kCancelRepeatMs)
                {
                    // A transfer not yet under way is simply not sent; one
                    // under way ends with the device's abort.
                    lastCancel = now();
                    m_sequencer->getRequestor().clearReservation();
                    m_sequencer->requestCancel();
                }
            }
            else if (! toldToWait)
            {
                toldToWait = true;
                bar.clear();
                std::cerr << "korva: letting KORVA finish (Ctrl+C again to stop at once)" << std::endl;
            }
        }

        const bool idle = isIdle();
        seenBusy = seenBusy || ! idle;
        if (idle && (outcome.has_value() || seenBusy || now() - issuedAt > (juce::uint32) kUnseenRequestMs)
            && drainSequencer())
        {
            readEvents();
            break;
        }
        bar.show (m_sequencer->getRequestProgress());
    }

    if (! outcome.has_value())
    {
        if (cancelling)
            outcome = Outcome{Outcome::kCancelled, {}, {}};
        else if (exchange.whenEndedUnanswered.has_value())
            outcome = exchange.whenEndedUnanswered;
        else
            outcome = Outcome::failed (devicemessages::communicationError (HidDeviceManager::kCanceled));
    }
    if (cancelling && outcome->ok())
        outcome = Outcome{Outcome::kCancelled, {}, outcome->file};
    return *outcome;
}

DeviceSession::Interpreter DeviceSession::answeredBy (SequencerEvent::Kind kind, juce::String (*failure) (int))
{
    return [kind, failure] (const SequencerEvent& event) -> std::optional<Outcome>
    {
        if (event.kind != kind)
            return std::nullopt;
        return event.result == HidSequenceManager::kResultOK ? Outcome::done() : Outcome::failed (failure (event.result));
    };
}

Outcome DeviceSession::fetchProjectList()
{
    // Forgetting the previous answer makes the capacity figures follow this one.
    KorvaProjectList::getInstance()->clear();
    Exchange list;
    list.issue = [this] { m_sequencer->requestGetProjectInfo(); };
    list.interpret = answeredBy (SequencerEvent::kProjectInfo, devicemessages::projectInfoFailure);
    return run (list);
}

Outcome DeviceSession::fetchPatternInfo()
{
    Exchange info;
    info.issue = [this] { m_sequencer->requestGetPatternInfo(); };
    info.interpret = answeredBy (SequencerEvent::kPatternInfo, devicemessages::patternInfoFailure);
    return run (info);
}

//==============================================================================
// The sequencer's calls, from its own thread (the version time-out from the
// message thread): recorded for the loop to read.

void DeviceSession::record (SequencerEvent::Kind kind, int result, const juce::File& file)
{
    const std::lock_guard<std::mutex> lock (m_eventLock);
    m_events.push_back ({kind, result, file, {}});
}

void DeviceSession::recordTransfer (SequencerEvent::Kind kind, int result)
{
    const auto local = m_sequencer->getLocalFailure();
    const std::lock_guard<std::mutex> lock (m_eventLock);
    m_events.push_back ({kind, result, {}, local});
}

std::vector<SequencerEvent> DeviceSession::eventsFrom (size_t first) const
{
    const std::lock_guard<std::mutex> lock (m_eventLock);
    if (first >= m_events.size())
        return {};
    return {m_events.begin() + (std::ptrdiff_t) first, m_events.end()};
}

size_t DeviceSession::eventCount() const
{
    const std::lock_guard<std::mutex> lock (m_eventLock);
    return m_events.size();
}

void DeviceSession::sendErrorOccurred (juce::uint8, eResult result)
{
    record (SequencerEvent::kTransportError, (int) result);
}

void DeviceSession::receiveErrorOccurred (juce::uint8, eResult result)
{
    record (SequencerEvent::kTransportError, (int) result);
}

void DeviceSession::getProjectInfoResponsed (int result, bool)
{
    record (SequencerEvent::kProjectInfo, result);
}

void DeviceSession::deleteProjectResponsed (int result)
{
    record (SequencerEvent::kDeleteProject, result);
}

void DeviceSession::renameProjectResponsed (int result)
{
    record (SequencerEvent::kRenameProject, result);
}

void DeviceSession::importProjectDataResponsed (int result)
{
    recordTransfer (SequencerEvent::kImportProject, result);
}

void DeviceSession::queryExportProjectResponsed (int result)
{
    record (SequencerEvent::kQueryExportProject, result);
}

void DeviceSession::exportProjectDataResponsed (int result)
{
    recordTransfer (SequencerEvent::kExportProject, result);
}

void DeviceSession::getPatternInfoResponsed (int result)
{
    record (SequencerEvent::kPatternInfo, result);
}

void DeviceSession::importPatternDataResponsed (juce::File midiFile, int result)
{
    record (SequencerEvent::kImportPattern, result, midiFile);
}

void DeviceSession::queryExportPatternResponsed (int result)
{
    record (SequencerEvent::kQueryExportPattern, result);
}

void DeviceSession::exportPatternDataResponsed (int result)
{
    record (SequencerEvent::kExportPattern, result);
}

void DeviceSession::getVersionInfoResponsed (int result)
{
    record (SequencerEvent::kVersionInfo, result);
}

void DeviceSession::readProjectFileErrorOccurred()
{
    recordTransfer (SequencerEvent::kReadProjectFileError, 0);
}

void DeviceSession::readSmfErrorOccurred()
{
    record (SequencerEvent::kReadSmfError, 0);
}

} // namespace tool

} // namespace korva
