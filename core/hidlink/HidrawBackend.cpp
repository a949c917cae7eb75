// The hidraw nodes of the system. libudev lists them and reads their parents'
// properties; hot-plug comes from a udev monitor, or, where udev is not
// running (containers), from inotify on /dev followed by a rescan, and
// failing that from a rescan every few seconds.

#include "core/hidlink/HidBackend.h"
#include "core/hidlink/HidrawDescription.h"
#include "core/hidlink/InotifyEvents.h"
#include "core/infra/Diagnostics.h"

#include <libudev.h>
#include <linux/hidraw.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace korva
{

namespace hidlink
{

namespace
{
constexpr const char* kUdevControl = "/run/udev/control";
constexpr int kRescanIntervalMs = 3000;

struct UdevDeleter
{
    void operator() (udev* p) const { udev_unref (p); }
    void operator() (udev_device* p) const { udev_device_unref (p); }
    void operator() (udev_enumerate* p) const { udev_enumerate_unref (p); }
    void operator() (udev_monitor* p) const { udev_monitor_unref (p); }
};

template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string text (const char* value)
{
    return value != nullptr ? std::string (value) : std::string();
}

std::vector<std::uint8_t> readBinaryFile (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    if (! in)
        return {};
    return std::vector<std::uint8_t> (std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>());
}

HidDeviceCaps describeUdevDevice (udev_device* device, const std::string& fallbackPath)
{
    HidrawProperties properties;
    properties.devNode = text (udev_device_get_devnode (device));
    if (properties.devNode.empty())
        properties.devNode = fallbackPath;

    // Parents are owned by the child; they are not unreferenced.
    if (auto* hid = udev_device_get_parent_with_subsystem_devtype (device, "hid", nullptr))
    {
        properties.hidId = text (udev_device_get_property_value (hid, "HID_ID"));
        properties.hidName = text (udev_device_get_property_value (hid, "HID_NAME"));
        if (const char* hidPath = udev_device_get_syspath (hid))
            properties.reportDescriptor = readBinaryFile (std::string (hidPath) + "/report_descriptor");
    }

    if (auto* usb = udev_device_get_parent_with_subsystem_devtype (device, "usb", "usb_device"))
    {
        properties.hasUsbDevice = true;
        properties.usbManufacturer = text (udev_device_get_sysattr_value (usb, "manufacturer"));
        properties.usbProduct = text (udev_device_get_sysattr_value (usb, "product"));
        properties.usbVersion = text (udev_device_get_sysattr_value (usb, "bcdDevice"));
    }

    return describeHidraw (properties);
}

class HidrawBackend;

//==============================================================================
// udev's own events: the target test runs on the sysfs path, which removal
// events still carry.
class UdevWatcher final : public HidWatcher
{
public:
    // The monitor holds its own reference to the udev context.
    explicit UdevWatcher (UdevPtr<udev_monitor> monitor) : m_monitor (std::move (monitor)) {}

    HidWaitable getWaitable() const override { return udev_monitor_get_fd (m_monitor.get()); }
    int getTimeoutMs() const override { return -1; }

    void collect (bool, std::vector<HidChange>& changes) override
    {
        // The monitor's socket does not block: take everything that is queued.
        while (auto* raw = udev_monitor_receive_device (m_monitor.get()))
        {
            UdevPtr<udev_device> device (raw);
            const auto action = text (udev_device_get_action (raw));
            const auto sysPath = text (udev_device_get_syspath (raw));
            const auto devNode = text (udev_device_get_devnode (raw));

            if (devNode.empty() || ! isTargetDevicePath (sysPath))
                continue;

            if (action == "add")
                changes.push_back ({true, describeUdevDevice (raw, devNode)});
            else if (action == "remove")
                changes.push_back ({false, HidDeviceCaps (devNode)});
        }
    }

private:
    UdevPtr<udev_monitor> m_monitor;
};

//==============================================================================
// Without udev: list the nodes again whenever /dev changes (or every few
// seconds when /dev cannot be watched) and report the difference.
class RescanWatcher final : public HidWatcher
{
public:
    RescanWatcher (HidrawBackend& backend, int inotifyFd);
    ~RescanWatcher() override
    {
        if (m_inotifyFd >= 0)
            ::close (m_inotifyFd);
    }

    HidWaitable getWaitable() const override { return m_inotifyFd >= 0 ? m_inotifyFd : kNoWaitable; }
    int getTimeoutMs() const override { return m_inotifyFd >= 0 ? -1 : kRescanIntervalMs; }
    void collect (bool readable, std::vector<HidChange>& changes) override;

private:
    void rescan (std::vector<HidChange>& changes);

    HidrawBackend& m_backend;
    const int m_inotifyFd;
    std::map<std::string, std::string> m_known; // node path: sysfs path
};

//==============================================================================
class HidrawBackend final : public HidBackend, public std::enable_shared_from_this<HidrawBackend>
{
public:
    HidrawBackend() : m_udev (udev_new())
    {
        if (m_udev == nullptr)
            infra::debugPrint ("HidrawBackend: udev_new failed, no hidraw devices");
    }

    const char* getName() const override { return "hidraw"; }

    bool ownsPath (const std::string& path) const override { return path.rfind ("/dev/", 0) == 0; }

    std::vector<HidDeviceCaps> enumerate() override
    {
        std::vector<HidDeviceCaps> result;
        for (auto& node : listNodes())
            result.push_back (std::move (node.caps));
        return result;
    }

    // A present node with the sysfs path of its device. The sysfs path names
    // the HID device with the number the kernel gives each device it meets,
    // so a node unplugged and plugged in again under the same name has
    // another sysfs path.
    struct Node
    {
        HidDeviceCaps caps;
        std::string sysPath;
    };

    std::vector<Node> listNodes()
    {
        std::vector<Node> result;
        if (m_udev == nullptr)
            return result;

        UdevPtr<udev_enumerate> enumeration (udev_enumerate_new (m_udev.get()));
        if (enumeration == nullptr)
            return result;
        udev_enumerate_add_match_subsystem (enumeration.get(), "hidraw");
        udev_enumerate_scan_devices (enumeration.get());

        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach (entry, udev_enumerate_get_list_entry (enumeration.get()))
        {
            UdevPtr<udev_device> device (udev_device_new_from_syspath (m_udev.get(), udev_list_entry_get_name (entry)));
            const char* node = device != nullptr ? udev_device_get_devnode (device.get()) : nullptr;
            // The kernel removes the node first when a device goes, and makes
            // it last when one comes: a device whose node is missing is on its
            // way in or out, and not there for this program.
            struct stat info
            {
            };
            if (node != nullptr && ::stat (node, &info) == 0)
                result.push_back ({describeUdevDevice (device.get(), {}), text (udev_device_get_syspath (device.get()))});
        }
        return result;
    }

    HidDeviceCaps describe (const std::string& path) override
    {
        struct stat info
        {
        };
        if (m_udev == nullptr || ::stat (path.c_str(), &info) != 0 || ! S_ISCHR (info.st_mode))
            return HidDeviceCaps (path);

        UdevPtr<udev_device> device (udev_device_new_from_devnum (m_udev.get(), 'c', info.st_rdev));
        if (device == nullptr)
            return HidDeviceCaps (path);
        return describeUdevDevice (device.get(), path);
    }

    std::unique_ptr<HidPort> openPort (const std::string& path, HidPortUse, int& error) override
    {
        error = 0;
        const int fd = ::open (path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
        {
            error = errno;
            infra::debugPrintf ("HidrawBackend: cannot open %s: %s%s", path.c_str(), std::strerror (error),
                                error == EACCES ? " (is the udev rule 70-korva.rules installed?)" : "");
            return nullptr;
        }

        auto port = std::make_unique<FdHidPort> (fd, ! reportsAreNumbered (fd, path));
        if (! port->isValid())
        {
            error = EMFILE;
            return nullptr;
        }
        return port;
    }

    // The node itself is locked: every program that uses the KORVA takes the
    // same lock, whichever user runs it.
    std::unique_ptr<HidClaim> claim (const std::string& path, int& error) override
    {
        auto claimed = claimWithLock (path, false, error);
        if (claimed == nullptr)
            infra::debugPrintf ("HidrawBackend: cannot claim %s: %s", path.c_str(), std::strerror (error));
        return claimed;
    }

    std::unique_ptr<HidWatcher> createWatcher() override
    {
        if (m_udev == nullptr)
            return nullptr;

        if (::access (kUdevControl, F_OK) == 0)
        {
            UdevPtr<udev_monitor> monitor (udev_monitor_new_from_netlink (m_udev.get(), "udev"));
            if (monitor != nullptr
                && udev_monitor_filter_add_match_subsystem_devtype (monitor.get(), "hidraw", nullptr) >= 0
                && udev_monitor_enable_receiving (monitor.get()) >= 0)
                return std::make_unique<UdevWatcher> (std::move (monitor));
            infra::debugPrint ("HidrawBackend: udev monitor failed, watching /dev instead");
        }

        const int fd = ::inotify_init1 (IN_NONBLOCK | IN_CLOEXEC);
        if (fd >= 0 && ::inotify_add_watch (fd, "/dev", IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) >= 0)
            return std::make_unique<RescanWatcher> (*this, fd);

        if (fd >= 0)
            ::close (fd);
        infra::debugPrintf ("HidrawBackend: cannot watch /dev, looking for devices every %d ms", kRescanIntervalMs);
        return std::make_unique<RescanWatcher> (*this, -1);
    }

private:
    // Unnumbered reports reach hidraw readers without their report-ID byte.
    static bool reportsAreNumbered (int fd, const std::string& path)
    {
        int size = 0;
        if (::ioctl (fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE)
        {
            hidraw_report_descriptor descriptor{};
            descriptor.size = static_cast<__u32> (size);
            if (::ioctl (fd, HIDIOCGRDESC, &descriptor) == 0)
                return parseReportDescriptor (descriptor.value, descriptor.size).numbered;
        }
        infra::debugPrintf ("HidrawBackend: no report descriptor for %s, taking unnumbered reports", path.c_str());
        return false;
    }

    UdevPtr<udev> m_udev;
};

RescanWatcher::RescanWatcher (HidrawBackend& backend, int inotifyFd) : m_backend (backend), m_inotifyFd (inotifyFd)
{
    for (const auto& node : m_backend.listNodes())
        if (node.caps.isTarget())
            m_known[node.caps.path] = node.sysPath;
}

void RescanWatcher::collect (bool readable, std::vector<HidChange>& changes)
{
    bool relevant = m_inotifyFd < 0;

    if (readable && m_inotifyFd >= 0)
        readInotifyEvents (m_inotifyFd, [&relevant] (const inotify_event& event) {
            if ((event.len > 0 && std::strncmp (event.name, "hidraw", 6) == 0) || (event.mask & IN_Q_OVERFLOW) != 0)
                relevant = true;
        });

    if (relevant)
        rescan (changes);
}

void RescanWatcher::rescan (std::vector<HidChange>& changes)
{
    std::map<std::string, HidrawBackend::Node> present;
    for (auto& node : m_backend.listNodes())
        if (node.caps.isTarget())
            present[node.caps.path] = std::move (node);

    // A node that went, or that is another device now (unplugged and plugged
    // in again between two looks), is a removal; then come the arrivals.
    std::map<std::string, std::string> known;
    for (const auto& entry : m_known)
    {
        const auto found = present.find (entry.first);
        if (found == present.end() || found->second.sysPath != entry.second)
            changes.push_back ({false, HidDeviceCaps (entry.first)});
    }
    for (const auto& entry : present)
    {
        const auto found = m_known.find (entry.first);
        if (found == m_known.end() || found->second != entry.second.sysPath)
            changes.push_back ({true, entry.second.caps});
        known[entry.first] = entry.second.sysPath;
    }
    m_known = std::move (known);
}
} // namespace

std::shared_ptr<HidBackend> makeHidrawBackend()
{
    return std::make_shared<HidrawBackend>();
}

} // namespace hidlink

} // namespace korva
