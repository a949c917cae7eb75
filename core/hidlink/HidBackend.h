#pragma once

// What the access layer needs from the system, once per kind of device: the
// present devices, a description of one path, an open port for reading and
// writing reports, and a hot-plug watcher. Two backends run side by side:
// Linux hidraw for the real KORVA, and Unix-domain sockets for virtual ones.

#include "core/hidlink/HidLink.h"

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
    // bytes the system took, or -errno.
    virtual int writeReport (const std::uint8_t* data, int size) = 0;
};

// An error of a write (or a read) that means the device will not answer
// again: its peer has closed, it was unplugged, or the kernel gave up on it.
// A write that merely timed out is not one.
bool errorMeansGone (int error) noexcept;

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

// Watches for arrivals and removals. The registry's thread polls the
// descriptor (if any) and calls collect when it is readable, or when the
// timeout has passed.
class HidWatcher
{
public:
    virtual ~HidWatcher() = default;

    // The descriptor to poll for input, or -1.
    virtual int getDescriptor() const = 0;
    // How long to wait before calling collect without input; -1 for ever.
    virtual int getTimeoutMs() const = 0;
    // Reads what the descriptor holds (readable says whether it is) and
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

    // Null when the path cannot be opened; `error` is then the system's
    // error number (EACCES: this user may not open it), and the reason is traced.
    virtual std::unique_ptr<HidPort> openPort (const std::string& path, int& error) = 0;

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

    // Null when this backend cannot watch (the reason is traced). Created
    // before the registry enumerates, so nothing arriving meanwhile is missed.
    virtual std::unique_ptr<HidWatcher> createWatcher() = 0;
};

// The hidraw nodes of the system, through libudev.
std::shared_ptr<HidBackend> makeHidrawBackend();

// The virtual devices: sockets in `folder`, created when missing.
std::shared_ptr<HidBackend> makeVirtualBackend (const std::string& folder);

// Both, the virtual one on the default folder.
std::vector<std::shared_ptr<HidBackend>> makeDefaultBackends();

} // namespace hidlink

} // namespace korva
