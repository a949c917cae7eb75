#include "tests/support/hidraw/SysfsTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace korva::test::hidraw
{

namespace
{
constexpr const char* kHostController = "/sys/devices/pci0000:00/0000:00:14.0";
constexpr const char* kRootHub = "/sys/devices/pci0000:00/0000:00:14.0/usb1";

std::string hex4 (unsigned value, bool upper)
{
    char text[8];
    std::snprintf (text, sizeof (text), upper ? "%04X" : "%04x", value & 0xFFFFu);
    return text;
}

// The link sysfs would make: relative, from the folder the link is in.
std::string relativeTarget (const fs::path& link, const fs::path& target)
{
    return target.lexically_relative (link.parent_path()).string();
}

// Writes below `root` what is meant for /sys: every path given is a /sys
// path, and links are computed between /sys paths.
class Writer
{
public:
    explicit Writer (std::string root = "/sys") : m_root (std::move (root)) {}

    void folder (const std::string& path)
    {
        std::error_code code;
        fs::create_directories (real (path), code);
        fail (code, path);
    }

    void file (const std::string& path, const std::string& text)
    {
        std::ofstream out (real (path), std::ios::binary | std::ios::trunc);
        out << text;
        if (! out)
            fail (std::make_error_code (std::errc::io_error), path);
    }

    void file (const std::string& path, const std::vector<std::uint8_t>& bytes)
    {
        std::ofstream out (real (path), std::ios::binary | std::ios::trunc);
        out.write (reinterpret_cast<const char*> (bytes.data()), static_cast<std::streamsize> (bytes.size()));
        if (! out)
            fail (std::make_error_code (std::errc::io_error), path);
    }

    // A link at `path` to `target`, both as seen from /sys.
    void link (const std::string& path, const std::string& target)
    {
        std::error_code code;
        fs::create_symlink (relativeTarget (path, target), real (path), code);
        fail (code, path);
    }

    bool ok (std::string& error) const
    {
        error = m_error;
        return m_error.empty();
    }

private:
    std::string real (const std::string& path) const { return m_root + path.substr (4); }

    void fail (const std::error_code& code, const std::string& path)
    {
        if (code && m_error.empty())
            m_error = path + ": " + code.message();
    }

    const std::string m_root; // where /sys is being built
    std::string m_error;
};

// A USB device node's folder: attributes and uevent as usbcore writes them.
void writeUsbDevice (Writer& w, const std::string& path, int number, std::uint16_t vendorId, std::uint16_t productId,
                     std::uint16_t version, const std::string& manufacturer, const std::string& product,
                     const std::string& serial, int deviceClass)
{
    const auto bcd = hex4 (version, false);
    std::ostringstream uevent;
    uevent << "MAJOR=189\nMINOR=" << (number - 1) << "\nDEVNAME=bus/usb/001/" << (number < 10 ? "00" : "0") << number
           << "\nDEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" << std::hex << vendorId << "/" << productId << "/" << version
           << std::dec << "\nTYPE=" << deviceClass << "/0/0\nBUSNUM=001\nDEVNUM=" << (number < 10 ? "00" : "0") << number
           << "\n";

    w.folder (path);
    w.file (path + "/uevent", uevent.str());
    w.file (path + "/dev", "189:" + std::to_string (number - 1) + "\n");
    w.file (path + "/idVendor", hex4 (vendorId, false) + "\n");
    w.file (path + "/idProduct", hex4 (productId, false) + "\n");
    w.file (path + "/bcdDevice", bcd + "\n");
    w.file (path + "/busnum", "1\n");
    w.file (path + "/devnum", std::to_string (number) + "\n");
    w.file (path + "/bDeviceClass", (deviceClass == 9 ? std::string ("09") : std::string ("00")) + "\n");
    if (! manufacturer.empty())
        w.file (path + "/manufacturer", manufacturer + "\n");
    if (! product.empty())
        w.file (path + "/product", product + "\n");
    if (! serial.empty())
        w.file (path + "/serial", serial + "\n");
    w.link (path + "/subsystem", "/sys/bus/usb");
    w.link (path + "/driver", "/sys/bus/usb/drivers/usb");
}
} // namespace

//==============================================================================
std::string SysfsDevice::usbDevicePath() const
{
    return std::string (kRootHub) + "/1-" + std::to_string (number + 1);
}

std::string SysfsDevice::interfacePath() const
{
    return usbDevicePath() + "/1-" + std::to_string (number + 1) + ":1.0";
}

std::string SysfsDevice::hidPath() const
{
    return interfacePath() + "/0003:" + hex4 (vendorId, true) + ":" + hex4 (productId, true) + "."
           + hex4 (static_cast<unsigned> (instance), true);
}

std::string SysfsDevice::hidrawPath() const
{
    return hidPath() + "/hidraw/hidraw" + std::to_string (number);
}

//==============================================================================
bool createSysfsSkeleton (const std::string& root, std::string& error)
{
    Writer w (root);
    for (const char* folder : {"/sys/class/hidraw", "/sys/bus/hid/devices", "/sys/bus/hid/drivers/hid-generic",
                               "/sys/bus/usb/devices", "/sys/bus/usb/drivers/usb", "/sys/bus/usb/drivers/usbhid",
                               "/sys/bus/pci/devices", "/sys/bus/pci/drivers/xhci_hcd", "/sys/dev/char",
                               "/sys/dev/block"})
        w.folder (folder);

    w.folder ("/sys/devices/pci0000:00");
    w.file ("/sys/devices/pci0000:00/uevent", "");

    const std::string controller = kHostController;
    w.folder (controller);
    w.file (controller + "/uevent", "DRIVER=xhci_hcd\nPCI_CLASS=C0330\nPCI_ID=8086:A36D\nPCI_SLOT_NAME=0000:00:14.0\n");
    w.file (controller + "/vendor", "0x8086\n");
    w.file (controller + "/device", "0xa36d\n");
    w.link (controller + "/subsystem", "/sys/bus/pci");
    w.link (controller + "/driver", "/sys/bus/pci/drivers/xhci_hcd");
    w.link ("/sys/bus/pci/devices/0000:00:14.0", controller);

    const std::string hub = kRootHub;
    writeUsbDevice (w, hub, 1, 0x1d6b, 0x0002, 0x0606, "Linux xhci-hcd", "xHCI Host Controller", "0000:00:14.0", 9);
    w.link ("/sys/bus/usb/devices/usb1", hub);
    return w.ok (error);
}

bool addSysfsDevice (const SysfsDevice& d, std::string& error)
{
    Writer w;
    const auto usb = d.usbDevicePath();
    const auto port = "1-" + std::to_string (d.number + 1);
    writeUsbDevice (w, usb, d.usbNumber, d.vendorId, d.productId, d.versionNumber, d.manufacturer, d.product,
                    d.serial, 0);
    w.link ("/sys/bus/usb/devices/" + port, usb);

    const auto interface = d.interfacePath();
    std::ostringstream interfaceEvent;
    interfaceEvent << "DEVTYPE=usb_interface\nDRIVER=usbhid\nPRODUCT=" << std::hex << d.vendorId << "/" << d.productId
                   << "/" << d.versionNumber << std::dec << "\nTYPE=0/0/0\nINTERFACE=3/0/0\n";
    w.folder (interface);
    w.file (interface + "/uevent", interfaceEvent.str());
    w.file (interface + "/bInterfaceClass", "03\n");
    w.file (interface + "/bInterfaceNumber", "00\n");
    w.link (interface + "/subsystem", "/sys/bus/usb");
    w.link (interface + "/driver", "/sys/bus/usb/drivers/usbhid");
    w.link ("/sys/bus/usb/devices/" + port + ":1.0", interface);

    // The HID core names the device after the USB strings, and takes the
    // serial number as its unique id.
    const auto hid = d.hidPath();
    std::string name = d.manufacturer;
    if (! d.product.empty())
        name += (name.empty() ? "" : " ") + d.product;
    std::ostringstream hidEvent;
    hidEvent << "DRIVER=hid-generic\nHID_ID=0003:0000" << hex4 (d.vendorId, true) << ":0000" << hex4 (d.productId, true)
             << "\nHID_NAME=" << name << "\nHID_PHYS=usb-0000:00:14.0-" << (d.number + 1)
             << "/input0\nHID_UNIQ=" << d.serial << "\nMODALIAS=hid:b0003g0001v0000" << hex4 (d.vendorId, true)
             << "p0000" << hex4 (d.productId, true) << "\n";
    w.folder (hid);
    w.file (hid + "/uevent", hidEvent.str());
    w.file (hid + "/report_descriptor", d.reportDescriptor);
    w.file (hid + "/country", "00\n");
    w.link (hid + "/subsystem", "/sys/bus/hid");
    w.link (hid + "/driver", "/sys/bus/hid/drivers/hid-generic");
    w.link ("/sys/bus/hid/devices/" + hid.substr (hid.rfind ('/') + 1), hid);

    const auto node = d.hidrawPath();
    const auto name2 = "hidraw" + std::to_string (d.number);
    const auto devnum = std::to_string (kHidrawMajor) + ":" + std::to_string (d.number);
    w.folder (node);
    w.file (node + "/uevent", "MAJOR=" + std::to_string (kHidrawMajor) + "\nMINOR=" + std::to_string (d.number)
                                  + "\nDEVNAME=" + name2 + "\n");
    w.file (node + "/dev", devnum + "\n");
    w.link (node + "/subsystem", "/sys/class/hidraw");
    w.link (node + "/device", hid);
    w.link ("/sys/dev/char/" + devnum, node);
    w.link ("/sys/class/hidraw/" + name2, node);
    return w.ok (error);
}

void removeSysfsDevice (const SysfsDevice& d)
{
    std::error_code ignored;
    const auto name = "hidraw" + std::to_string (d.number);
    fs::remove ("/sys/class/hidraw/" + name, ignored);
    fs::remove ("/sys/dev/char/" + std::to_string (kHidrawMajor) + ":" + std::to_string (d.number), ignored);
    fs::remove_all (d.hidPath() + "/hidraw", ignored);

    const auto hid = d.hidPath();
    fs::remove ("/sys/bus/hid/devices/" + hid.substr (hid.rfind ('/') + 1), ignored);
    fs::remove_all (hid, ignored);

    const auto port = "1-" + std::to_string (d.number + 1);
    fs::remove ("/sys/bus/usb/devices/" + port + ":1.0", ignored);
    fs::remove_all (d.interfacePath(), ignored);
    fs::remove ("/sys/bus/usb/devices/" + port, ignored);
    fs::remove_all (d.usbDevicePath(), ignored);
}

//==============================================================================
std::vector<std::uint8_t> makeReportDescriptor (int inputReportLength, int outputReportLength)
{
    std::vector<std::uint8_t> d = {
        0x06, 0x00, 0xFF, // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
    };

    // One main item of 8-bit fields; the count without the report-ID byte.
    const auto field = [&d] (std::uint8_t usage, int length, std::uint8_t mainItem)
    {
        const int count = length - 1;
        if (count <= 0)
            return;
        d.insert (d.end(), {0x09, usage, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08});
        if (count < 256)
            d.insert (d.end(), {0x95, static_cast<std::uint8_t> (count)});
        else
            d.insert (d.end(), {0x96, static_cast<std::uint8_t> (count & 0xFF), static_cast<std::uint8_t> (count >> 8)});
        d.insert (d.end(), {mainItem, 0x02}); // Data, Variable, Absolute
    };
    field (0x02, inputReportLength, 0x81);  // Input
    field (0x03, outputReportLength, 0x91); // Output
    d.push_back (0xC0);                     // End Collection
    return d;
}

} // namespace korva::test::hidraw
