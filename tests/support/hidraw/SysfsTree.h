#pragma once

// The part of sysfs that udev reads for a USB HID device with a hidraw node,
// laid out as the kernel lays it out: the USB device, its interface, the HID
// device below it and the hidraw class device below that, with the class, bus
// and /sys/dev/char links pointing at them. Written into a tmpfs mounted on
// /sys inside the emulation's mount namespace.

#include <cstdint>
#include <string>
#include <vector>

namespace korva::test::hidraw
{

// The major number of the emulated hidraw nodes (the kernel picks one at boot).
constexpr int kHidrawMajor = 243;

struct SysfsDevice
{
    int number = 0;     // N of /dev/hidrawN: the node's minor number
    int instance = 1;   // the HID bus's running number, ".0001" in the HID device's name
    int usbNumber = 2;  // the USB device number on bus 1 (1 is the root hub)
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::vector<std::uint8_t> reportDescriptor;

    // The folders the device occupies, outermost first.
    std::string usbDevicePath() const;
    std::string interfacePath() const;
    std::string hidPath() const;
    std::string hidrawPath() const;
};

// The parents every device hangs from (PCI host controller, USB root hub) and
// the class and bus folders. `root` is where sysfs is being built.
bool createSysfsSkeleton (const std::string& root, std::string& error);

// Plugging in: the folders from the USB device inwards, then the links. The
// paths of `device` are below /sys.
bool addSysfsDevice (const SysfsDevice& device, std::string& error);

// Unplugging: the hidraw class device first, as the kernel removes it, then
// the HID, interface and USB devices.
void removeSysfsDevice (const SysfsDevice& device);

// The report descriptor of a device without report IDs that sends input
// reports and takes output reports of the given lengths (report-ID byte
// included, as the lengths are counted everywhere else).
std::vector<std::uint8_t> makeReportDescriptor (int inputReportLength, int outputReportLength);

} // namespace korva::test::hidraw
