#pragma once

// The HID access layer: a registry of the KORVA devices that are present, kept
// current by hot-plug notifications, and one open input per device with a
// reader thread that hands every new input report to its client and a writer
// that sends one output report at a time. It knows nothing of what the
// reports contain.
//
// Devices come from backends (HidBackend.h): on Linux the hidraw nodes of
// real devices and the sockets of virtual ones, on Windows the HID class
// driver. The registry does not care which.

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace korva
{

namespace hidlink
{

class HidBackend;
class HidPort;
class HidClaim;
class HidInput;

// The target device.
constexpr std::uint16_t kKorvaVendorId = 0x7C4E;
constexpr std::uint16_t kKorvaProductId = 0x0A31;

// Describes one HID interface. Every field that cannot be read stays 0 or
// empty; the path is always set. Report lengths count the report-ID byte.
class HidDeviceCaps
{
public:
    HidDeviceCaps() = default;
    explicit HidDeviceCaps (std::string devicePath) : path (std::move (devicePath)) {}
    HidDeviceCaps (const HidDeviceCaps&) = default;
    HidDeviceCaps& operator= (const HidDeviceCaps&) = default;
    virtual ~HidDeviceCaps() = default;

    bool isTarget() const noexcept { return vendorId == kKorvaVendorId && productId == kKorvaProductId; }

    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    std::string manufacturer;
    std::string product;
    std::uint16_t inputReportLength = 0;
    std::uint16_t outputReportLength = 0;
};

struct HidDeviceInfo
{
    int vendorId = 0;
    int productId = 0;
    int versionNumber = 0;
    juce::String manufacturer;
    juce::String product;
    juce::String identifier;
};

//==============================================================================
class HidDeviceConnectCallback
{
public:
    virtual void onConnected (const HidDeviceCaps& caps) = 0;
    virtual void onDisconnected (const HidDeviceCaps& caps) = 0;
    virtual ~HidDeviceConnectCallback() = default;
};

class HidDeviceReadCallback
{
public:
    virtual ~HidDeviceReadCallback() = default;
    virtual void onRead (const std::uint8_t* data, int size) = 0;
    // The device will not answer again (its peer closed, it was unplugged,
    // its reads fail): called once, on the reader thread, after the last report.
    virtual void onReadGone() {}
};

class HidInputCallback
{
public:
    // Runs on the device's reader thread. It must not delete `source`.
    virtual void onHidInput (HidInput* source, const std::uint8_t* data, int size) = 0;
    virtual ~HidInputCallback() = default;
};

//==============================================================================
// The reader of one device: a thread that waits for input reports (without a
// time limit: stopping it wakes it) and passes each report that differs from
// the one before it, without its report-ID byte, to the callback. It reads
// from a port that is open already, so every report the device sends from
// then on is seen. When
// the port tells that the device has gone, the reader says so once and reads
// no more.
class HidDeviceRead final : private juce::Thread
{
public:
    // Without a port (the device could not be opened) nothing is ever read.
    HidDeviceRead (const HidDeviceCaps& caps, std::unique_ptr<HidPort> port, HidDeviceReadCallback* callback);
    // Stops the thread and waits for it without a limit; the port's wake-up
    // makes that prompt.
    ~HidDeviceRead() override;

private:
    void run() override;
    void start();

    const HidDeviceCaps m_caps;
    HidDeviceReadCallback* const m_callback;
    std::unique_ptr<HidPort> m_port;
    juce::WaitableEvent m_stopEvent{true};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidDeviceRead)
};

// The writer of one device. Traces its refusals and failures.
class HidDeviceWrite final
{
public:
    // Without a port (the device could not be opened) every write fails.
    HidDeviceWrite (const HidDeviceCaps& caps, std::unique_ptr<HidPort> port);
    ~HidDeviceWrite();

    // One output report, report ID first; size must be outputReportLength.
    bool write (const std::uint8_t* data, int size);

    // A write failed in a way that means the device is gone (as its port judges).
    bool hasLostDevice() const noexcept { return m_lostDevice; }

private:
    const HidDeviceCaps m_caps;
    std::unique_ptr<HidPort> m_port;
    bool m_lostDevice = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidDeviceWrite)
};

//==============================================================================
// Why a device could not be opened: its path and the system's error number.
struct HidOpenFailure
{
    std::string path;
    int error = 0; // 0: the device was opened
};

// One registered device. The registry holds one reference, an open input
// another; the device lives until the last one goes.
class HidDevice final : public juce::ReferenceCountedObject, public HidDeviceReadCallback
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<HidDevice>;
    // Told (with the device's identifier) when the device's link is lost.
    using LostCallback = std::function<void (const juce::String&)>;

    HidDevice (const HidDeviceCaps& caps, std::shared_ptr<HidBackend> backend, LostCallback onLost = {});
    ~HidDevice() override;

    const HidDeviceCaps& getCaps() const noexcept { return m_caps; }
    const juce::String& getIdentifier() const noexcept { return m_identifier; }

    // Delivery: under the device lock, to the input's callback if there is one.
    void onRead (const std::uint8_t* data, int size) override;
    void onReadGone() override;

    // The pair of the open input; a second input takes it over.
    void setInput (HidInputCallback* callback, HidInput* input);
    // Clears the pair only when it still belongs to `input`.
    void clearInput (HidInput* input);

    // A new reader and writer; the previous pair, if any, is destroyed first.
    void open();
    bool write (const std::uint8_t* data, int size);
    // The error of the last open; 0 when it succeeded (or before any).
    int getOpenError() const noexcept { return m_openError.load(); }

    // The device will not answer again although it may still be listed (its
    // program was killed, its link died): it is to be treated as unplugged.
    // The first report of it is passed to the registry.
    void linkLost (const char* how);

    // Identifier: product, ",", path, ",", then the number of this device.
    static juce::String makeIdentifier (const HidDeviceCaps& caps, juce::uint32 number);

private:
    const HidDeviceCaps m_caps;
    const juce::String m_identifier;
    const std::shared_ptr<HidBackend> m_backend;
    const LostCallback m_onLost;
    std::atomic<int> m_openError{0};
    std::atomic<bool> m_linkLost{false};

    std::mutex m_lock; // guards m_inputCallback and m_input; held during a delivery
    HidInputCallback* m_inputCallback = nullptr;
    HidInput* m_input = nullptr;

    std::mutex m_ioLock; // guards the claim, the reader and the writer
    std::unique_ptr<HidClaim> m_claim;
    std::unique_ptr<HidDeviceRead> m_reader;
    std::unique_ptr<HidDeviceWrite> m_writer;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidDevice)
};

//==============================================================================
// The client's handle on one registered device.
class HidInput
{
public:
    virtual ~HidInput() = default;
    virtual bool write (const std::uint8_t* data, int size) = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual int getInputReportLength() = 0;
    virtual int getOutputReportLength() = 0;
    virtual void getDeviceInfo (HidDeviceInfo& info) = 0;
    // After open: why the device could not be opened (error 0: it was).
    virtual HidOpenFailure getOpenFailure() = 0;

    // Null when no registered device has that identifier. Owned by the caller.
    static HidInput* create (const juce::String& identifier, HidInputCallback* callback);

    const juce::String& getIdentifier() const noexcept { return m_identifier; }

protected:
    explicit HidInput (const juce::String& identifier) : m_identifier (identifier) {}

private:
    const juce::String m_identifier;
};

//==============================================================================
// The registry, one per process. Arrivals and removals are handled on the
// registry's own thread ("HidManager"), which makes the backends' hot-plug
// watchers and waits on them; construction and destruction run on the
// caller's thread.
class HidManager final : public HidDeviceConnectCallback
{
public:
    // Creates the instance with the default backends on the first call.
    static HidManager* getInstance();
    // Creates the instance with the given backends unless one exists already
    // (then that one is returned and the backends are dropped).
    static HidManager* createInstance (std::vector<std::shared_ptr<HidBackend>> backends);
    static HidManager* getInstanceWithoutCreating() noexcept;
    static void deleteInstance();

    ~HidManager() override;

    juce::StringArray getDeviceIdentifiers() const;
    HidDevice::Ptr findDevice (const juce::String& identifier) const;

    void onConnected (const HidDeviceCaps& caps) override;
    void onDisconnected (const HidDeviceCaps& caps) override;

    // The set of connect callbacks that hear of every arrival and removal
    // (no duplicates). The registry enters itself.
    static void addConnectCallback (HidDeviceConnectCallback* callback);
    static void removeConnectCallback (HidDeviceConnectCallback* callback);

    // Called on a registry's thread each time the devices it lists have
    // changed (an arrival, a removal, a lost link), after the change, so that
    // nobody needs to look every so often. Replacing it (with none, say)
    // waits for a call in progress to end.
    static void setChangeListener (std::function<void()> listener);

    // The registry's notification thread, or null before it runs.
    juce::Thread::ThreadID getNotificationThreadId() const noexcept;

private:
    class Watcher;
    class LostDevices;

    // One registry per process: every registry hears of every change.
    explicit HidManager (std::vector<std::shared_ptr<HidBackend>> backends);
    std::shared_ptr<HidBackend> backendFor (const std::string& path) const;
    // On the registry's thread: the devices whose link was lost leave the
    // registry, as if unplugged. A device plugged in at the same path since
    // then is another device and stays.
    void removeLostDevices();

    const std::vector<std::shared_ptr<HidBackend>> m_backends;
    const std::shared_ptr<LostDevices> m_lostDevices; // shared with the devices, which may outlive the registry
    mutable std::mutex m_lock; // guards m_devices
    juce::ReferenceCountedArray<HidDevice> m_devices;
    std::unique_ptr<Watcher> m_watcher;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HidManager)
};

} // namespace hidlink

} // namespace korva
