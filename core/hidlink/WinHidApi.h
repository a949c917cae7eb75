#pragma once

// The services of Windows that the Windows HID backend is built on, one
// operation each, without any decision of their own: those are the
// backend's (WinHidBackend.cpp), which is therefore built and tested on every
// system with these services replaced. WinHidApiWindows.cpp has the real
// ones: SetupDi for the list of HID interfaces, CreateFileA, the HidD_ and
// HidP_ functions, overlapped ReadFile, WriteFile, and a hidden window for
// WM_DEVICECHANGE.
//
// Error numbers are Windows's own (GetLastError()); the ones the backend
// judges are below.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace korva
{

namespace hidlink
{

namespace winerror
{
constexpr std::uint32_t kFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
constexpr std::uint32_t kPathNotFound = 3;          // ERROR_PATH_NOT_FOUND
constexpr std::uint32_t kAccessDenied = 5;          // ERROR_ACCESS_DENIED
constexpr std::uint32_t kInvalidHandle = 6;         // ERROR_INVALID_HANDLE
constexpr std::uint32_t kBadCommand = 22;           // ERROR_BAD_COMMAND
constexpr std::uint32_t kCrc = 23;                  // ERROR_CRC
constexpr std::uint32_t kGenFailure = 31;           // ERROR_GEN_FAILURE
constexpr std::uint32_t kSharingViolation = 32;     // ERROR_SHARING_VIOLATION
constexpr std::uint32_t kNoSuchDevice = 433;        // ERROR_NO_SUCH_DEVICE
constexpr std::uint32_t kOperationAborted = 995;    // ERROR_OPERATION_ABORTED
constexpr std::uint32_t kDeviceNotConnected = 1167; // ERROR_DEVICE_NOT_CONNECTED
constexpr std::uint32_t kTimeout = 1460;            // ERROR_TIMEOUT
constexpr std::uint32_t kDeviceRemoved = 1617;      // ERROR_DEVICE_REMOVED
} // namespace winerror

// WM_DEVICECHANGE: the event codes and the device type the backend looks at.
constexpr std::uint32_t kDeviceArrival = 0x8000;        // DBT_DEVICEARRIVAL
constexpr std::uint32_t kDeviceRemoveComplete = 0x8004; // DBT_DEVICEREMOVECOMPLETE
constexpr std::uint32_t kDeviceTypeInterface = 5;       // DBT_DEVTYP_DEVICEINTERFACE

// A GUID as Windows lays it out.
struct WinGuid
{
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    bool operator== (const WinGuid& other) const noexcept
    {
        if (data1 != other.data1 || data2 != other.data2 || data3 != other.data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (data4[i] != other.data4[i])
                return false;
        return true;
    }
    bool operator!= (const WinGuid& other) const noexcept { return ! (*this == other); }
};

class WinHidApi
{
public:
    virtual ~WinHidApi() = default;

    // HidD_GetHidGuid: the interface class of HID devices.
    virtual WinGuid getHidGuid() = 0;

    //==========================================================================
    // The present HID interfaces, as SetupDiGetClassDevsA lists them (present
    // devices, device interfaces). The destructor releases the list
    // (SetupDiDestroyDeviceInfoList).
    class InterfaceList
    {
    public:
        enum class Member
        {
            kPath,  // `path` is the interface's path
            kEnd,   // there is no member with this index
            kFailed // the member's detail could not be read (or its buffer allocated)
        };

        virtual ~InterfaceList() = default;
        // Member `index` (SetupDiEnumDeviceInterfaces, then
        // SetupDiGetDeviceInterfaceDetailA).
        virtual Member getMember (std::uint32_t index, std::string& path) = 0;
    };

    // Null when the list cannot be made.
    virtual std::unique_ptr<InterfaceList> listPresentInterfaces() = 0;

    //==========================================================================
    struct Attributes
    {
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::uint16_t versionNumber = 0;
    };

    // Report lengths in bytes, report-ID byte included.
    struct ReportLengths
    {
        std::uint16_t input = 0;
        std::uint16_t output = 0;
    };

    // A handle opened for synchronous use (CreateFileA, read and write,
    // shared read and write, existing only). The destructor closes it.
    class Device
    {
    public:
        virtual ~Device() = default;

        // HidD_GetAttributes.
        virtual bool getAttributes (Attributes& attributes) = 0;
        // HidD_GetManufacturerString / HidD_GetProductString into 1024
        // bytes, converted from UTF-16 to UTF-8 (WideCharToMultiByte).
        virtual bool getManufacturer (std::string& text) = 0;
        virtual bool getProduct (std::string& text) = 0;
        // HidD_GetPreparsedData, HidP_GetCaps, HidD_FreePreparsedData.
        virtual bool getReportLengths (ReportLengths& lengths) = 0;
        // WriteFile, synchronous: false with `error` when it fails, else
        // true with the number of bytes written.
        virtual bool write (const std::uint8_t* data, int size, int& written, std::uint32_t& error) = 0;
    };

    // Null with `error` when the path cannot be opened.
    virtual std::unique_ptr<Device> openDevice (const std::string& path, std::uint32_t& error) = 0;

    //==========================================================================
    // A handle opened for overlapped reading (the same, with
    // FILE_FLAG_OVERLAPPED), with an event for its read and a wake-up event.
    // One read at a time; its buffer must stay valid until it has ended
    // (completed, failed, or cancelled). The destructor cancels a read still
    // pending, waits for it, and closes the handle and the events.
    class Reader
    {
    public:
        enum class Outcome
        {
            kDone,    // the read completed: `bytesRead` bytes are in the buffer
            kPending, // the read is under way
            kFailed,  // the read failed: `error` says why
            kWoken,   // wake() was called
            kTimeout  // the time is up, the read is still under way
        };

        virtual ~Reader() = default;

        // Resets the read event and starts ReadFile into `buffer`: kDone,
        // kPending (ERROR_IO_PENDING) or kFailed.
        virtual Outcome begin (std::uint8_t* buffer, int size, int& bytesRead, std::uint32_t& error) = 0;
        // Waits up to timeoutMs for the pending read or the wake-up event,
        // then takes the read's result (GetOverlappedResult): kDone, kFailed,
        // kWoken or kTimeout.
        virtual Outcome await (int timeoutMs, int& bytesRead, std::uint32_t& error) = 0;
        // Cancels the pending read (CancelIoEx) and waits for it to end.
        // True when it had completed with a report first (`bytesRead` set).
        virtual bool cancel (int& bytesRead) = 0;
        // Signals the wake-up event, for good. Any thread.
        virtual void wake() = 0;
        // Waits up to timeoutMs on the wake-up event: true when woken.
        virtual bool waitForWake (int timeoutMs) = 0;
    };

    // Null with `error` when the path cannot be opened, or the events made.
    virtual std::unique_ptr<Reader> openReader (const std::string& path, std::uint32_t& error) = 0;

    //==========================================================================
    // One WM_DEVICECHANGE. The device type, class and name come from the
    // DEV_BROADCAST header it carries (zero and empty when it carries none);
    // class and name from device-interface headers only.
    struct DeviceChange
    {
        std::uint32_t event = 0;
        std::uint32_t deviceType = 0;
        WinGuid classGuid;
        std::string name;
    };

    // The hidden window whose WM_DEVICECHANGE messages tell of HID
    // interfaces coming and going: class "HIDCOM", title "HIDComunication",
    // registered for the notifications of the HID interface class. Its
    // messages are dispatched by the thread that made it, which must be the
    // one that destroys it. The destructor removes the registration and
    // destroys the window.
    class NotificationWindow
    {
    public:
        virtual ~NotificationWindow() = default;
    };

    // Calls `onChange` for each WM_DEVICECHANGE, from the window procedure,
    // before passing the message on to DefWindowProcA. Null with `error`
    // when the window cannot be made or registered.
    virtual std::unique_ptr<NotificationWindow>
        createNotificationWindow (std::function<void (const DeviceChange&)> onChange, std::uint32_t& error) = 0;
};

// The real services (Windows only).
std::shared_ptr<WinHidApi> makeSystemWinHidApi();

} // namespace hidlink

} // namespace korva
