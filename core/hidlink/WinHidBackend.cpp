#include "core/hidlink/WinHidBackend.h"

#include "core/infra/Diagnostics.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

namespace korva
{

namespace hidlink
{

namespace
{
// Device strings are kept to this many bytes, cut at a character boundary.
constexpr std::size_t kMaxStringBytes = 1023;

juce::int64 nowMs()
{
    return static_cast<juce::int64> (juce::Time::getMillisecondCounterHiRes());
}

std::string cutUtf8 (std::string text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char> (text[end]) & 0xC0) == 0x80)
        --end; // the first byte left out continues a character: that character goes too
    text.resize (end);
    return text;
}

unsigned int code (std::uint32_t error)
{
    return static_cast<unsigned int> (error);
}

//==============================================================================
// One handle on an interface: the reader's (overlapped) or the writer's.
class WinHidPort final : public HidPort
{
public:
    WinHidPort (std::string path, std::unique_ptr<WinHidApi::Reader> reader, WinHidTiming timing)
        : m_path (std::move (path)), m_reader (std::move (reader)), m_timing (timing)
    {
    }

    WinHidPort (std::string path, std::unique_ptr<WinHidApi::Device> device)
        : m_path (std::move (path)), m_device (std::move (device))
    {
    }

    ReadStatus readReport (std::uint8_t* buffer, int size, int timeoutMs, int& bytesRead) override
    {
        bytesRead = 0;
        if (m_reader == nullptr || buffer == nullptr || size <= 0)
            return ReadStatus::kGone;
        if (m_woken.load())
            return ReadStatus::kWoken;

        const auto deadline = nowMs() + juce::jmax (0, timeoutMs);
        const auto timeLeft = [&]
        { return timeoutMs < 0 ? -1 : static_cast<int> (juce::jmax<juce::int64> (0, deadline - nowMs())); };

        int n = 0;
        std::uint32_t error = 0;
        switch (m_reader->begin (buffer, size, n, error))
        {
            case WinHidApi::Reader::Outcome::kDone: return delivered (n, bytesRead);
            case WinHidApi::Reader::Outcome::kPending: break;
            case WinHidApi::Reader::Outcome::kFailed:
            case WinHidApi::Reader::Outcome::kWoken:
            case WinHidApi::Reader::Outcome::kTimeout:
            default: return failed (error, timeLeft());
        }

        // The read goes into the caller's buffer: it is over, one way or
        // another, before the buffer is handed back.
        for (;;)
        {
            const int left = timeLeft();
            const int slice = left < 0 ? m_timing.readSliceMs : juce::jmin (left, m_timing.readSliceMs);
            switch (m_reader->await (slice, n, error))
            {
                case WinHidApi::Reader::Outcome::kDone: return delivered (n, bytesRead);
                case WinHidApi::Reader::Outcome::kFailed: return failed (error, timeLeft());
                case WinHidApi::Reader::Outcome::kWoken:
                    m_reader->cancel (n);
                    return ReadStatus::kWoken;
                case WinHidApi::Reader::Outcome::kPending:
                case WinHidApi::Reader::Outcome::kTimeout:
                default:
                    if (left >= 0 && timeLeft() == 0)
                        return m_reader->cancel (n) ? delivered (n, bytesRead) : ReadStatus::kTimeout;
                    break;
            }
        }
    }

    void wake() override
    {
        m_woken = true;
        if (m_reader != nullptr)
            m_reader->wake();
    }

    int writeReport (const std::uint8_t* data, int size) override
    {
        if (m_device == nullptr)
            return -static_cast<int> (winerror::kInvalidHandle);
        int written = 0;
        std::uint32_t error = 0;
        if (! m_device->write (data, size, written, error))
            return -static_cast<int> (error == 0 ? winerror::kGenFailure : juce::jmin<std::uint32_t> (error, INT_MAX));
        return written;
    }

    bool errorMeansGone (int error) const noexcept override
    {
        return error > 0 && windowsErrorMeansGone (static_cast<std::uint32_t> (error));
    }

private:
    ReadStatus delivered (int n, int& bytesRead)
    {
        m_lastReadError = 0;
        bytesRead = n;
        return ReadStatus::kReport;
    }

    ReadStatus failed (std::uint32_t error, int timeLeftMs)
    {
        if (error == winerror::kOperationAborted && m_woken.load())
            return ReadStatus::kWoken;

        if (windowsErrorMeansGone (error))
        {
            infra::debugPrintf ("WinHidBackend: reading %s failed (Windows error %u): the device has gone",
                                m_path.c_str(), code (error));
            return ReadStatus::kGone;
        }

        // Something passing (the device is there): try again a little later,
        // telling only the first failure of a run.
        if (error != m_lastReadError)
            infra::debugPrintf ("WinHidBackend: reading %s failed (Windows error %u), trying again", m_path.c_str(),
                                code (error));
        m_lastReadError = error;
        const int delay = timeLeftMs < 0 ? m_timing.retryDelayMs : juce::jmin (timeLeftMs, m_timing.retryDelayMs);
        return m_reader->waitForWake (delay) ? ReadStatus::kWoken : ReadStatus::kTimeout;
    }

    const std::string m_path;
    const std::unique_ptr<WinHidApi::Reader> m_reader;
    const std::unique_ptr<WinHidApi::Device> m_device;
    const WinHidTiming m_timing;
    std::atomic<bool> m_woken{false};
    std::uint32_t m_lastReadError = 0; // the reading thread's

    JUCE_DECLARE_NON_COPYABLE (WinHidPort)
};

class WinHidBackend;

//==============================================================================
// The hidden window's notifications, queued by its window procedure and
// taken by the registry's thread, which made the window and dispatches its
// messages while it waits.
class WinHidWatcher final : public HidWatcher
{
public:
    WinHidWatcher (WinHidBackend& backend, WinHidApi& api, const WinGuid& hidGuid)
        : m_backend (backend), m_api (api), m_hidGuid (hidGuid)
    {
    }

    ~WinHidWatcher() override
    {
        m_window.reset(); // no notification comes after this
    }

    bool start (std::uint32_t& error)
    {
        error = 0;
        if (! m_signal.isValid())
            return false;
        m_window = m_api.createNotificationWindow (
            [this] (const WinHidApi::DeviceChange& change) { onDeviceChange (change); }, error);
        return m_window != nullptr;
    }

    HidWaitable getWaitable() const override { return m_signal.getWaitable(); }
    int getTimeoutMs() const override { return -1; }

    void collect (bool, std::vector<HidChange>& changes) override
    {
        // Lowered first: a change queued from here on raises it again.
        m_signal.consume();
        const std::lock_guard<std::mutex> lock (m_lock);
        for (auto& change : m_pending)
            changes.push_back (std::move (change));
        m_pending.clear();
    }

private:
    void onDeviceChange (const WinHidApi::DeviceChange& change);

    WinHidBackend& m_backend;
    WinHidApi& m_api;
    const WinGuid m_hidGuid;
    HidWakeSignal m_signal;
    std::mutex m_lock; // guards m_pending
    std::vector<HidChange> m_pending;
    std::unique_ptr<WinHidApi::NotificationWindow> m_window; // last: it goes first

    JUCE_DECLARE_NON_COPYABLE (WinHidWatcher)
};

//==============================================================================
class WinHidBackend final : public HidBackend
{
public:
    WinHidBackend (std::shared_ptr<WinHidApi> api, WinHidTiming timing)
        : m_api (std::move (api)), m_timing (timing), m_hidGuid (m_api->getHidGuid())
    {
    }

    const char* getName() const override { return "windows"; }

    // Interface paths: "\\?\hid#vid_7c4e&pid_0a31#...".
    bool ownsPath (const std::string& path) const override
    {
        return path.size() > 2 && path[0] == '\\' && path[1] == '\\';
    }

    std::vector<HidDeviceCaps> enumerate() override
    {
        std::vector<HidDeviceCaps> result;
        auto list = m_api->listPresentInterfaces();
        if (list == nullptr)
        {
            infra::debugPrint ("WinHidBackend: the HID interfaces cannot be listed");
            return result;
        }

        for (std::uint32_t index = 0;; ++index)
        {
            std::string path;
            const auto member = list->getMember (index, path);
            if (member == WinHidApi::InterfaceList::Member::kEnd)
                break;
            if (member == WinHidApi::InterfaceList::Member::kFailed)
            {
                infra::debugPrintf ("WinHidBackend: HID interface %u cannot be read: the list ends there",
                                    static_cast<unsigned int> (index));
                break;
            }
            result.push_back (describe (path));
        }
        return result;
    }

    // What cannot be read stays 0 or empty; a path that cannot be opened,
    // or whose attributes cannot be read, has its path alone.
    HidDeviceCaps describe (const std::string& path) override
    {
        HidDeviceCaps caps (path);
        std::uint32_t error = 0;
        auto device = m_api->openDevice (path, error);
        if (device == nullptr)
            return caps;

        WinHidApi::Attributes attributes;
        if (! device->getAttributes (attributes))
            return caps;
        caps.vendorId = attributes.vendorId;
        caps.productId = attributes.productId;
        caps.versionNumber = attributes.versionNumber;

        std::string text;
        if (device->getManufacturer (text))
            caps.manufacturer = cutUtf8 (std::move (text), kMaxStringBytes);
        text.clear();
        if (device->getProduct (text))
            caps.product = cutUtf8 (std::move (text), kMaxStringBytes);

        WinHidApi::ReportLengths lengths;
        if (device->getReportLengths (lengths))
        {
            caps.inputReportLength = lengths.input;
            caps.outputReportLength = lengths.output;
        }
        return caps;
    }

    std::unique_ptr<HidPort> openPort (const std::string& path, HidPortUse use, int& error) override
    {
        std::uint32_t windowsError = 0;
        if (use == HidPortUse::kReading)
        {
            if (auto reader = m_api->openReader (path, windowsError))
            {
                error = 0;
                return std::make_unique<WinHidPort> (path, std::move (reader), m_timing);
            }
        }
        else if (auto device = m_api->openDevice (path, windowsError))
        {
            error = 0;
            return std::make_unique<WinHidPort> (path, std::move (device));
        }

        error = errnoForOpenError (windowsError);
        infra::debugPrintf ("WinHidBackend: cannot open %s for %s: Windows error %u (%s)", path.c_str(),
                            use == HidPortUse::kReading ? "reading" : "writing", code (windowsError),
                            std::strerror (error));
        return nullptr;
    }

    std::unique_ptr<HidWatcher> createWatcher() override
    {
        auto watcher = std::make_unique<WinHidWatcher> (*this, *m_api, m_hidGuid);
        std::uint32_t error = 0;
        if (! watcher->start (error))
        {
            infra::debugPrintf ("WinHidBackend: no hot-plug window (Windows error %u), no hot-plug", code (error));
            return nullptr;
        }
        return watcher;
    }

private:
    const std::shared_ptr<WinHidApi> m_api;
    const WinHidTiming m_timing;
    const WinGuid m_hidGuid;
};

// On the registry's thread, from the window procedure.
void WinHidWatcher::onDeviceChange (const WinHidApi::DeviceChange& change)
{
    const bool arrived = change.event == kDeviceArrival;
    if ((! arrived && change.event != kDeviceRemoveComplete) || change.deviceType != kDeviceTypeInterface
        || change.classGuid != m_hidGuid || ! isKorvaInterfacePath (change.name))
        return;

    // A removed interface cannot be opened any more: it is known by its path.
    HidChange entry;
    entry.arrived = arrived;
    entry.caps = arrived ? m_backend.describe (change.name) : HidDeviceCaps (change.name);
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_pending.push_back (std::move (entry));
    }
    m_signal.raise();
}
} // namespace

//==============================================================================
bool isKorvaInterfacePath (const std::string& path)
{
    std::string upper (path);
    std::transform (upper.begin(), upper.end(), upper.begin(),
                    [] (unsigned char c) { return static_cast<char> (std::toupper (c)); });
    return upper.find ("VID_7C4E") != std::string::npos && upper.find ("PID_0A31") != std::string::npos;
}

int errnoForOpenError (std::uint32_t error) noexcept
{
    switch (error)
    {
        case winerror::kAccessDenied: return EACCES;
        case winerror::kSharingViolation: return EBUSY;
        case winerror::kFileNotFound:
        case winerror::kPathNotFound:
        case winerror::kDeviceNotConnected:
        case winerror::kNoSuchDevice:
        case winerror::kDeviceRemoved: return ENODEV;
        default: return EIO;
    }
}

bool windowsErrorMeansGone (std::uint32_t error) noexcept
{
    switch (error)
    {
        case winerror::kFileNotFound:
        case winerror::kPathNotFound:
        case winerror::kInvalidHandle:
        case winerror::kBadCommand:
        case winerror::kGenFailure:
        case winerror::kNoSuchDevice:
        case winerror::kOperationAborted:
        case winerror::kDeviceNotConnected:
        case winerror::kDeviceRemoved: return true;
        default: return false;
    }
}

std::shared_ptr<HidBackend> makeWinHidBackend (std::shared_ptr<WinHidApi> api, WinHidTiming timing)
{
    return std::make_shared<WinHidBackend> (std::move (api), timing);
}

} // namespace hidlink

} // namespace korva
