#pragma once

// What the access layer needs from the system, once per kind of device: the
// present devices, a description of one path, an open port for reading and
// writing reports, and a hot-plug watcher. On Linux two backends run side by
// side: hidraw for the real KORVA, and Unix-domain sockets for virtual ones;
// on Windows the HID class driver is the only one (WinHidBackend.h).

#include "core/hidlink/HidLink.h"
#include "core/hidlink/HidWait.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korva
{

namespace hidlink
{

// One open device node or socket. Reports are handled report-ID byte first in
// both directions, whatever the system does underneath.
class HidPort
{
public:
    enum class ReadStatus
    {
        kReport,  // one report was stored
        kTimeout, // nothing arrived within the time limit
        kGone,    // the device has gone (unplugged, closed, error)
        kWoken    // wake() was called
    };

    virtual ~HidPort() = default;

    // Waits up to timeoutMs for one input report and stores it in buffer
    // (at most size bytes, report-ID byte first); bytesRead tells how many.
    virtual ReadStatus readReport (std::uint8_t* buffer, int size, int timeoutMs, int& bytesRead) = 0;

    // Ends a readReport in progress, and the next one, with kWoken.
    virtual void wake() = 0;

    // Sends one output report, report-ID byte first. Returns the number of
    // bytes the system took, or minus the system's error number (errno on
    // Linux, GetLastError() on Windows).
    virtual int writeReport (const std::uint8_t* data, int size) = 0;

    // Whether an error number of this port's system (as writeReport gives
    // it) means that the device will not answer again: its peer has closed,
    // it was unplugged, or the system gave up on it. A write that merely
    // timed out is not one.
    virtual bool errorMeansGone (int error) const noexcept = 0;
};

// What to open a port for: the reader waits for reports while the writer
// sends, each on a handle of its own.
enum class HidPortUse
{
    kReading,
    kWriting
};

// The judgement of FdHidPort: which errno values mean the device is gone.
bool errnoMeansGone (int error) noexcept;

// A port over a file descriptor: a hidraw node, a socket of a virtual device,
// or in tests one end of a socketpair. Reads wait with poll() on the
// descriptor and on an eventfd that wake() signals.
class FdHidPort final : public HidPort
{
public:
    // prependReportId: the descriptor delivers unnumbered reports without
    // their report-ID byte (hidraw does), so a 0 byte is put in front.
    FdHidPort (int fd, bool prependReportId);
    ~FdHidPort() override;

    bool isValid() const noexcept { return m_fd >= 0 && m_wakeFd >= 0; }

    ReadStatus readReport (std::uint8_t* buffer, int size, int timeoutMs, int& bytesRead) override;
    void wake() override;
    int writeReport (const std::uint8_t* data, int size) override;
    bool errorMeansGone (int error) const noexcept override;

private:
    const int m_fd;
    const int m_wakeFd;
    const bool m_prependReportId;
    const bool m_isSocket;

    JUCE_DECLARE_NON_COPYABLE (FdHidPort)
};

// A device taken for one program alone, for as long as the claim lives.
class HidClaim
{
public:
    virtual ~HidClaim() = default;
};

// A claim held as an exclusive advisory lock (flock) on a file: the device
// node itself, which every program that opens the KORVA locks first, whoever
// runs it, or a lock file beside a virtual device's socket (created when
// `create`). Null with `error` EBUSY while another program holds the lock,
// or with the system's error when the file cannot be opened.
std::unique_ptr<HidClaim> claimWithLock (const std::string& file, bool create, int& error);

// A change seen by a hot-plug watcher.
struct HidChange
{
    bool arrived = false;
    HidDeviceCaps caps;
};

// Watches for arrivals and removals. Made, used and destroyed on the
// registry's thread, which waits on the waitable (if any) and calls collect
// when it is ready, or when the timeout has passed.
class HidWatcher
{
public:
    virtual ~HidWatcher() = default;

    // What to wait on (HidWait.h: a descriptor on Linux, a handle on
    // Windows), or kNoWaitable.
    virtual HidWaitable getWaitable() const = 0;
    // How long to wait before calling collect without input; -1 for ever.
    virtual int getTimeoutMs() const = 0;
    // Takes what the waitable holds (readable says whether it is ready) and
    // appends the arrivals of target devices and all removals.
    virtual void collect (bool readable, std::vector<HidChange>& changes) = 0;
};

class HidBackend
{
public:
    virtual ~HidBackend() = default;

    virtual const char* getName() const = 0;
    virtual bool ownsPath (const std::string& path) const = 0;

    // Descriptions of every present device, in a stable order (not filtered).
    // A device is present once the system lists it and its node is there.
    virtual std::vector<HidDeviceCaps> enumerate() = 0;
    virtual HidDeviceCaps describe (const std::string& path) = 0;

    // Null when the path cannot be opened; `error` is then an errno value,
    // whatever the system (EACCES: this user may not open it; EBUSY: another
    // program has it; ENODEV: it has gone), and the reason is traced.
    virtual std::unique_ptr<HidPort> openPort (const std::string& path, HidPortUse use, int& error) = 0;

    // Takes the device for this program alone, before its ports are opened:
    // two programs never talk to one KORVA at once. Null with `error` EBUSY
    // while another program has it. (A backend without such a lock takes it
    // at once.)
    virtual std::unique_ptr<HidClaim> claim (const std::string& path, int& error)
    {
        juce::ignoreUnused (path);
        error = 0;
        return std::make_unique<HidClaim>();
    }

    // Null when this backend cannot watch (the reason is traced). Called on
    // the registry's thread, which owns the watcher from then on (on Windows
    // its window must belong to the thread that dispatches its messages),
    // before the registry enumerates, so nothing arriving meanwhile is missed.
    virtual std::unique_ptr<HidWatcher> createWatcher() = 0;
};

// The hidraw nodes of the system, through libudev (Linux).
std::shared_ptr<HidBackend> makeHidrawBackend();

// The virtual devices: sockets in `folder`, created when missing (Linux).
std::shared_ptr<HidBackend> makeVirtualBackend (const std::string& folder);

// The backends of this system: on Linux hidraw and the virtual devices of
// the default folder, on Windows the HID class driver.
std::vector<std::shared_ptr<HidBackend>> makeDefaultBackends();

} // namespace hidlink

} // namespace korva
