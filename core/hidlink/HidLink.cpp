#include "core/hidlink/HidLink.h"

#include "core/hidlink/HidBackend.h"
#include "core/infra/Diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace korva
{

namespace hidlink
{

//==============================================================================
// Module state, one per process.
namespace
{
std::atomic<juce::uint32> g_deviceCounter{0};

std::mutex g_instanceLock;
std::atomic<HidManager*> g_instance{nullptr};

// Held while a notification is delivered, so a callback that is removed is
// never called afterwards; recursive, so a callback may remove itself.
std::recursive_mutex g_callbacksLock;
std::vector<HidDeviceConnectCallback*> g_callbacks;

void notifyConnected (const HidDeviceCaps& caps)
{
    const std::lock_guard<std::recursive_mutex> lock (g_callbacksLock);
    const auto callbacks = g_callbacks;
    for (auto* callback : callbacks)
        if (std::find (g_callbacks.begin(), g_callbacks.end(), callback) != g_callbacks.end())
            callback->onConnected (caps);
}

// Held while the change listener is called, so that it is never called
// after it was replaced.
std::mutex g_changeListenerLock;
std::function<void()> g_changeListener;

void announceChange()
{
    const std::lock_guard<std::mutex> lock (g_changeListenerLock);
    if (g_changeListener)
        g_changeListener();
}

void notifyDisconnected (const HidDeviceCaps& caps)
{
    const std::lock_guard<std::recursive_mutex> lock (g_callbacksLock);
    const auto callbacks = g_callbacks;
    for (auto* callback : callbacks)
        if (std::find (g_callbacks.begin(), g_callbacks.end(), callback) != g_callbacks.end())
            callback->onDisconnected (caps);
}

juce::int64 nowMs()
{
    return static_cast<juce::int64> (juce::Time::getMillisecondCounterHiRes());
}
} // namespace

//==============================================================================
HidDeviceRead::HidDeviceRead (const HidDeviceCaps& caps, std::unique_ptr<HidPort> port, HidDeviceReadCallback* callback)
    : juce::Thread ("HidDeviceRead"), m_caps (caps), m_callback (callback), m_port (std::move (port))
{
    start();
}

void HidDeviceRead::start()
{
    // Reports must be routed as soon as they arrive: the transfer protocol
    // waits for each acknowledgement before the next report goes out.
    startThread (juce::Thread::Priority::highest);
}

HidDeviceRead::~HidDeviceRead()
{
    signalThreadShouldExit();
    m_stopEvent.signal();
    if (m_port != nullptr)
        m_port->wake();
    waitForThreadToExit (-1);
}

void HidDeviceRead::run()
{
    // Without a port no report is ever delivered; writing may still work.
    const int length = m_caps.inputReportLength;
    if (m_port == nullptr || length < 2 || m_callback == nullptr)
        return;

    // Two buffers, swapped after every report: a report equal to the one
    // before it is not passed on, nor is a first report of zeros.
    std::vector<std::uint8_t> first (static_cast<size_t> (length), 0);
    std::vector<std::uint8_t> second (static_cast<size_t> (length), 0);
    std::uint8_t* current = first.data();
    std::uint8_t* previous = second.data();

    while (! threadShouldExit())
    {
        std::memset (current, 0, static_cast<size_t> (length));
        int bytesRead = 0;
        const auto status = m_port->readReport (current, length, -1, bytesRead);

        if (status == HidPort::ReadStatus::kWoken || threadShouldExit())
            break;
        if (status == HidPort::ReadStatus::kTimeout)
            continue;
        if (status == HidPort::ReadStatus::kGone)
        {
            // Unplugged, or the device's end closed: nothing will come any
            // more, whether or not the device is still listed. Say so and
            // wait to be stopped.
            m_callback->onReadGone();
            m_stopEvent.wait (-1);
            break;
        }

        if (std::memcmp (current, previous, static_cast<size_t> (length)) != 0)
            m_callback->onRead (current + 1, length - 1);

        std::swap (current, previous);
    }
}

//==============================================================================
HidDeviceWrite::HidDeviceWrite (const HidDeviceCaps& caps, std::unique_ptr<HidPort> port)
    : m_caps (caps), m_port (std::move (port))
{
}

HidDeviceWrite::~HidDeviceWrite() = default;

bool HidDeviceWrite::write (const std::uint8_t* data, int size)
{
    if (m_port == nullptr || data == nullptr)
        return false;

    if (size != m_caps.outputReportLength)
    {
        infra::debugPrint ((juce::String ("Err(Capability output size) : ")
                            + juce::String::formatted ("size = %d / capability output size = %d", size,
                                                       static_cast<int> (m_caps.outputReportLength)))
                               .toRawUTF8());
        return false;
    }

    const int written = m_port->writeReport (data, size);
    if (written < 0)
    {
        m_lostDevice = m_lostDevice || m_port->errorMeansGone (-written);
        infra::debugPrint (
            (juce::String ("Err(WriteFile):") + juce::String::formatted ("GetLastError() = %d", -written)).toRawUTF8());
        return false;
    }
    if (written != size)
    {
        infra::debugPrint ((juce::String ("Err(WriteFile) : ")
                            + juce::String::formatted ("bytesWritten = %d / writeSize = %d", written, size))
                               .toRawUTF8());
        return false;
    }
    return true;
}

//==============================================================================
HidDevice::HidDevice (const HidDeviceCaps& caps, std::shared_ptr<HidBackend> backend, LostCallback onLost)
    : m_caps (caps), m_identifier (makeIdentifier (caps, ++g_deviceCounter)), m_backend (std::move (backend)),
      m_onLost (std::move (onLost))
{
}

HidDevice::~HidDevice()
{
    const std::lock_guard<std::mutex> lock (m_ioLock);
    m_reader.reset();
    m_writer.reset();
    m_claim.reset(); // the device is free for other programs once its ports are closed
}

juce::String HidDevice::makeIdentifier (const HidDeviceCaps& caps, juce::uint32 number)
{
    return juce::String (juce::CharPointer_UTF8 (caps.product.c_str())) + ","
           + juce::String (juce::CharPointer_UTF8 (caps.path.c_str())) + "," + juce::String (number);
}

void HidDevice::onRead (const std::uint8_t* data, int size)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    if (m_inputCallback != nullptr)
        m_inputCallback->onHidInput (m_input, data, size);
}

void HidDevice::onReadGone()
{
    linkLost ("reading ended");
}

void HidDevice::linkLost (const char* how)
{
    if (m_linkLost.exchange (true))
        return;
    infra::debugPrintf ("HidDevice: %s does not answer any more (%s): it counts as unplugged", m_caps.path.c_str(),
                        how);
    if (m_onLost)
        m_onLost (m_identifier);
}

void HidDevice::setInput (HidInputCallback* callback, HidInput* input)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    m_inputCallback = callback;
    m_input = input;
}

void HidDevice::clearInput (HidInput* input)
{
    const std::lock_guard<std::mutex> lock (m_lock);
    if (m_input == input)
    {
        m_inputCallback = nullptr;
        m_input = nullptr;
    }
}

void HidDevice::open()
{
    const std::lock_guard<std::mutex> lock (m_ioLock);
    m_reader.reset();
    m_writer.reset();
    m_claim.reset();

    if (m_backend == nullptr)
    {
        m_openError = ENODEV;
        return;
    }

    // The device is claimed first (another program using it is EBUSY); then
    // two opens, as the reader and the writer each have their own, the
    // reader's first, so that it hears everything the device says from here.
    int claimError = 0, readError = 0, writeError = 0;
    m_claim = m_backend->claim (m_caps.path, claimError);
    std::unique_ptr<HidPort> readPort, writePort;
    if (m_claim != nullptr)
    {
        readPort = m_backend->openPort (m_caps.path, HidPortUse::kReading, readError);
        writePort = m_backend->openPort (m_caps.path, HidPortUse::kWriting, writeError);
    }
    const int error = m_claim == nullptr     ? (claimError != 0 ? claimError : EBUSY)
                      : readPort == nullptr  ? (readError != 0 ? readError : EIO)
                      : writePort == nullptr ? (writeError != 0 ? writeError : EIO)
                                             : 0;
    m_openError = error;
    // Half open is not open: nothing is read from a device that cannot be written.
    if (error != 0)
    {
        readPort.reset();
        writePort.reset();
        m_claim.reset();
    }

    m_reader = std::make_unique<HidDeviceRead> (m_caps, std::move (readPort), this);
    m_writer = std::make_unique<HidDeviceWrite> (m_caps, std::move (writePort));
}

bool HidDevice::write (const std::uint8_t* data, int size)
{
    // Nothing more goes to a device known to be gone.
    if (m_linkLost.load())
        return false;

    bool written = false, lost = false;
    {
        const std::lock_guard<std::mutex> lock (m_ioLock);
        written = m_writer != nullptr && m_writer->write (data, size);
        lost = ! written && m_writer != nullptr && m_writer->hasLostDevice();
    }
    if (lost)
        linkLost ("a write failed");
    return written;
}

//==============================================================================
namespace
{
// The input of one registered device.
class DeviceHidInput final : public HidInput
{
public:
    DeviceHidInput (HidDevice::Ptr device, HidInputCallback* callback)
        : HidInput (device->getIdentifier()), m_device (std::move (device)), m_callback (callback)
    {
        m_device->setInput (m_callback, this);
    }

    ~DeviceHidInput() override
    {
        // Waits for a delivery in progress; afterwards nothing reaches the callback.
        m_device->clearInput (this);
        m_device = nullptr;
    }

    bool write (const std::uint8_t* data, int size) override { return m_opened.load() && m_device->write (data, size); }

    void open() override
    {
        m_device->open();
        m_opened = true;
    }

    // The reader and writer live until the device is opened again or destroyed.
    void close() override {}

    int getInputReportLength() override { return m_device->getCaps().inputReportLength; }
    int getOutputReportLength() override { return m_device->getCaps().outputReportLength; }

    void getDeviceInfo (HidDeviceInfo& info) override
    {
        const auto& caps = m_device->getCaps();
        info.vendorId = caps.vendorId;
        info.productId = caps.productId;
        info.versionNumber = caps.versionNumber;
        info.manufacturer = juce::String (juce::CharPointer_UTF8 (caps.manufacturer.c_str()));
        info.product = juce::String (juce::CharPointer_UTF8 (caps.product.c_str()));
        info.identifier = getIdentifier();
    }

    HidOpenFailure getOpenFailure() override { return {m_device->getCaps().path, m_device->getOpenError()}; }

private:
    HidDevice::Ptr m_device;
    HidInputCallback* const m_callback;
    std::atomic<bool> m_opened{false};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DeviceHidInput)
};
} // namespace

HidInput* HidInput::create (const juce::String& identifier, HidInputCallback* callback)
{
    const std::lock_guard<std::mutex> lock (g_instanceLock);
    auto* manager = g_instance.load();
    if (manager == nullptr)
        return nullptr;

    auto device = manager->findDevice (identifier);
    if (device == nullptr)
        return nullptr;

    return new DeviceHidInput (std::move (device), callback);
}

//==============================================================================
// The identifiers of devices whose link was lost, reported from the threads
// that found out (a reader, a writer) and taken by the registry's thread.
class HidManager::LostDevices
{
public:
    LostDevices() = default;

    HidWaitable getWaitable() const noexcept { return m_signal.getWaitable(); }

    void add (const juce::String& identifier)
    {
        {
            const std::lock_guard<std::mutex> lock (m_lock);
            m_identifiers.add (identifier);
        }
        m_signal.raise();
    }

    juce::StringArray take()
    {
        m_signal.consume();
        const std::lock_guard<std::mutex> lock (m_lock);
        auto taken = m_identifiers;
        m_identifiers.clear();
        return taken;
    }

private:
    HidWakeSignal m_signal;
    std::mutex m_lock;
    juce::StringArray m_identifiers;

    JUCE_DECLARE_NON_COPYABLE (LostDevices)
};

//==============================================================================
// The registry's thread. It makes the backends' watchers (they belong to it:
// on Windows the hot-plug window must be the thread's that dispatches its
// messages), then, once the registry has enumerated, waits on them, on the
// lost devices and on a wake-up signal, and hands every change to the
// connect callbacks. The watchers go with the thread.
class HidManager::Watcher final : private juce::Thread
{
public:
    // `onLost` is called on this thread when `lost` has devices to remove.
    // Returns once the watchers exist.
    Watcher (std::vector<std::shared_ptr<HidBackend>> backends, std::shared_ptr<LostDevices> lost,
             std::function<void()> onLost)
        : juce::Thread ("HidManager"), m_backends (std::move (backends)), m_lost (std::move (lost)),
          m_onLost (std::move (onLost))
    {
        if (startThread())
            m_watching.wait (-1);
        else
            infra::debugPrint ("HidManager: no thread, hot-plug is off");
    }

    ~Watcher() override
    {
        signalThreadShouldExit();
        m_stop.raise();
        waitForThreadToExit (-1);
    }

    // What the watchers saw since they were made, and everything after, is
    // handed on from now.
    void startDelivering() { m_deliver.raise(); }

    juce::Thread::ThreadID getId() const noexcept { return m_threadId.load(); }

private:
    static juce::int64 dueTime (const HidWatcher& watcher, juce::int64 now)
    {
        const int timeout = watcher.getTimeoutMs();
        return timeout < 0 ? -1 : now + timeout;
    }

    void run() override
    {
        m_threadId = juce::Thread::getCurrentThreadId();
        for (auto& backend : m_backends)
            if (auto watcher = backend->createWatcher())
                m_watchers.push_back (std::move (watcher));
        m_watching.signal();

        if (m_stop.isValid() && m_deliver.isValid())
            watch();
        else
            infra::debugPrint ("HidManager: no wake-up signal, hot-plug is off");

        // Destroyed by the thread that made them.
        m_watchers.clear();
    }

    void watch()
    {
        std::vector<HidWaitable> waitables;
        std::vector<bool> ready;
        int error = 0;

        // Until the registry has enumerated, changes wait where they are
        // (while on Windows the window still gets its messages), so that
        // none is handed on before the registry has the devices it concerns.
        for (;;)
        {
            if (threadShouldExit())
                return;
            const int count = waitForAny ({m_stop.getWaitable(), m_deliver.getWaitable()}, -1, ready, error);
            if (count < 0)
            {
                infra::debugPrintf ("HidManager: waiting failed (system error %d), hot-plug is off", error);
                return;
            }
            if (threadShouldExit() || ready[0])
                return;
            if (ready[1])
                break;
        }

        m_dueMs.assign (m_watchers.size(), -1);
        const auto start = nowMs();
        for (size_t i = 0; i < m_watchers.size(); ++i)
            m_dueMs[i] = dueTime (*m_watchers[i], start);

        std::vector<HidChange> changes;

        while (! threadShouldExit())
        {
            waitables.clear();
            waitables.push_back (m_stop.getWaitable());
            waitables.push_back (m_lost->getWaitable());
            for (auto& watcher : m_watchers)
                waitables.push_back (watcher->getWaitable());

            const auto now = nowMs();
            juce::int64 waitMs = -1;
            for (auto due : m_dueMs)
                if (due >= 0)
                    waitMs = waitMs < 0 ? juce::jmax<juce::int64> (0, due - now)
                                        : juce::jmin (waitMs, juce::jmax<juce::int64> (0, due - now));

            const int count = waitForAny (waitables, static_cast<int> (waitMs), ready, error);
            if (count < 0)
            {
                infra::debugPrintf ("HidManager: waiting failed (system error %d), hot-plug is off", error);
                return;
            }
            if (threadShouldExit() || ready[0])
                return;
            if (ready[1])
                m_onLost();

            const auto after = nowMs();
            for (size_t i = 0; i < m_watchers.size(); ++i)
            {
                const bool readable = ready[i + 2];
                const bool due = m_dueMs[i] >= 0 && after >= m_dueMs[i];
                if (! readable && ! due)
                    continue;

                changes.clear();
                m_watchers[i]->collect (readable, changes);
                m_dueMs[i] = dueTime (*m_watchers[i], nowMs());

                for (const auto& change : changes)
                {
                    if (threadShouldExit())
                        return;
                    if (change.arrived)
                        notifyConnected (change.caps);
                    else
                        notifyDisconnected (change.caps);
                }
            }
        }
    }

    const std::vector<std::shared_ptr<HidBackend>> m_backends;
    const std::shared_ptr<LostDevices> m_lost;
    const std::function<void()> m_onLost;
    std::vector<std::unique_ptr<HidWatcher>> m_watchers; // this thread's alone
    std::vector<juce::int64> m_dueMs;
    HidWakeSignal m_stop, m_deliver;
    juce::WaitableEvent m_watching;
    std::atomic<juce::Thread::ThreadID> m_threadId{nullptr};

    JUCE_DECLARE_NON_COPYABLE (Watcher)
};

//==============================================================================
HidManager* HidManager::getInstance()
{
    if (auto* instance = g_instance.load())
        return instance;
    return createInstance (makeDefaultBackends());
}

HidManager* HidManager::createInstance (std::vector<std::shared_ptr<HidBackend>> backends)
{
    const std::lock_guard<std::mutex> lock (g_instanceLock);
    if (auto* instance = g_instance.load())
        return instance;

    auto* instance = new HidManager (std::move (backends));
    g_instance = instance;
    return instance;
}

HidManager* HidManager::getInstanceWithoutCreating() noexcept
{
    return g_instance.load();
}

void HidManager::deleteInstance()
{
    const std::lock_guard<std::mutex> lock (g_instanceLock);
    std::unique_ptr<HidManager> instance (g_instance.exchange (nullptr));
}

HidManager::HidManager (std::vector<std::shared_ptr<HidBackend>> backends)
    : m_backends (std::move (backends)), m_lostDevices (std::make_shared<LostDevices>())
{
    // The watchers exist before the enumeration (the registry's thread makes
    // them, and is waited for), so a device plugged in meanwhile is reported
    // afterwards (at worst twice, which replaces it). Their changes are
    // handed on only after the enumeration, so a removal is never handed on
    // before the arrival it undoes.
    m_watcher = std::make_unique<Watcher> (m_backends, m_lostDevices, [this] { removeLostDevices(); });

    addConnectCallback (this);

    for (auto& backend : m_backends)
        for (const auto& caps : backend->enumerate())
            if (caps.isTarget())
                notifyConnected (caps);

    m_watcher->startDelivering();
}

HidManager::~HidManager()
{
    m_watcher.reset();
    removeConnectCallback (this);

    for (;;)
    {
        HidDeviceCaps caps;
        {
            const std::lock_guard<std::mutex> lock (m_lock);
            if (m_devices.isEmpty())
                break;
            caps = m_devices.getFirst()->getCaps();
        }
        onDisconnected (caps);
    }
}

juce::Thread::ThreadID HidManager::getNotificationThreadId() const noexcept
{
    return m_watcher != nullptr ? m_watcher->getId() : nullptr;
}

std::shared_ptr<HidBackend> HidManager::backendFor (const std::string& path) const
{
    for (auto& backend : m_backends)
        if (backend->ownsPath (path))
            return backend;
    return nullptr;
}

juce::StringArray HidManager::getDeviceIdentifiers() const
{
    juce::StringArray identifiers;
    const std::lock_guard<std::mutex> lock (m_lock);
    for (auto* device : m_devices)
        identifiers.add (device->getIdentifier());
    return identifiers;
}

HidDevice::Ptr HidManager::findDevice (const juce::String& identifier) const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    for (auto* device : m_devices)
        if (device->getIdentifier() == identifier)
            return device;
    return nullptr;
}

void HidManager::onConnected (const HidDeviceCaps& caps)
{
    auto backend = backendFor (caps.path);
    if (backend == nullptr)
    {
        infra::debugPrintf ("HidManager: no backend serves %s", caps.path.c_str());
        return;
    }

    HidDevice::Ptr device (new HidDevice (caps, std::move (backend),
                                          [lost = m_lostDevices] (const juce::String& identifier)
                                          { lost->add (identifier); }));
    HidDevice::Ptr replaced;
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        for (int i = 0; i < m_devices.size(); ++i)
        {
            if (m_devices.getUnchecked (i)->getCaps().path == caps.path)
            {
                replaced = m_devices.getUnchecked (i);
                m_devices.remove (i);
                break;
            }
        }
        m_devices.add (device);
    }
    // A device released here may stop its reader: never under the lock.
    replaced = nullptr;
    announceChange();
}

void HidManager::onDisconnected (const HidDeviceCaps& caps)
{
    HidDevice::Ptr removed;
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        for (int i = 0; i < m_devices.size(); ++i)
        {
            if (m_devices.getUnchecked (i)->getCaps().path == caps.path)
            {
                removed = m_devices.getUnchecked (i);
                m_devices.remove (i);
                break;
            }
        }
    }
    if (removed == nullptr)
        return;
    removed = nullptr;
    announceChange();
}

void HidManager::removeLostDevices()
{
    for (const auto& identifier : m_lostDevices->take())
    {
        HidDevice::Ptr removed;
        {
            const std::lock_guard<std::mutex> lock (m_lock);
            for (int i = 0; i < m_devices.size(); ++i)
            {
                if (m_devices.getUnchecked (i)->getIdentifier() == identifier)
                {
                    removed = m_devices.getUnchecked (i);
                    m_devices.remove (i);
                    break;
                }
            }
        }
        if (removed == nullptr)
            continue;
        infra::debugPrintf ("HidManager: %s left the registry: its link is lost", removed->getCaps().path.c_str());
        // Released outside the lock, as every removal is.
        removed = nullptr;
        announceChange();
    }
}

void HidManager::setChangeListener (std::function<void()> listener)
{
    const std::lock_guard<std::mutex> lock (g_changeListenerLock);
    g_changeListener = std::move (listener);
}

void HidManager::addConnectCallback (HidDeviceConnectCallback* callback)
{
    if (callback == nullptr)
        return;
    const std::lock_guard<std::recursive_mutex> lock (g_callbacksLock);
    if (std::find (g_callbacks.begin(), g_callbacks.end(), callback) == g_callbacks.end())
        g_callbacks.push_back (callback);
}

void HidManager::removeConnectCallback (HidDeviceConnectCallback* callback)
{
    const std::lock_guard<std::recursive_mutex> lock (g_callbacksLock);
    g_callbacks.erase (std::remove (g_callbacks.begin(), g_callbacks.end(), callback), g_callbacks.end());
}

} // namespace hidlink

} // namespace korva
