// The real Windows services of the HID backend (Windows only): the hot-plug
// window and the wait that dispatches its messages, the overlapped reader (on
// a named pipe standing in for a device), and the list of HID interfaces.

#include "core/hidlink/HidWait.h"
#include "core/hidlink/WinHidApi.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

extern "C"
{
#include <hidsdi.h>
}

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace korva
{

using namespace hidlink;

namespace
{
HWND findNotificationWindow()
{
    if (const HWND window = ::FindWindowA ("HIDCOM", "HIDComunication"))
        return window;
    return ::FindWindowExA (HWND_MESSAGE, nullptr, "HIDCOM", "HIDComunication");
}

// A thread that makes the window and waits as the registry's thread does,
// until stopped.
class WindowThread
{
public:
    explicit WindowThread (WinHidApi& api)
        : m_thread ([this, &api] {
              m_threadId = ::GetCurrentThreadId();
              std::uint32_t error = 0;
              auto window = api.createNotificationWindow (
                  [this] (const WinHidApi::DeviceChange& change) {
                      const std::lock_guard<std::mutex> lock (m_lock);
                      m_changes.push_back (change);
                      m_handlerThreads.push_back (::GetCurrentThreadId());
                  },
                  error);
              m_made = window != nullptr;
              m_ready.raise();
              std::vector<bool> ready;
              int waitError = 0;
              while (waitForAny ({m_stop.getWaitable()}, -1, ready, waitError) >= 0 && ! ready[0])
              {
              }
              window.reset();
              m_goneAfterwards = findNotificationWindow() == nullptr;
          })
    {
        std::vector<bool> ready;
        int error = 0;
        waitForAny ({m_ready.getWaitable()}, 10000, ready, error);
    }

    ~WindowThread() { stop(); }

    void stop()
    {
        m_stop.raise();
        if (m_thread.joinable())
            m_thread.join();
    }

    std::vector<WinHidApi::DeviceChange> changes()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_changes;
    }
    std::vector<DWORD> handlerThreads()
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_handlerThreads;
    }

    std::atomic<DWORD> m_threadId{0};
    std::atomic<bool> m_made{false}, m_goneAfterwards{false};

private:
    HidWakeSignal m_ready, m_stop;
    std::mutex m_lock;
    std::vector<WinHidApi::DeviceChange> m_changes;
    std::vector<DWORD> m_handlerThreads;
    std::thread m_thread; // last: it starts once the rest is there
};
} // namespace

// WM_DEVICECHANGE sent to the window from another thread is handled on the
// thread that made it, while that thread waits; the broadcast header is read
// when there is one.
TEST (WinHidApiOnWindows, TheWindowGetsItsNotificationsOnTheThreadThatMadeIt)
{
    auto api = makeSystemWinHidApi();
    WindowThread thread (*api);
    ASSERT_TRUE (thread.m_made.load());

    const HWND window = findNotificationWindow();
    ASSERT_NE (window, nullptr);
    EXPECT_FALSE (::IsWindowVisible (window));
    EXPECT_FALSE (::IsWindowEnabled (window));

    struct
    {
        DEV_BROADCAST_DEVICEINTERFACE_A header;
        char rest[200];
    } broadcast{};
    const char* name = "\\\\?\\HID#VID_7C4E&PID_0A31#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    broadcast.header.dbcc_size = static_cast<DWORD> (sizeof (DEV_BROADCAST_DEVICEINTERFACE_A) + std::strlen (name));
    broadcast.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    ::HidD_GetHidGuid (&broadcast.header.dbcc_classguid);
    std::strcpy (broadcast.header.dbcc_name, name);

    DWORD_PTR result = 0;
    ASSERT_NE (::SendMessageTimeoutA (window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                                      reinterpret_cast<LPARAM> (&broadcast), SMTO_BLOCK, 5000, &result),
               0);
    ASSERT_NE (::SendMessageTimeoutA (window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_BLOCK, 5000, &result), 0);

    const auto changes = thread.changes();
    ASSERT_EQ (changes.size(), 2u);
    EXPECT_EQ (changes[0].event, kDeviceRemoveComplete);
    EXPECT_EQ (changes[0].deviceType, kDeviceTypeInterface);
    EXPECT_TRUE (changes[0].classGuid == api->getHidGuid());
    EXPECT_EQ (changes[0].name, name);
    EXPECT_EQ (changes[1].event, 0x0007u);
    EXPECT_EQ (changes[1].deviceType, 0u);
    EXPECT_TRUE (changes[1].name.empty());
    for (const auto handler : thread.handlerThreads())
        EXPECT_EQ (handler, thread.m_threadId.load());

    thread.stop();
    EXPECT_TRUE (thread.m_goneAfterwards.load());
}

// A read waits until data comes, until its time is up, or until it is woken
// (for good), and can be cancelled; a closed device fails it.
TEST (WinHidApiOnWindows, TheReaderWaitsIsWokenAndCancels)
{
    auto api = makeSystemWinHidApi();
    std::uint8_t buffer[65] = {};
    int bytesRead = 0;
    std::uint32_t error = 0;

    // A pipe stands in for the device, the reader has the other end.
    const auto makeDevice = [] (const char* name)
    {
        return ::CreateNamedPipeA (name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0,
                                   nullptr);
    };

    const char* firstName = "\\\\.\\pipe\\korva-hidlink-reader-test-1";
    const HANDLE device = makeDevice (firstName);
    ASSERT_NE (device, INVALID_HANDLE_VALUE);
    auto reader = api->openReader (firstName, error);
    ASSERT_NE (reader, nullptr) << error;

    ASSERT_EQ (reader->begin (buffer, 65, bytesRead, error), WinHidApi::Reader::Outcome::kPending);
    EXPECT_EQ (reader->await (30, bytesRead, error), WinHidApi::Reader::Outcome::kTimeout);
    const std::uint8_t report[65] = {0x00, 0xA8, 0x01};
    DWORD written = 0;
    ASSERT_TRUE (::WriteFile (device, report, 65, &written, nullptr));
    ASSERT_EQ (reader->await (5000, bytesRead, error), WinHidApi::Reader::Outcome::kDone);
    EXPECT_EQ (bytesRead, 65);
    EXPECT_EQ (std::memcmp (buffer, report, 65), 0);

    ASSERT_EQ (reader->begin (buffer, 65, bytesRead, error), WinHidApi::Reader::Outcome::kPending);
    std::thread waker ([&] { reader->wake(); });
    EXPECT_EQ (reader->await (20000, bytesRead, error), WinHidApi::Reader::Outcome::kWoken);
    waker.join();
    EXPECT_FALSE (reader->cancel (bytesRead)) << "nothing had come";
    EXPECT_TRUE (reader->waitForWake (20000)) << "woken for good";
    reader.reset();
    ::CloseHandle (device);

    const char* secondName = "\\\\.\\pipe\\korva-hidlink-reader-test-2";
    const HANDLE closing = makeDevice (secondName);
    ASSERT_NE (closing, INVALID_HANDLE_VALUE);
    reader = api->openReader (secondName, error);
    ASSERT_NE (reader, nullptr) << error;
    ASSERT_EQ (reader->begin (buffer, 65, bytesRead, error), WinHidApi::Reader::Outcome::kPending);
    ::CloseHandle (closing);
    EXPECT_EQ (reader->await (5000, bytesRead, error), WinHidApi::Reader::Outcome::kFailed);
    EXPECT_NE (error, 0u);
}

// The present HID interfaces have interface paths; a path that is not there
// cannot be opened.
TEST (WinHidApiOnWindows, ListsThePresentInterfaces)
{
    auto api = makeSystemWinHidApi();
    auto list = api->listPresentInterfaces();
    ASSERT_NE (list, nullptr);
    std::string path;
    std::uint32_t index = 0;
    for (; index < 1000; ++index)
    {
        const auto member = list->getMember (index, path);
        if (member != WinHidApi::InterfaceList::Member::kPath)
        {
            EXPECT_EQ (member, WinHidApi::InterfaceList::Member::kEnd);
            break;
        }
        EXPECT_EQ (path.rfind ("\\\\?\\", 0), 0u) << path;
    }
    EXPECT_LT (index, 1000u);

    std::uint32_t error = 0;
    EXPECT_EQ (api->openDevice ("\\\\?\\hid#vid_7c4e&pid_0a31#none#{4d1e55b2-f16f-11cf-88cb-001111000030}", error),
               nullptr);
    EXPECT_NE (error, 0u);
}

} // namespace korva
