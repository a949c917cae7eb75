#pragma once

// Turns the pages' requests into exchanges with the KORVA: one request at a
// time through the transport, multi-message exchanges followed to their end,
// received projects and patterns handed to the project and pattern sides, and
// every outcome reported to the listeners as a result code.
//
// HidSequenceManager.cpp holds the queue, the public requests and the
// transport's events; ResponseHandling.cpp what each answer of the KORVA
// means; ProjectTransfer the computer's side of the project transfers.

#include "core/conversion/PatternConversions.h"
#include "core/device/HidDeviceManager.h"
#include "core/device/HidSequenceManagerListener.h"
#include "core/device/HidSequenceRequestor.h"
#include "core/device/ProjectTransfer.h"
#include "core/infra/AsyncTask.h"
#include "core/infra/FileTools.h"
#include "core/projects/ProjectSide.h"

#include <atomic>
#include <functional>
#include <memory>

namespace korva
{

class HidSequenceManager final : public juce::DeletedAtShutdown,
                                 public infra::TaskDrivenThread,
                                 public juce::MultiTimer,
                                 public juce::ActionListener,
                                 public HidDeviceManager::IHidDeviceManagerListener
{
public:
    using eResult = HidDeviceManager::eResult;

    enum ResultCode
    {
        kResultOK = 1000,
        kResultLengthError = 1001,
        kResultDataError = 1002,
        kResultRefused = 1003,
        kResultNoSpace = 2001,
        kResultRenderError = 2002,
        kResultMidiWriteError = 2003,
        kResultNoVersionReply = 2004,
        kResultBusy = 2005,
        kResultDeviceDataOld = 2006,
        kResultAppDataOld = 2007
    };

    // The result a pattern brought in as a MIDI file is reported with.
    static ResultCode resultOf (PatternToMidiResult result) noexcept;

    enum DataType : juce::uint8
    {
        kProjectInfo = 0x00,
        kDeleteProject = 0x01,
        kRenameProject = 0x02,
        kImportProject = 0x03,
        kQueryExportProject = 0x04,
        kExportProject = 0x05,
        kPatternInfo = 0x30,
        kImportPattern = 0x31,
        kQueryExportPattern = 0x32,
        kExportPattern = 0x33,
        kPushedProject = 0x80,
        kVersionInfo = 0x81
    };

    enum TimerId
    {
        kImportProgressTimer = 0,
        kExportProgressTimer = 1,
        kVersionTimer = 2,
        kReplyTimer = 3,
        kProbeTimer = 4
    };

    static constexpr int kProgressPeriodMs = 100;
    static constexpr int kVersionTimeoutMs = 3000;
    // No normal exchange waits this long for the device to start an answer;
    // it runs from the last sign of life, so slow deletes that poll are fine.
    static constexpr int kReplyTimeoutMs = 15000;
    // A KORVA that fails this many exchanges in a row (no acknowledgement,
    // no answer) does not answer at all, like a hung firmware: it is taken
    // as not usable, and asked for its list every kProbePeriodMs until it
    // answers again.
    static constexpr int kUnansweredLimit = 3;
    static constexpr int kProbePeriodMs = 2000;

    // What the sequencer needs of the transport.
    class Transport
    {
    public:
        virtual ~Transport() = default;
        virtual bool sendRequest (juce::uint8 dataType, const juce::MemoryBlock& payload) = 0;
        virtual double getSendProgress() = 0;
        virtual double getRecvProgress() = 0;
    };

    // What the sequencer needs of the pattern conversions (PatternDataManager).
    using PatternConversions = korva::PatternConversions;

    static HidSequenceManager* getInstance();

    HidSequenceManager();
    ~HidSequenceManager() override;

    // The transport the requests go through. Changing it waits for a call in
    // progress to end, so the old transport may be deleted right after.
    void setTransport (Transport* transport);
    // Sends through the process's HidDeviceManager (null: no transport).
    void useDeviceManager (HidDeviceManager* deviceManager);
    // The two sides the answers are handed to; set before the first request.
    // Without the pattern side a pattern is not converted; without the
    // project side the KORVA's list is not kept and projects are not saved.
    void setPatternConversions (PatternConversions* conversions) noexcept { m_patterns = conversions; }
    void setProjectSide (ProjectSide* projects) noexcept;
    // The reply time-out; tests shorten it.
    void setReplyTimeout (int milliseconds) noexcept { m_replyTimeoutMs = milliseconds; }
    // How long a version request waits for an answer before the firmware is
    // taken as too old (kVersionTimeoutMs unless a test shortens it).
    void setVersionTimeout (int milliseconds) noexcept { m_versionTimeoutMs = milliseconds; }
    // How often a KORVA that does not answer is asked again; tests shorten it.
    void setProbePeriod (int milliseconds) noexcept { m_probePeriodMs = milliseconds; }

    void addListener (HidSequenceManagerListener* new_listener);
    // Waits for a notification in progress to end: afterwards no call reaches the listener.
    void removeListener (HidSequenceManagerListener* listener);

    // Requests: any thread; they hop onto the manager's thread.
    void requestGetProjectInfo();
    void requestDeleteProject (juce::uint8 projectIndex);
    void requestRenameProject (juce::uint8 projectIndex, juce::String name);
    void requestImportProjectData (juce::uint8 projectIndex);
    void requestQueryExportableProject (juce::File prjFile, int patternCount);
    void requestExportProjectData();
    void requestGetPatternInfo();
    void requestImportPatternData();
    void requestQueryExportablePattern (juce::File midiFile);
    void requestExportPatternData();
    void requestGetVersionInfo();
    void requestCancel();

    HidSequenceRequestor& getRequestor() noexcept { return *m_requestor; }

    // What failed on the computer's side of the project import or export
    // under way or ended last: the folder the project could not be saved in,
    // or the project file that could not be read, and why. Empty when that
    // side did not fail (the result code then tells what the KORVA did). Set
    // before the listeners hear of the failure; a listener reads it in its
    // call, before the next transfer can replace it.
    infra::FileFailure getLocalFailure() const { return m_transfer.getLocalFailure(); }

    // A KORVA is there and answers: the pages may use it.
    bool isConnected() const noexcept { return m_connected.load() && m_responding.load(); }
    // A KORVA is there, answering or not.
    bool isPresent() const noexcept { return m_connected.load(); }
    // False while the KORVA that is there has stopped answering.
    bool isResponding() const noexcept { return m_responding.load(); }

    // Progress of the current request (0 .. 1) and its end signal, polled by
    // the progress window from any thread. The signal is cleared before a
    // request the user waits for goes out, and set when any request ends.
    double getRequestProgress() const noexcept { return m_requestProgress.load(); }
    bool isRequestFinished() const noexcept { return m_requestFinished.load(); }
    // True once per end: clears the signal it found set.
    bool takeRequestFinished() noexcept { return m_requestFinished.exchange (false); }
    // Back to 0 before a request that does not reset the progress itself.
    void resetRequestProgress() noexcept { m_requestProgress = 0.0; }

    // The transport's events (IHidDeviceManagerListener).
    void onHidConnected (juce::StringArray& identifiers) override;
    void onHidDisconnected (juce::StringArray& identifiers) override;
    void onHidOpenFailed (const hidlink::HidOpenFailure& failure) override;
    void onHidSendCompleted (eResult result) override;
    void onHidRecvStarted() override;
    void onHidRecvCompleted (eResult result, juce::uint8 dataType, juce::MemoryBlock& data) override;

private:
    void onHidRecvCompletedInternal (eResult result, juce::uint8 dataType, juce::MemoryBlock data);
    void onSendRefused (juce::uint8 dataType);
    void onRequestStarting (juce::uint8 dataType);
    void onReplyTimeout (juce::uint32 generation);
    // Ends the request in flight that the device's going cut off.
    void endCutOffRequest (const char* trace);
    // An exchange the KORVA left unanswered, and any answer at all: they
    // decide whether it is taken as responding.
    void noteUnanswered();
    void noteAnswered();
    void setResponding (bool responding);

    void timerCallback (int timerId) override;
    void actionListenerCallback (const juce::String& message) override;

    void reserve (juce::uint8 dataType, const juce::MemoryBlock& payload, int priority);
    void sendDirect (juce::uint8 dataType, const juce::MemoryBlock& payload);
    void release();
    void finishRequest();
    void resetRequestor();
    void traceRequest (const char* what, juce::uint8 dataType);

    // The reply watch: armed while the device owes an answer.
    void armReplyWatch();
    void disarmReplyWatch();

    // Response interpretation, one per data type (ResponseHandling.cpp).
    void handleAnswer (juce::uint8 dataType, const juce::MemoryBlock& data);
    void onProjectInfo (const juce::MemoryBlock& data);
    void onDeleteOrRename (juce::uint8 dataType, const juce::MemoryBlock& data);
    void onImportProject (const juce::MemoryBlock& data);
    void onQueryExportProject (const juce::MemoryBlock& data);
    void onExportProject (const juce::MemoryBlock& data);
    void sendNextExportBlock();
    void onPatternInfo (const juce::MemoryBlock& data);
    void onImportPattern (const juce::MemoryBlock& data);
    void onQueryExportPattern (const juce::MemoryBlock& data);
    void onExportPattern (const juce::MemoryBlock& data);
    void onPushedProject (const juce::MemoryBlock& data);
    void onVersionInfo();
    void sendImportCommand (juce::uint8 command);
    // Moves the progress on (never backwards, never past the end).
    void advanceProgress (double progress);

    void notify (const std::function<void (HidSequenceManagerListener&)>& call);

    bool transportSend (juce::uint8 dataType, const juce::MemoryBlock& payload);
    double transportProgress (bool sending);

    juce::CriticalSection m_transportLock;
    Transport* m_transport = nullptr;
    std::unique_ptr<Transport> m_deviceManagerTransport;
    PatternConversions* m_patterns = nullptr;
    ProjectSide* m_projects = nullptr;

    juce::CriticalSection m_listenerLock;
    juce::Array<HidSequenceManagerListener*> m_listeners;

    std::atomic<bool> m_connected { false };
    std::atomic<bool> m_responding { true };
    int m_unanswered = 0; // exchanges failed in a row (the manager's thread)
    std::atomic<int> m_probePeriodMs { kProbePeriodMs };
    std::atomic<double> m_requestProgress { 0.0 };
    std::atomic<bool> m_requestFinished { false };

    ProjectTransfer m_transfer;
    juce::File m_patternFile;

    // The request that went out and whose start the message thread still has to announce.
    std::atomic<juce::uint8> m_startedType { HidSequenceRequestor::kNone };

    std::atomic<int> m_replyTimeoutMs { kReplyTimeoutMs };
    std::atomic<int> m_versionTimeoutMs { kVersionTimeoutMs };
    std::atomic<juce::uint32> m_replyGeneration { 0 };
    bool m_receiving = false;

    std::unique_ptr<HidSequenceRequestor> m_requestor;

    static HidSequenceManager* s_instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidSequenceManager)
};

} // namespace korva
