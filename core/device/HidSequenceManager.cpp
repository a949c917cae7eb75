// The request queue of the sequence manager: requests reserved and sent one
// at a time, the reply watch, the transport's events and the timers. What
// the answers mean is in ResponseHandling.cpp.

#include "core/device/HidSequenceManager.h"

#include <mutex>

namespace korva
{

namespace
{
juce::MemoryBlock bytes (std::initializer_list<int> values)
{
    juce::MemoryBlock block;
    for (int v : values)
    {
        const auto b = static_cast<juce::uint8> (v);
        block.append (&b, 1);
    }
    return block;
}
} // namespace

HidSequenceManager* HidSequenceManager::s_instance = nullptr;

HidSequenceManager* HidSequenceManager::getInstance()
{
    static std::mutex creation;
    std::lock_guard<std::mutex> lock (creation);
    if (s_instance == nullptr)
        s_instance = new HidSequenceManager();
    return s_instance;
}

HidSequenceManager::HidSequenceManager() : TaskDrivenThread ("HidSequenceManager")
{
    m_requestor = std::make_unique<HidSequenceRequestor> (
        [this] (juce::uint8 type, const juce::MemoryBlock& payload) { return transportSend (type, payload); },
        [this] (juce::uint8 type) { onSendRefused (type); },
        [this] (juce::uint8 type) { onRequestStarting (type); });

    startTaskThread (infra::limitPriority (0, "HidSequenceManager::HidSequenceManager"));
    m_requestor->addActionListener (this);
}

HidSequenceManager::~HidSequenceManager()
{
    stopTimer (kExportProgressTimer);
    stopTimer (kImportProgressTimer);
    stopTimer (kVersionTimer);
    stopTimer (kReplyTimer);

    // No request goes out any more; then the manager's thread ends, whose
    // tasks still use the requestor; only then does the requestor go.
    m_requestor->removeActionListener (this);
    m_requestor->stop();
    stopTaskThread (10000, "HidSequenceManager::~HidSequenceManager");
    m_requestor.reset();
    if (s_instance == this)
        s_instance = nullptr;
}

//==============================================================================
namespace
{
class DeviceManagerTransport final : public HidSequenceManager::Transport
{
public:
    explicit DeviceManagerTransport (HidDeviceManager& manager) : m_manager (manager) {}
    bool sendRequest (juce::uint8 dataType, const juce::MemoryBlock& payload) override
    {
        return m_manager.sendRequest (dataType, payload);
    }
    double getSendProgress() override { return m_manager.getSendProgress(); }
    double getRecvProgress() override { return m_manager.getRecvProgress(); }

private:
    HidDeviceManager& m_manager;
};
} // namespace

void HidSequenceManager::setTransport (Transport* transport)
{
    const juce::ScopedLock lock (m_transportLock);
    m_transport = transport;
}

void HidSequenceManager::useDeviceManager (HidDeviceManager* deviceManager)
{
    const juce::ScopedLock lock (m_transportLock);
    m_transport = nullptr;
    m_deviceManagerTransport.reset();
    if (deviceManager != nullptr)
    {
        m_deviceManagerTransport = std::make_unique<DeviceManagerTransport> (*deviceManager);
        m_transport = m_deviceManagerTransport.get();
    }
}

void HidSequenceManager::setProjectSide (ProjectSide* projects) noexcept
{
    m_projects = projects;
    m_transfer.setProjectSide (projects);
}

bool HidSequenceManager::transportSend (juce::uint8 dataType, const juce::MemoryBlock& payload)
{
    const juce::ScopedLock lock (m_transportLock);
    return m_transport != nullptr && m_transport->sendRequest (dataType, payload);
}

double HidSequenceManager::transportProgress (bool sending)
{
    const juce::ScopedLock lock (m_transportLock);
    if (m_transport == nullptr)
        return 0.0;
    return sending ? m_transport->getSendProgress() : m_transport->getRecvProgress();
}

//==============================================================================
void HidSequenceManager::addListener (HidSequenceManagerListener* new_listener)
{
    if (! INFRA_VERIFY ("HidSequenceManager::addListener", QVS_EXISTS (new_listener)))
        return;
    const juce::ScopedLock lock (m_listenerLock);
    m_listeners.addIfNotAlreadyThere (new_listener);
}

void HidSequenceManager::removeListener (HidSequenceManagerListener* listener)
{
    const juce::ScopedLock lock (m_listenerLock);
    m_listeners.removeFirstMatchingValue (listener);
}

void HidSequenceManager::notify (const std::function<void (HidSequenceManagerListener&)>& call)
{
    // Newest listener first. The lock keeps a listener from being removed (and
    // destroyed) while it is being called.
    const juce::ScopedLock lock (m_listenerLock);
    for (int i = m_listeners.size(); --i >= 0;)
        call (*m_listeners.getUnchecked (i));
}

//==============================================================================
void HidSequenceManager::traceRequest (const char* what, juce::uint8 dataType)
{
    infra::debugPrint ((HidSequenceRequestor::timeStamp() + juce::String::formatted ("%s dataType => 0x%02x", what,
                                                                                      dataType))
                           .toRawUTF8());
}

void HidSequenceManager::reserve (juce::uint8 dataType, const juce::MemoryBlock& payload, int priority)
{
    m_requestor->setReservation (dataType, payload, priority);
}

void HidSequenceManager::sendDirect (juce::uint8 dataType, const juce::MemoryBlock& payload)
{
    // Gives the receive thread time to go idle after the answer it just delivered.
    juce::Thread::sleep (m_requestor->getPacing());

    if (transportSend (dataType, payload))
    {
        traceRequest ("sendReqStart", dataType);
        return;
    }
    onSendRefused (dataType);
}

void HidSequenceManager::onSendRefused (juce::uint8 dataType)
{
    if (infra::hop (*this, [this, dataType] { onSendRefused (dataType); }))
        return;

    // The transport would not take the message (no device, or busy): end the
    // request like a failed send instead of holding every later request back.
    // Its start was never announced (that waits for the message to go out):
    // nor may the next request that does go out announce it.
    auto started = dataType;
    m_startedType.compare_exchange_strong (started, HidSequenceRequestor::kNone);
    traceRequest ("sendReqError", dataType);
    finishRequest();
    noteUnanswered();
    const auto result = HidDeviceManager::kSendStartWriteError;
    notify ([&] (HidSequenceManagerListener& l) { l.sendErrorOccurred (dataType, result); });
}

void HidSequenceManager::release()
{
    disarmReplyWatch();
    m_requestor->release();
}

void HidSequenceManager::finishRequest()
{
    switch (m_requestor->getInFlightType())
    {
        case kImportProject:
            stopTimer (kImportProgressTimer);
            m_requestFinished = true;
            m_transfer.endImport();
            break;
        case kExportProject:
            stopTimer (kExportProgressTimer);
            m_requestFinished = true;
            m_transfer.endExport();
            break;
        default:
            m_requestFinished = true;
            break;
    }
    release();
}

void HidSequenceManager::advanceProgress (double progress)
{
    if (m_requestProgress.load() <= progress && progress <= 1.0)
        m_requestProgress = progress;
}

void HidSequenceManager::resetRequestor()
{
    disarmReplyWatch();
    m_requestor->reset();
}

void HidSequenceManager::armReplyWatch()
{
    ++m_replyGeneration;
    startTimer (kReplyTimer, m_replyTimeoutMs.load());
}

void HidSequenceManager::disarmReplyWatch()
{
    ++m_replyGeneration;
    stopTimer (kReplyTimer);
}

void HidSequenceManager::onReplyTimeout (juce::uint32 generation)
{
    if (infra::hop (*this, [this, generation] { onReplyTimeout (generation); }))
        return;

    const auto type = m_requestor->getInFlightType();
    if (generation != m_replyGeneration.load() || m_receiving || type == HidSequenceRequestor::kNone)
        return;

    traceRequest ("recvResTimeout", type);
    finishRequest();
    noteUnanswered();
    const auto result = HidDeviceManager::kRecvDataTimeout;
    notify ([&] (HidSequenceManagerListener& l) { l.receiveErrorOccurred (type, result); });
}

//==============================================================================
// Requests

void HidSequenceManager::requestGetProjectInfo()
{
    if (infra::hop (*this, [this] { requestGetProjectInfo(); }))
        return;
    reserve (kProjectInfo, {}, 0);
}

void HidSequenceManager::requestDeleteProject (juce::uint8 projectIndex)
{
    if (infra::hop (*this, [this, projectIndex] { requestDeleteProject (projectIndex); }))
        return;
    reserve (kDeleteProject, bytes ({ 0x00, projectIndex }), 1);
}

void HidSequenceManager::requestRenameProject (juce::uint8 projectIndex, juce::String name)
{
    if (infra::hop (*this, [this, projectIndex, name] { requestRenameProject (projectIndex, name); }))
        return;

    juce::MemoryBlock payload (35, true);
    auto* p = static_cast<juce::uint8*> (payload.getData());
    p[0] = 0x00;
    p[1] = projectIndex;
    // The dialog allows at most 32 bytes; anything longer is cut, keeping the NUL.
    const auto* utf8 = name.toRawUTF8();
    for (size_t i = 0; i < 32 && utf8[i] != 0; ++i)
        p[2 + i] = static_cast<juce::uint8> (utf8[i]);
    reserve (kRenameProject, payload, 1);
}

void HidSequenceManager::requestImportProjectData (juce::uint8 projectIndex)
{
    if (infra::hop (*this, [this, projectIndex] { requestImportProjectData (projectIndex); }))
        return;

    if (! m_transfer.startImport (projectIndex))
    {
        infra::debugPrint ("Canceling ImportProjectData");
        return;
    }
    reserve (kImportProject, bytes ({ projectIndex, 0x00 }), 2);
}

void HidSequenceManager::requestQueryExportableProject (juce::File prjFile, int patternCount)
{
    if (infra::hop (*this, [this, prjFile, patternCount] { requestQueryExportableProject (prjFile, patternCount); }))
        return;

    if (m_requestor->getInFlightType() == kExportProject)
    {
        infra::debugPrint ("Requested ExportProjectData");
        return;
    }
    m_transfer.setExportFile (prjFile);
    reserve (kQueryExportProject, bytes ({ (patternCount >> 8) & 0xFF, patternCount & 0xFF }), 1);
}

void HidSequenceManager::requestExportProjectData()
{
    if (infra::hop (*this, [this] { requestExportProjectData(); }))
        return;

    if (m_transfer.isExportCancelled())
    {
        infra::debugPrint ("Canceling ExportProjectData");
        return;
    }

    juce::MemoryBlock header;
    if (! m_transfer.startExport (header))
    {
        notify ([] (HidSequenceManagerListener& l) { l.readProjectFileErrorOccurred(); });
        return;
    }
    reserve (kExportProject, header, 2);
}

void HidSequenceManager::requestGetPatternInfo()
{
    if (infra::hop (*this, [this] { requestGetPatternInfo(); }))
        return;
    reserve (kPatternInfo, {}, 0);
}

void HidSequenceManager::requestImportPatternData()
{
    if (infra::hop (*this, [this] { requestImportPatternData(); }))
        return;
    reserve (kImportPattern, {}, 1);
}

void HidSequenceManager::requestQueryExportablePattern (juce::File midiFile)
{
    if (infra::hop (*this, [this, midiFile] { requestQueryExportablePattern (midiFile); }))
        return;
    m_patternFile = midiFile;
    reserve (kQueryExportPattern, bytes ({ 0x33 }), 1);
}

void HidSequenceManager::requestExportPatternData()
{
    if (infra::hop (*this, [this] { requestExportPatternData(); }))
        return;

    juce::MemoryBlock payload;
    if (m_patterns == nullptr || ! m_patterns->convertMidiFileToPattern (m_patternFile, payload))
    {
        notify ([] (HidSequenceManagerListener& l) { l.readSmfErrorOccurred(); });
        return;
    }
    reserve (kExportPattern, payload, 1);
}

void HidSequenceManager::requestGetVersionInfo()
{
    if (infra::hop (*this, [this] { requestGetVersionInfo(); }))
        return;
    reserve (kVersionInfo, {}, 2);
}

void HidSequenceManager::requestCancel()
{
    if (infra::hop (*this, [this] { requestCancel(); }))
        return;

    const auto type = m_requestor->getInFlightType();
    if (type == kImportProject)
        m_transfer.cancelImport();
    else if (type == kExportProject)
        m_transfer.cancelExport();
}

//==============================================================================
// Transport events

void HidSequenceManager::onHidConnected (juce::StringArray& identifiers)
{
    juce::ignoreUnused (identifiers);
    if (infra::hop (*this, [this] {
            juce::StringArray none;
            onHidConnected (none);
        }))
        return;

    m_connected = true;
    m_unanswered = 0;
    m_responding = true;
    stopTimer (kProbeTimer);
    resetRequestor();
    notify ([] (HidSequenceManagerListener& l) { l.connectionChanged(); });
}

void HidSequenceManager::onHidDisconnected (juce::StringArray& identifiers)
{
    juce::ignoreUnused (identifiers);
    if (infra::hop (*this, [this] {
            juce::StringArray none;
            onHidDisconnected (none);
        }))
        return;

    m_connected = false;
    m_receiving = false;
    m_unanswered = 0;
    m_responding = true;
    stopTimer (kProbeTimer);
    endCutOffRequest ("recvResDisconnected");
    resetRequestor();
    stopTimer (kVersionTimer);
    notify ([] (HidSequenceManagerListener& l) { l.connectionChanged(); });
}

void HidSequenceManager::onHidOpenFailed (const hidlink::HidOpenFailure& failure)
{
    if (infra::hop (*this, [this, failure] { onHidOpenFailed (failure); }))
        return;

    const juce::String path (juce::CharPointer_UTF8 (failure.path.c_str()));
    notify ([&] (HidSequenceManagerListener& l) { l.openErrorOccurred (path, failure.error); });
}

void HidSequenceManager::endCutOffRequest (const char* trace)
{
    // The transport cancels its transfer when the device goes, and tells of
    // that before the device's going is known here, or after: whichever comes
    // first ends the request. One the user is waiting for (a transfer, a
    // rename, ...) is reported like a device that stopped answering, or the
    // user would see its progress end as if it had worked. The polls and the
    // firmware probe are only repeated, and a cancelled transfer was given up.
    const auto type = m_requestor->getInFlightType();
    if (type != HidSequenceRequestor::kNone)
        traceRequest (trace, type);
    const bool userWaiting = type != HidSequenceRequestor::kNone && type != kProjectInfo && type != kPatternInfo
                             && type != kVersionInfo && ! (type == kImportProject && m_transfer.isImportCancelled())
                             && ! (type == kExportProject && m_transfer.isExportCancelled());
    finishRequest();
    if (userWaiting)
    {
        const auto result = HidDeviceManager::kRecvDataTimeout;
        notify ([&] (HidSequenceManagerListener& l) { l.receiveErrorOccurred (type, result); });
    }
}

void HidSequenceManager::noteUnanswered()
{
    if (m_connected.load() && ++m_unanswered >= kUnansweredLimit && m_responding.load())
        setResponding (false);
}

void HidSequenceManager::noteAnswered()
{
    m_unanswered = 0;
    if (! m_responding.load())
        setResponding (true);
}

void HidSequenceManager::setResponding (bool responding)
{
    m_responding = responding;
    if (responding)
    {
        infra::debugPrint ((HidSequenceRequestor::timeStamp() + "KORVA answers again").toRawUTF8());
        stopTimer (kProbeTimer);
    }
    else
    {
        infra::logPrintf ("KORVA does not answer: %d exchanges in a row had no answer", m_unanswered);
        startTimer (kProbeTimer, m_probePeriodMs.load());
    }
    notify ([] (HidSequenceManagerListener& l) { l.connectionChanged(); });
}

void HidSequenceManager::onHidSendCompleted (eResult result)
{
    if (infra::hop (*this, [this, result] { onHidSendCompleted (result); }))
        return;

    const auto type = m_requestor->getInFlightType();
    if (result == HidDeviceManager::kSuccess)
    {
        traceRequest ("sendReqSuccess", type);
        // The device may have started its answer already (the transport is
        // idle before it reports the end of a send): then nothing is owed.
        if (m_receiving || type == HidSequenceRequestor::kNone)
            return;
        if (type == kVersionInfo)
            startTimer (kVersionTimer, m_versionTimeoutMs.load());
        else
            armReplyWatch();
    }
    else if (result == HidDeviceManager::kCanceled)
    {
        endCutOffRequest ("sendReqCancel");
    }
    else
    {
        traceRequest ("sendReqError", type);
        finishRequest();
        noteUnanswered();
        notify ([&] (HidSequenceManagerListener& l) { l.sendErrorOccurred (type, result); });
    }
}

void HidSequenceManager::onHidRecvStarted()
{
    if (infra::hop (*this, [this] { onHidRecvStarted(); }))
        return;

    m_receiving = true;
    disarmReplyWatch();
    traceRequest ("recvResStart", m_requestor->getInFlightType());
}

void HidSequenceManager::onHidRecvCompleted (eResult result, juce::uint8 dataType, juce::MemoryBlock& data)
{
    // The transport reuses its buffer: take a copy before hopping.
    onHidRecvCompletedInternal (result, dataType, juce::MemoryBlock (data));
}

void HidSequenceManager::onHidRecvCompletedInternal (eResult result, juce::uint8 dataType, juce::MemoryBlock data)
{
    if (infra::hop (*this, [this, result, dataType, data] { onHidRecvCompletedInternal (result, dataType, data); }))
        return;

    m_receiving = false;

    if (result == HidDeviceManager::kCanceled)
    {
        endCutOffRequest ("recvResCancel");
        return;
    }
    if (result != HidDeviceManager::kSuccess)
    {
        traceRequest ("recvResError", dataType);
        finishRequest();
        noteUnanswered();
        notify ([&] (HidSequenceManagerListener& l) { l.receiveErrorOccurred (dataType, result); });
        return;
    }

    traceRequest ("recvResSuccess", dataType);
    noteAnswered();

    // Every answer carries the type of the request it answers. One that does
    // not belong to the request in progress (nothing, or another) comes after
    // its own request ended (a reply or version time-out): acting on it would
    // end the request now in progress, or take up an exchange already
    // reported as failed. Only a pushed project comes unasked.
    const auto inFlight = m_requestor->getInFlightType();
    if (dataType != inFlight && dataType != kPushedProject)
    {
        traceRequest ("recvResIgnored", dataType);
        if (inFlight != HidSequenceRequestor::kNone && inFlight != kVersionInfo)
            armReplyWatch();
        return;
    }

    handleAnswer (dataType, data);
}

//==============================================================================
// Message thread: timers and the requestor's "SendRequest"

void HidSequenceManager::timerCallback (int timerId)
{
    switch (timerId)
    {
        case kVersionTimer:
            stopTimer (kVersionTimer);
            release();
            notify ([] (HidSequenceManagerListener& l) { l.getVersionInfoResponsed (kResultNoVersionReply); });
            break;

        case kImportProgressTimer:
        case kExportProgressTimer:
        {
            const bool import = timerId == kImportProgressTimer;
            const auto count = import ? m_transfer.getImportCount() : m_transfer.getExportCount();
            if (count.total != 0 && count.done != count.total)
            {
                const double block = transportProgress (! import);
                advanceProgress ((double) count.done / count.total + block / count.total);
            }
            break;
        }

        case kReplyTimer:
            stopTimer (kReplyTimer);
            onReplyTimeout (m_replyGeneration.load());
            break;

        case kProbeTimer:
            // Nobody asks a KORVA that is not usable: this does, until it answers.
            if (m_connected.load() && ! m_responding.load())
                requestGetProjectInfo();
            else
                stopTimer (kProbeTimer);
            break;

        default:
            break;
    }
}

void HidSequenceManager::onRequestStarting (juce::uint8 dataType)
{
    // On the requestor's thread, before the message goes out. The progress and
    // the end signal are reset here rather than on the message thread: a fast
    // device may end the request before the message thread gets to it, and
    // that end must not be undone.
    bool announce = false;
    switch (dataType)
    {
        case kDeleteProject:
        case kRenameProject: announce = true; break;
        case kImportProject: announce = m_transfer.takeImportAnnouncement(); break;
        case kExportProject: announce = m_transfer.takeExportAnnouncement(); break;
        default: break;
    }

    if (announce)
    {
        m_requestFinished = false;
        m_requestProgress = 0.0;
        m_startedType = dataType;
    }
}

void HidSequenceManager::actionListenerCallback (const juce::String& message)
{
    if (message != HidSequenceRequestor::kSendRequestAction)
        return;

    switch (m_startedType.exchange (HidSequenceRequestor::kNone))
    {
        case kDeleteProject:
            notify ([] (HidSequenceManagerListener& l) { l.deleteProjectRequestStarted(); });
            break;
        case kRenameProject:
            notify ([] (HidSequenceManagerListener& l) { l.renameProjectRequestStarted(); });
            break;
        case kImportProject:
            if (m_requestor->getInFlightType() == kImportProject)
                startTimer (kImportProgressTimer, kProgressPeriodMs);
            notify ([] (HidSequenceManagerListener& l) { l.importProjectDataRequestStarted(); });
            break;
        case kExportProject:
            if (m_requestor->getInFlightType() == kExportProject)
                startTimer (kExportProgressTimer, kProgressPeriodMs);
            notify ([] (HidSequenceManagerListener& l) { l.exportProjectDataRequestStarted(); });
            break;
        default:
            break;
    }
}

} // namespace korva
