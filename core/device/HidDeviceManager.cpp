#include "core/device/HidDeviceManager.h"

#include "core/device/HidDeviceTransferThreads.h"
#include "core/infra/FileTools.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace korva
{

namespace
{
std::mutex g_instanceLock;
std::atomic<HidDeviceManager*> g_instance{nullptr};
} // namespace

HidDeviceManager* HidDeviceManager::getInstance()
{
    if (auto* instance = g_instance.load())
        return instance;

    const std::lock_guard<std::mutex> lock (g_instanceLock);
    if (g_instance.load() == nullptr)
        g_instance = new HidDeviceManager();
    return g_instance.load();
}

void HidDeviceManager::deleteInstance()
{
    const std::lock_guard<std::mutex> lock (g_instanceLock);
    delete g_instance.exchange (nullptr);
}

HidDeviceManager::HidDeviceManager() : HidDeviceManager (Timing()) {}

HidDeviceManager::HidDeviceManager (Timing timing)
    : infra::TaskDrivenThread ("HidDeviceManager"), m_timing (timing),
      m_pSendThread (std::make_unique<HidDeviceSendThread> (*this)),
      m_pRecvThread (std::make_unique<HidDeviceRecvThread> (*this))
{
    startTaskThread (0);
}

HidDeviceManager::~HidDeviceManager()
{
    // A tick during destruction would make a new registry after the old one
    // was deleted below; no change of the registry may start one.
    hidlink::HidManager::setChangeListener (nullptr);
    stopTimer();
    stopTaskThread (10000, "HidDeviceManager::~HidDeviceManager");

    hidlink::HidManager::deleteInstance();

    // The input goes before the transfer threads: deleting it waits for a
    // delivery in progress, and afterwards no input reaches the threads.
    {
        const juce::ScopedLock lock (m_lock);
        delete m_pHidInput.exchange (nullptr);
        m_connectedDevices.clear();
    }
    m_pRecvThread.reset();
    m_pSendThread.reset();
}

void HidDeviceManager::setListener (IHidDeviceManagerListener* listener)
{
    if (listener == nullptr)
    {
        infra::debugPrint ("listener == nullptr");
        return;
    }
    m_pListener = listener;

    // The registry says when its devices change: a detection pass follows
    // each change at once, and nothing looks for devices in between.
    hidlink::HidManager::setChangeListener ([this] { startTimer (kChangeDelayMs); });
    startTimer (m_timing.detectionPeriodMs);
}

void HidDeviceManager::clearListener()
{
    hidlink::HidManager::setChangeListener (nullptr);
    stopTimer();
    m_pListener = nullptr;
}

HidDeviceManager::IHidDeviceManagerListener* HidDeviceManager::liveListener() const
{
    auto* listener = m_pListener.load();
    return QVS_EXISTS (listener) ? listener : nullptr;
}

double HidDeviceManager::getSendProgress() const
{
    return m_pSendThread->getProgress();
}

double HidDeviceManager::getRecvProgress() const
{
    return m_pRecvThread->getProgress();
}

juce::uint16 HidDeviceManager::calcCrc16 (const void* data, size_t size) noexcept
{
    const auto* bytes = static_cast<const juce::uint8*> (data);
    juce::uint16 crc = 0;
    for (size_t i = 0; i < size; ++i)
    {
        crc = static_cast<juce::uint16> (crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<juce::uint16> ((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

//==============================================================================
void HidDeviceManager::timerCallback()
{
    // One pass per tick: the next one comes with the registry's next change.
    stopTimer();
    if (m_pListener.load() == nullptr)
        return;
    ++m_detectionPasses;

    // The first tick creates the registry.
    auto identifiers = hidlink::HidManager::getInstance()->getDeviceIdentifiers();
    identifiers.removeEmptyStrings();

    int connectedCount = 0;
    juce::String connected;
    {
        const juce::ScopedLock lock (m_lock);
        connectedCount = m_connectedDevices.size();
        if (connectedCount == 1)
            connected = m_connectedDevices[0];

        // A device that could not be opened is left alone until it is
        // unplugged; plugged in again, it is another device and tried afresh.
        if (m_unopenedDevice.isNotEmpty() && ! identifiers.contains (m_unopenedDevice))
            m_unopenedDevice.clear();
        if (m_busyDevice.isNotEmpty() && ! identifiers.contains (m_busyDevice))
            m_busyDevice.clear();
        identifiers.removeString (m_unopenedDevice);
    }

    // At most one device is connected; others are ignored.
    if (connectedCount == 0 && ! identifiers.isEmpty())
        connectedHidDevice (identifiers[0]);
    else if (connectedCount == 1 && ! identifiers.contains (connected))
        disconnectedHidDevice (connected);
}

void HidDeviceManager::connectedHidDevice (juce::String identifier)
{
    if (infra::hop (*this, [this, identifier] { connectedHidDevice (identifier); }))
        return;

    juce::StringArray connected;
    hidlink::HidOpenFailure failure;
    bool toldAlready = false;
    {
        const juce::ScopedLock lock (m_lock);
        if (! m_connectedDevices.isEmpty() || identifier == m_unopenedDevice)
            return;

        auto* input = hidlink::HidInput::create (identifier, this);
        if (input == nullptr)
            return; // gone again meanwhile

        delete m_pHidInput.exchange (input);
        input->open();

        // A device that cannot be opened is not connected: every request to
        // it would fail.
        failure = input->getOpenFailure();
        if (failure.error == EBUSY)
        {
            // Another program (a korva command, or KORVA Manager of another
            // user) has the KORVA: it is tried again every detection period,
            // and the user is told once.
            delete m_pHidInput.exchange (nullptr);
            toldAlready = m_busyDevice == identifier;
            if (! toldAlready)
                infra::debugPrintf ("HidDeviceManager: %s is in use by another program: not connected",
                                    failure.path.c_str());
            m_busyDevice = identifier;
            if (m_pListener.load() != nullptr)
                startTimer (m_timing.detectionPeriodMs);
        }
        else if (failure.error != 0)
        {
            infra::debugPrintf ("HidDeviceManager: %s cannot be opened (%s): not connected", failure.path.c_str(),
                                infra::FileTools::errorText (failure.error).toRawUTF8());
            delete m_pHidInput.exchange (nullptr);
            m_unopenedDevice = identifier;
            m_busyDevice.clear();
            lookAgain();
        }
        else
        {
            m_busyDevice.clear();
            m_connectedDevices.add (identifier);
            connected = m_connectedDevices;
        }
    }

    auto* listener = liveListener();
    if (listener == nullptr || toldAlready)
        return;
    if (failure.error != 0)
    {
        // Gone again meanwhile: nothing to tell.
        if (failure.error != ENOENT && failure.error != ENODEV)
            listener->onHidOpenFailed (failure);
    }
    else
        listener->onHidConnected (connected);
}

void HidDeviceManager::disconnectedHidDevice (juce::String identifier)
{
    if (infra::hop (*this, [this, identifier] { disconnectedHidDevice (identifier); }))
        return;

    {
        const juce::ScopedLock lock (m_lock);
        if (m_connectedDevices.size() != 1)
            return;

        m_connectedDevices.clear();
        if (auto* input = m_pHidInput.exchange (nullptr))
        {
            input->close();
            delete input;
        }
        // A transfer in progress ends now: left alone, a receive would wait
        // out its time-outs for a device that is gone, refuse every request
        // to a device plugged in meanwhile, and report its failure late,
        // into that device's exchanges.
        m_pSendThread->interrupt();
        m_pRecvThread->interrupt();
    }

    if (auto* listener = liveListener())
    {
        juce::StringArray disconnected (identifier);
        listener->onHidDisconnected (disconnected);
    }
    lookAgain();
}

void HidDeviceManager::lookAgain()
{
    // Another device may be waiting for its turn, now that this one went (or
    // could not be opened): one more detection pass finds it.
    if (m_pListener.load() != nullptr)
        startTimer (kChangeDelayMs);
}

//==============================================================================
bool HidDeviceManager::sendRequest (juce::uint8 dataType, const juce::MemoryBlock& payload)
{
    const juce::ScopedLock lock (m_lock);

    if (m_pListener.load() == nullptr)
    {
        infra::debugPrint ("m_pListener == nullptr");
        return false;
    }
    if (m_pHidInput.load() == nullptr)
    {
        infra::debugPrint ("m_pHidInput == nullptr");
        return false;
    }

    const int sendStatus = m_pSendThread->getStatus();
    if (sendStatus != HidDeviceSendThread::kDoNothing)
    {
        infra::debugPrint ((juce::String ("Send Status(") + HidDeviceSendThread::getStatusName (sendStatus)
                            + juce::String::formatted ("(%d)", sendStatus) + ")" + " != kDoNothing")
                               .toRawUTF8());
        return false;
    }

    const int recvStatus = m_pRecvThread->getStatus();
    if (recvStatus != HidDeviceRecvThread::kDoNothing)
    {
        infra::debugPrint ((juce::String ("Recv Status(") + HidDeviceRecvThread::getStatusName (recvStatus)
                            + juce::String::formatted ("(%d)", recvStatus) + ")" + " != kDoNothing")
                               .toRawUTF8());
        return false;
    }

    m_lastAckToSender = 0; // the new send has had no acknowledgement yet
    m_pSendThread->arm (dataType, payload);
    return true;
}

bool HidDeviceManager::writeReport (const juce::uint8* report, bool missingInputIsSuccess)
{
    const juce::ScopedLock lock (m_lock);
    auto* input = m_pHidInput.load();
    if (input == nullptr)
        return missingInputIsSuccess;
    return input->write (report, kReportLength);
}

void HidDeviceManager::onHidInput (hidlink::HidInput* source, const juce::uint8* data, int size)
{
    if (source != m_pHidInput.load())
    {
        infra::debugPrint ("source != m_pHidInput");
        return;
    }
    if (data == nullptr)
    {
        infra::debugPrint ("data == nullptr");
        return;
    }
    if (size != kReadLength)
    {
        infra::debugPrintf ("kReadLength(%d) != length(%d)", kReadLength, size);
        return;
    }

    const int code = data[0];
    switch (code)
    {
        case kCmdStartData:
        case kCmdData:
        {
            // Half-duplex: nothing is received while sending. But a device
            // may start its answer the moment it has acknowledged the last
            // packet, before the send thread has woken up to that
            // acknowledgement: such a start waits a moment for it.
            int sendStatus = m_pSendThread->getStatus();
            if (sendStatus != HidDeviceSendThread::kDoNothing && code == kCmdStartData
                && m_lastAckToSender.load() == kCmdDataComplete)
                sendStatus = m_pSendThread->waitUntilIdle (kAnswerGraceMs);
            if (sendStatus != HidDeviceSendThread::kDoNothing)
            {
                infra::debugPrintf ("Send Thread State Err(Cmd:%d / SendThreadStatus:%d)", code, sendStatus);
                return;
            }
            m_pRecvThread->route (data, size);
            break;
        }

        case kCmdStartDataAck:
        case kCmdDataAck:
        case kCmdDataComplete:
        case kCmdDataError:
        {
            const int recvStatus = m_pRecvThread->getStatus();
            if (recvStatus != HidDeviceRecvThread::kDoNothing)
            {
                infra::debugPrintf ("Send Thread State Err(Cmd:%d / RecvThreadStatus:%d)", code, recvStatus);
                return;
            }
            m_lastAckToSender = static_cast<juce::uint8> (code);
            m_pSendThread->route (data, size);
            break;
        }

        default:
            infra::debugPrintf ("CmdErr(0x%02X))", code);
            break;
    }
}

} // namespace korva
