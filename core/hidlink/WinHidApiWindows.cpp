// The Windows services of the HID backend: SetupDi for the present HID
// interfaces, CreateFileA, the HidD_ and HidP_ functions, overlapped
// ReadFile, synchronous WriteFile, and the hidden window that receives
// WM_DEVICECHANGE. Each operation does what it is asked and reports how it
// went; what to make of it is WinHidBackend.cpp's business.
//
// Links with hid and setupapi.

#include "core/hidlink/WinHidApi.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

// MinGW's HID headers (hidsdi.h brings hidusage.h and hidpi.h, in the order
// they need) declare C functions without saying so.
extern "C"
{
#include <hidsdi.h>
}

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace korva
{

namespace hidlink
{

namespace
{
WinGuid toWinGuid (const GUID& guid)
{
    WinGuid result;
    result.data1 = guid.Data1;
    result.data2 = guid.Data2;
    result.data3 = guid.Data3;
    std::memcpy (result.data4, guid.Data4, sizeof (result.data4));
    return result;
}

GUID hidGuid()
{
    GUID guid{};
    ::HidD_GetHidGuid (&guid);
    return guid;
}

// Read and write, shared read and write, existing only.
HANDLE openHandle (const std::string& path, bool overlapped, std::uint32_t& error)
{
    const HANDLE handle = ::CreateFileA (path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? static_cast<std::uint32_t> (::GetLastError()) : 0;
    return handle;
}

//==============================================================================
class SystemInterfaceList final : public WinHidApi::InterfaceList
{
public:
    SystemInterfaceList (HDEVINFO list, const GUID& guid) : m_list (list), m_guid (guid) {}
    ~SystemInterfaceList() override { ::SetupDiDestroyDeviceInfoList (m_list); }

    Member getMember (std::uint32_t index, std::string& path) override
    {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof (data);
        if (! ::SetupDiEnumDeviceInterfaces (m_list, nullptr, &m_guid, index, &data))
            return ::GetLastError() == ERROR_NO_MORE_ITEMS ? Member::kEnd : Member::kFailed;

        // The first call only tells the size of the detail.
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA (m_list, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof (SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            return Member::kFailed;

        const auto words = (size + sizeof (DWORD) - 1) / sizeof (DWORD);
        std::unique_ptr<DWORD[]> buffer (new (std::nothrow) DWORD[words]);
        if (buffer == nullptr)
            return Member::kFailed;

        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*> (buffer.get());
        // The size of the fixed part, which differs between 32-bit (5) and
        // 64-bit Windows (8).
        detail->cbSize = sizeof (SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (! ::SetupDiGetDeviceInterfaceDetailA (m_list, &data, detail, size, nullptr, nullptr))
            return Member::kFailed;

        const auto nameBytes = size - offsetof (SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        path.assign (detail->DevicePath, ::strnlen (detail->DevicePath, nameBytes));
        return Member::kPath;
    }

private:
    const HDEVINFO m_list;
    GUID m_guid;
};

//==============================================================================
class SystemDevice final : public WinHidApi::Device
{
public:
    explicit SystemDevice (HANDLE handle) : m_handle (handle) {}
    ~SystemDevice() override { ::CloseHandle (m_handle); }

    bool getAttributes (WinHidApi::Attributes& attributes) override
    {
        HIDD_ATTRIBUTES read{};
        read.Size = sizeof (HIDD_ATTRIBUTES); // 12
        if (! ::HidD_GetAttributes (m_handle, &read))
            return false;
        attributes.vendorId = read.VendorID;
        attributes.productId = read.ProductID;
        attributes.versionNumber = read.VersionNumber;
        return true;
    }

    bool getManufacturer (std::string& text) override { return readString (::HidD_GetManufacturerString, text); }
    bool getProduct (std::string& text) override { return readString (::HidD_GetProductString, text); }

    bool getReportLengths (WinHidApi::ReportLengths& lengths) override
    {
        PHIDP_PREPARSED_DATA data = nullptr;
        if (! ::HidD_GetPreparsedData (m_handle, &data))
            return false;
        HIDP_CAPS caps{};
        const bool read = ::HidP_GetCaps (data, &caps) == HIDP_STATUS_SUCCESS;
        ::HidD_FreePreparsedData (data);
        if (read)
        {
            lengths.input = caps.InputReportByteLength;
            lengths.output = caps.OutputReportByteLength;
        }
        return read;
    }

    bool write (const std::uint8_t* data, int size, int& written, std::uint32_t& error) override
    {
        DWORD count = 0;
        written = 0;
        if (! ::WriteFile (m_handle, data, static_cast<DWORD> (size), &count, nullptr))
        {
            error = static_cast<std::uint32_t> (::GetLastError());
            return false;
        }
        error = 0;
        written = static_cast<int> (count);
        return true;
    }

private:
    using StringReader = BOOLEAN (NTAPI*) (HANDLE, PVOID, ULONG);

    // The driver writes UTF-16 into 1024 bytes, without a terminator when it
    // fills them; the text is kept as UTF-8.
    bool readString (StringReader readInto, std::string& text)
    {
        wchar_t buffer[512] = {};
        if (! readInto (m_handle, buffer, sizeof (buffer)))
            return false;
        buffer[511] = 0;

        const int size = ::WideCharToMultiByte (CP_UTF8, 0, buffer, -1, nullptr, 0, nullptr, nullptr);
        if (size <= 0)
            return false;
        std::string converted (static_cast<size_t> (size), '\0');
        if (::WideCharToMultiByte (CP_UTF8, 0, buffer, -1, &converted[0], size, nullptr, nullptr) <= 0)
            return false;
        converted.resize (static_cast<size_t> (size) - 1); // the terminator
        text = std::move (converted);
        return true;
    }

    const HANDLE m_handle;
};

//==============================================================================
class SystemReader final : public WinHidApi::Reader
{
public:
    SystemReader (HANDLE handle, HANDLE readEvent, HANDLE wakeEvent)
        : m_handle (handle), m_readEvent (readEvent), m_wakeEvent (wakeEvent)
    {
    }

    ~SystemReader() override
    {
        int ignored = 0;
        cancel (ignored);
        ::CloseHandle (m_handle);
        ::CloseHandle (m_readEvent);
        ::CloseHandle (m_wakeEvent);
    }

    Outcome begin (std::uint8_t* buffer, int size, int& bytesRead, std::uint32_t& error) override
    {
        ::ResetEvent (m_readEvent);
        m_overlapped = OVERLAPPED{};
        m_overlapped.hEvent = m_readEvent;
        m_pending = true;
        if (::ReadFile (m_handle, buffer, static_cast<DWORD> (size), nullptr, &m_overlapped))
            return finish (bytesRead, error); // done at once

        const DWORD failure = ::GetLastError();
        if (failure == ERROR_IO_PENDING)
            return Outcome::kPending;
        m_pending = false;
        error = static_cast<std::uint32_t> (failure);
        return Outcome::kFailed;
    }

    Outcome await (int timeoutMs, int& bytesRead, std::uint32_t& error) override
    {
        const HANDLE events[2] = {m_readEvent, m_wakeEvent};
        const DWORD result =
            ::WaitForMultipleObjects (2, events, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD> (timeoutMs));
        if (result == WAIT_OBJECT_0)
            return finish (bytesRead, error);
        if (result == WAIT_OBJECT_0 + 1)
            return Outcome::kWoken;
        if (result == WAIT_TIMEOUT)
            return Outcome::kTimeout;

        // Waiting itself failed: the read must not outlive the call.
        error = static_cast<std::uint32_t> (::GetLastError());
        int ignored = 0;
        cancel (ignored);
        return Outcome::kFailed;
    }

    bool cancel (int& bytesRead) override
    {
        if (! m_pending)
            return false;
        ::CancelIoEx (m_handle, &m_overlapped);
        DWORD count = 0;
        const bool completed = ::GetOverlappedResult (m_handle, &m_overlapped, &count, TRUE) != FALSE;
        m_pending = false;
        if (completed)
            bytesRead = static_cast<int> (count);
        return completed;
    }

    void wake() override { ::SetEvent (m_wakeEvent); }

    bool waitForWake (int timeoutMs) override
    {
        return ::WaitForSingleObject (m_wakeEvent, timeoutMs < 0 ? INFINITE : static_cast<DWORD> (timeoutMs))
               == WAIT_OBJECT_0;
    }

private:
    Outcome finish (int& bytesRead, std::uint32_t& error)
    {
        DWORD count = 0;
        m_pending = false;
        if (::GetOverlappedResult (m_handle, &m_overlapped, &count, FALSE))
        {
            bytesRead = static_cast<int> (count);
            return Outcome::kDone;
        }
        error = static_cast<std::uint32_t> (::GetLastError());
        return Outcome::kFailed;
    }

    const HANDLE m_handle;
    const HANDLE m_readEvent; // manual reset, reset before each read
    const HANDLE m_wakeEvent; // manual reset, never reset
    OVERLAPPED m_overlapped{};
    bool m_pending = false;
};

//==============================================================================
constexpr const char* kWindowClass = "HIDCOM";

class SystemNotificationWindow final : public WinHidApi::NotificationWindow
{
public:
    explicit SystemNotificationWindow (std::function<void (const WinHidApi::DeviceChange&)> onChange)
        : m_onChange (std::move (onChange))
    {
    }

    ~SystemNotificationWindow() override
    {
        if (m_registration != nullptr)
            ::UnregisterDeviceNotification (m_registration);
        if (m_window != nullptr)
        {
            ::SetWindowLongPtrA (m_window, GWLP_USERDATA, 0);
            ::DestroyWindow (m_window);
        }
    }

    bool create (const GUID& hidGuid, std::uint32_t& error)
    {
        const HINSTANCE instance = ::GetModuleHandleA (nullptr);

        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kWindowClass;
        if (! ::RegisterClassA (&windowClass))
        {
            const DWORD failure = ::GetLastError();
            if (failure != ERROR_CLASS_ALREADY_EXISTS)
            {
                error = static_cast<std::uint32_t> (failure);
                return false;
            }
        }

        // Disabled, and hidden at once: it is there for its messages. Where
        // there is no desktop to put it on (Wine without a display), a
        // message-only window receives the notifications as well.
        m_window = ::CreateWindowExA (0, kWindowClass, "HIDComunication", WS_OVERLAPPEDWINDOW | WS_DISABLED, 0, 0, 10,
                                      10, nullptr, nullptr, instance, this);
        if (m_window == nullptr)
            m_window = ::CreateWindowExA (0, kWindowClass, "HIDComunication", WS_DISABLED, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, instance, this);
        if (m_window == nullptr)
        {
            error = static_cast<std::uint32_t> (::GetLastError());
            return false;
        }
        ::ShowWindow (m_window, SW_HIDE);

        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof (filter); // 32
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = hidGuid;
        m_registration = ::RegisterDeviceNotificationA (m_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (m_registration == nullptr)
        {
            error = static_cast<std::uint32_t> (::GetLastError());
            return false;
        }
        error = 0;
        return true;
    }

private:
    static LRESULT CALLBACK windowProc (HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
        {
            const auto* creation = reinterpret_cast<const CREATESTRUCTA*> (lParam);
            ::SetWindowLongPtrA (window, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (creation->lpCreateParams));
        }
        else if (message == WM_DEVICECHANGE)
        {
            if (auto* owner = reinterpret_cast<SystemNotificationWindow*> (::GetWindowLongPtrA (window, GWLP_USERDATA)))
                owner->deviceChanged (wParam, lParam);
        }
        // Every message, handled or not.
        return ::DefWindowProcA (window, message, wParam, lParam);
    }

    void deviceChanged (WPARAM wParam, LPARAM lParam)
    {
        WinHidApi::DeviceChange change;
        change.event = static_cast<std::uint32_t> (wParam);

        // These events carry a DEV_BROADCAST header; the name of a device
        // interface runs to the end of the size the header gives.
        if (lParam != 0 && wParam >= DBT_DEVICEARRIVAL && wParam <= DBT_CUSTOMEVENT)
        {
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*> (lParam);
            change.deviceType = header->dbch_devicetype;
            if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
            {
                const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*> (lParam);
                change.classGuid = toWinGuid (device->dbcc_classguid);
                const auto nameOffset = offsetof (DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
                if (header->dbch_size > nameOffset)
                {
                    const auto length = ::strnlen (device->dbcc_name, header->dbch_size - nameOffset);
                    change.name.assign (device->dbcc_name, length);
                }
            }
        }

        if (m_onChange)
            m_onChange (change);
    }

    const std::function<void (const WinHidApi::DeviceChange&)> m_onChange;
    HWND m_window = nullptr;
    HDEVNOTIFY m_registration = nullptr;
};

//==============================================================================
class SystemWinHidApi final : public WinHidApi
{
public:
    WinGuid getHidGuid() override { return toWinGuid (hidGuid()); }

    std::unique_ptr<InterfaceList> listPresentInterfaces() override
    {
        const GUID guid = hidGuid();
        const HDEVINFO list = ::SetupDiGetClassDevsA (&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (list == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<SystemInterfaceList> (list, guid);
    }

    std::unique_ptr<Device> openDevice (const std::string& path, std::uint32_t& error) override
    {
        const HANDLE handle = openHandle (path, false, error);
        if (handle == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<SystemDevice> (handle);
    }

    std::unique_ptr<Reader> openReader (const std::string& path, std::uint32_t& error) override
    {
        const HANDLE handle = openHandle (path, true, error);
        if (handle == INVALID_HANDLE_VALUE)
            return nullptr;

        const HANDLE readEvent = ::CreateEventA (nullptr, TRUE, FALSE, nullptr);
        const HANDLE wakeEvent = ::CreateEventA (nullptr, TRUE, FALSE, nullptr);
        if (readEvent == nullptr || wakeEvent == nullptr)
        {
            error = static_cast<std::uint32_t> (::GetLastError());
            for (const HANDLE made : {readEvent, wakeEvent})
                if (made != nullptr)
                    ::CloseHandle (made);
            ::CloseHandle (handle);
            return nullptr;
        }
        return std::make_unique<SystemReader> (handle, readEvent, wakeEvent);
    }

    std::unique_ptr<NotificationWindow> createNotificationWindow (std::function<void (const DeviceChange&)> onChange,
                                                                  std::uint32_t& error) override
    {
        auto window = std::make_unique<SystemNotificationWindow> (std::move (onChange));
        if (! window->create (hidGuid(), error))
            return nullptr;
        return window;
    }
};
} // namespace

std::shared_ptr<WinHidApi> makeSystemWinHidApi()
{
    return std::make_shared<SystemWinHidApi>();
}

} // namespace hidlink

} // namespace korva
