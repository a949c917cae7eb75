#pragma once

// Windows's HID services made up by the test, for the Windows backend on any
// system: the interfaces SetupDi lists, what each handle reads and writes,
// and the hidden window's WM_DEVICECHANGE. Reads really wait (on a condition
// variable) until the test sends a report, unplugs the device, or the port
// wakes them; a notification runs the window's handler at once, on the
// test's thread, which stands for the window procedure.

#include "core/hidlink/HidLink.h"
#include "core/hidlink/WinHidApi.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace korva
{

namespace test
{

// GUID_DEVINTERFACE_HID.
inline hidlink::WinGuid hidInterfaceGuid()
{
    hidlink::WinGuid guid;
    guid.data1 = 0x4D1E55B2;
    guid.data2 = 0xF16F;
    guid.data3 = 0x11CF;
    const std::uint8_t tail[8] = {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
    std::memcpy (guid.data4, tail, sizeof (tail));
    return guid;
}

// An interface path as SetupDi gives it, with the ids in lower case.
inline std::string interfacePath (const std::string& instance, const char* ids = "vid_7c4e&pid_0a31")
{
    return std::string ("\\\\?\\hid#") + ids + "#7&2a5f03c1&0&" + instance + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

class FakeWinHidApi final : public hidlink::WinHidApi
{
public:
    // One HID interface as the test makes it up.
    struct Interface
    {
        std::string path;
        std::uint32_t openError = 0; // CreateFileA fails with it
        bool attributesReadable = true;
        Attributes attributes{hidlink::kKorvaVendorId, hidlink::kKorvaProductId, 0x0100};
        std::string manufacturer = "MELDRA";
        std::string product = "KORVA";
        bool reportLengthsReadable = true;
        ReportLengths reportLengths{65, 65};
        std::uint32_t readError = 0;  // each ReadFile fails with it at once
        std::uint32_t writeError = 0; // each WriteFile fails with it
        int writeShortBy = 0;         // WriteFile writes this many bytes fewer
    };

    //==========================================================================
    // The test's side.

    // Plugs an interface in; `listed`: SetupDi lists it (at the end).
    void plug (const Interface& made, bool listed = true)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_interfaces[made.path] = made;
        if (listed && std::find (m_listed.begin(), m_listed.end(), made.path) == m_listed.end())
            m_listed.push_back (made.path);
    }

    // Unplugs it without a word: its handles fail from now on, a read in
    // progress with ERROR_DEVICE_NOT_CONNECTED.
    void unplug (const std::string& path)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_interfaces.erase (path);
        m_listed.erase (std::remove (m_listed.begin(), m_listed.end(), path), m_listed.end());
        m_changed.notify_all();
    }

    // Changes a plugged interface.
    void change (const std::string& path, const std::function<void (Interface&)>& how)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        how (m_interfaces.at (path));
        m_changed.notify_all();
    }

    // The list's member at this index cannot be read (-1: none).
    void failMember (int index)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_failingMember = index;
    }

    // Called (on the enumerating thread) as each member is asked for.
    void onMember (std::function<void (std::uint32_t)> hook)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_onMember = std::move (hook);
    }

    // A report the device sends: the reads of its path take it in turn.
    void send (const std::string& path, const std::vector<std::uint8_t>& bytes)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_input[path].push_back (bytes);
        m_changed.notify_all();
    }

    // The window procedure's turn: false when there is no window.
    bool notify (std::uint32_t event, std::uint32_t deviceType, const hidlink::WinGuid& guid, const std::string& name)
    {
        const std::lock_guard<std::mutex> lock (m_windowLock);
        if (! m_onChange)
            return false;
        DeviceChange change;
        change.event = event;
        change.deviceType = deviceType;
        change.classGuid = guid;
        change.name = name;
        m_onChange (change);
        return true;
    }

    bool notifyArrival (const std::string& path)
    {
        return notify (hidlink::kDeviceArrival, hidlink::kDeviceTypeInterface, hidInterfaceGuid(), path);
    }
    bool notifyRemoval (const std::string& path)
    {
        return notify (hidlink::kDeviceRemoveComplete, hidlink::kDeviceTypeInterface, hidInterfaceGuid(), path);
    }

    // Waits until a read of `path` is under way.
    bool waitForPendingRead (const std::string& path, int timeoutMs = 3000)
    {
        std::unique_lock<std::mutex> lock (m_lock);
        return m_changed.wait_for (lock, std::chrono::milliseconds (timeoutMs),
                                   [&] { return m_pendingReads[path] > 0; });
    }

    // How many reads of `path` have begun so far.
    int readsBegun (const std::string& path)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_readsBegun[path];
    }

    // Waits until `path` has been asked to read `count` times.
    bool waitForReads (const std::string& path, int count, int timeoutMs = 3000)
    {
        std::unique_lock<std::mutex> lock (m_lock);
        return m_changed.wait_for (lock, std::chrono::milliseconds (timeoutMs),
                                   [&] { return m_readsBegun[path] >= count; });
    }

    struct Counts
    {
        int listsAlive = 0;           // interface lists not released
        int readersAlive = 0;         // reading handles not closed
        int pendingReads = 0;         // reads under way
        int cancelledReads = 0;       // reads the port cancelled
        int readersClosedPending = 0; // reading handles closed with their read under way
        int longestAwaitMs = 0;       // the longest single wait for a read (INT_MAX: one without a limit)
        int longestSleepMs = 0;       // the longest wait after a failed read
        int windowsAlive = 0;
    };

    Counts counts()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        Counts result = m_counts;
        result.pendingReads = 0;
        for (const auto& entry : m_pendingReads)
            result.pendingReads += entry.second;
        return result;
    }

    std::vector<std::vector<std::uint8_t>> written (const std::string& path)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_written[path];
    }

    // The threads that made and destroyed the window.
    std::vector<juce::Thread::ThreadID> windowThreads()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_windowThreads;
    }

    //==========================================================================
    // The backend's side.

    hidlink::WinGuid getHidGuid() override { return hidInterfaceGuid(); }

    std::unique_ptr<InterfaceList> listPresentInterfaces() override
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        ++m_counts.listsAlive;
        return std::make_unique<List> (*this, m_listed);
    }

    std::unique_ptr<Device> openDevice (const std::string& path, std::uint32_t& error) override
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        if (! canOpen (path, error))
            return nullptr;
        return std::make_unique<Handle> (*this, path);
    }

    std::unique_ptr<Reader> openReader (const std::string& path, std::uint32_t& error) override
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        if (! canOpen (path, error))
            return nullptr;
        ++m_counts.readersAlive;
        return std::make_unique<ReadHandle> (*this, path);
    }

    std::unique_ptr<NotificationWindow> createNotificationWindow (std::function<void (const DeviceChange&)> onChange,
                                                                  std::uint32_t& error) override
    {
        error = 0;
        {
            const std::lock_guard<std::mutex> lock (m_windowLock);
            m_onChange = std::move (onChange);
        }
        const std::lock_guard<std::mutex> lock (m_lock);
        ++m_counts.windowsAlive;
        m_windowThreads.push_back (juce::Thread::getCurrentThreadId());
        return std::make_unique<Window> (*this);
    }

private:
    bool canOpen (const std::string& path, std::uint32_t& error) const
    {
        const auto found = m_interfaces.find (path);
        error = found == m_interfaces.end() ? hidlink::winerror::kFileNotFound : found->second.openError;
        return error == 0;
    }

    // Under m_lock: the interface, or null once it is unplugged.
    const Interface* find (const std::string& path) const
    {
        const auto found = m_interfaces.find (path);
        return found != m_interfaces.end() ? &found->second : nullptr;
    }

    class List final : public InterfaceList
    {
    public:
        List (FakeWinHidApi& owner, std::vector<std::string> paths) : m_owner (owner), m_paths (std::move (paths)) {}
        ~List() override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            --m_owner.m_counts.listsAlive;
        }

        Member getMember (std::uint32_t index, std::string& path) override
        {
            std::function<void (std::uint32_t)> hook;
            int failing = -1;
            {
                const std::lock_guard<std::mutex> lock (m_owner.m_lock);
                hook = m_owner.m_onMember;
                failing = m_owner.m_failingMember;
            }
            if (hook)
                hook (index);
            if (static_cast<int> (index) == failing)
                return Member::kFailed;
            if (index >= m_paths.size())
                return Member::kEnd;
            path = m_paths[index];
            return Member::kPath;
        }

    private:
        FakeWinHidApi& m_owner;
        const std::vector<std::string> m_paths;
    };

    class Handle final : public Device
    {
    public:
        Handle (FakeWinHidApi& owner, std::string path) : m_owner (owner), m_path (std::move (path)) {}

        bool getAttributes (Attributes& attributes) override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            const auto* made = m_owner.find (m_path);
            if (made == nullptr || ! made->attributesReadable)
                return false;
            attributes = made->attributes;
            return true;
        }

        bool getManufacturer (std::string& text) override { return readText (&Interface::manufacturer, text); }
        bool getProduct (std::string& text) override { return readText (&Interface::product, text); }

        bool getReportLengths (ReportLengths& lengths) override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            const auto* made = m_owner.find (m_path);
            if (made == nullptr || ! made->reportLengthsReadable)
                return false;
            lengths = made->reportLengths;
            return true;
        }

        bool write (const std::uint8_t* data, int size, int& written, std::uint32_t& error) override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            const auto* made = m_owner.find (m_path);
            error = made == nullptr ? hidlink::winerror::kDeviceNotConnected : made->writeError;
            written = 0;
            if (error != 0)
                return false;
            written = std::max (0, size - made->writeShortBy);
            m_owner.m_written[m_path].emplace_back (data, data + written);
            return true;
        }

    private:
        bool readText (std::string Interface::*field, std::string& text)
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            const auto* made = m_owner.find (m_path);
            if (made == nullptr)
                return false;
            text = made->*field;
            return true;
        }

        FakeWinHidApi& m_owner;
        const std::string m_path;
    };

    class ReadHandle final : public Reader
    {
    public:
        ReadHandle (FakeWinHidApi& owner, std::string path) : m_owner (owner), m_path (std::move (path)) {}

        ~ReadHandle() override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            --m_owner.m_counts.readersAlive;
            if (m_buffer != nullptr)
            {
                ++m_owner.m_counts.readersClosedPending;
                --m_owner.m_pendingReads[m_path];
            }
        }

        Outcome begin (std::uint8_t* buffer, int size, int&, std::uint32_t& error) override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            ++m_owner.m_readsBegun[m_path];
            m_owner.m_changed.notify_all();
            const auto* made = m_owner.find (m_path);
            error = made == nullptr ? hidlink::winerror::kDeviceNotConnected : made->readError;
            if (error != 0)
                return Outcome::kFailed;
            m_buffer = buffer;
            m_size = size;
            ++m_owner.m_pendingReads[m_path];
            return Outcome::kPending;
        }

        Outcome await (int timeoutMs, int& bytesRead, std::uint32_t& error) override
        {
            std::unique_lock<std::mutex> lock (m_owner.m_lock);
            m_owner.m_counts.longestAwaitMs =
                std::max (m_owner.m_counts.longestAwaitMs, timeoutMs < 0 ? std::numeric_limits<int>::max() : timeoutMs);
            auto& queue = m_owner.m_input[m_path];
            const auto ended = [&] { return m_woken || ! queue.empty() || m_owner.find (m_path) == nullptr; };
            if (timeoutMs < 0)
                m_owner.m_changed.wait (lock, ended);
            else if (! m_owner.m_changed.wait_for (lock, std::chrono::milliseconds (timeoutMs), ended))
                return Outcome::kTimeout;

            if (! queue.empty())
            {
                const auto& next = queue.front();
                bytesRead = std::min (m_size, static_cast<int> (next.size()));
                std::memcpy (m_buffer, next.data(), static_cast<size_t> (bytesRead));
                queue.pop_front();
                endRead();
                return Outcome::kDone;
            }
            if (m_owner.find (m_path) == nullptr)
            {
                error = hidlink::winerror::kDeviceNotConnected;
                endRead();
                return Outcome::kFailed;
            }
            return Outcome::kWoken;
        }

        bool cancel (int&) override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            if (m_buffer == nullptr)
                return false;
            ++m_owner.m_counts.cancelledReads;
            endRead();
            return false;
        }

        void wake() override
        {
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            m_woken = true;
            m_owner.m_changed.notify_all();
        }

        bool waitForWake (int timeoutMs) override
        {
            std::unique_lock<std::mutex> lock (m_owner.m_lock);
            m_owner.m_counts.longestSleepMs = std::max (m_owner.m_counts.longestSleepMs, timeoutMs);
            return m_owner.m_changed.wait_for (lock, std::chrono::milliseconds (timeoutMs), [&] { return m_woken; });
        }

    private:
        // Under m_lock.
        void endRead()
        {
            m_buffer = nullptr;
            --m_owner.m_pendingReads[m_path];
            m_owner.m_changed.notify_all();
        }

        FakeWinHidApi& m_owner;
        const std::string m_path;
        std::uint8_t* m_buffer = nullptr; // of the read under way
        int m_size = 0;
        bool m_woken = false;
    };

    class Window final : public NotificationWindow
    {
    public:
        explicit Window (FakeWinHidApi& owner) : m_owner (owner) {}
        ~Window() override
        {
            {
                const std::lock_guard<std::mutex> lock (m_owner.m_windowLock);
                m_owner.m_onChange = nullptr;
            }
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            --m_owner.m_counts.windowsAlive;
            m_owner.m_windowThreads.push_back (juce::Thread::getCurrentThreadId());
        }

    private:
        FakeWinHidApi& m_owner;
    };

    std::mutex m_lock; // everything but the window's handler
    std::condition_variable m_changed;
    std::map<std::string, Interface> m_interfaces;
    std::vector<std::string> m_listed;
    int m_failingMember = -1;
    std::function<void (std::uint32_t)> m_onMember;
    std::map<std::string, std::deque<std::vector<std::uint8_t>>> m_input;
    std::map<std::string, std::vector<std::vector<std::uint8_t>>> m_written;
    std::map<std::string, int> m_pendingReads;
    std::map<std::string, int> m_readsBegun;
    std::vector<juce::Thread::ThreadID> m_windowThreads;
    Counts m_counts;

    std::mutex m_windowLock; // held while the handler runs
    std::function<void (const DeviceChange&)> m_onChange;
};

} // namespace test

} // namespace korva
