#pragma once

// What the hidraw backend makes of what the system tells it about a node:
// pure functions, so they can be tested without udev or a device.

#include "core/hidlink/HidLink.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korva
{

namespace hidlink
{

// Report lengths as the Windows capabilities count them: the longest report
// of each kind in bytes, plus one for the report-ID byte (counted also when
// the device does not number its reports); 0 when there is no such report.
struct ReportLengths
{
    std::uint16_t input = 0;
    std::uint16_t output = 0;
    std::uint16_t feature = 0;
    bool numbered = false; // reports carry a report-ID byte of their own
    bool complete = false; // the descriptor was read to its end without a cut-off item
};

// Reads Report Size, Report Count, Report ID, Push and Pop, and the Input,
// Output and Feature items; everything else is skipped. Never reads beyond
// `size`; a cut-off item ends the parse with what was counted so far.
ReportLengths parseReportDescriptor (const std::uint8_t* data, std::size_t size);

// "bus:vendor:product" in hexadecimal, as the kernel writes HID_ID
// ("0003:00007C4E:00000A31"); letter case does not matter.
bool parseHidId (const std::string& text, std::uint16_t& vendorId, std::uint16_t& productId);

// The hot-plug test: the sysfs path of a hidraw node names its HID device
// "bus:VENDOR:PRODUCT.instance" (for example ".../0003:7C4E:0A31.0005/hidraw/
// hidraw2"), also in a removal event, when nothing else can be read any more.
// The path is upper-cased before the search, so letter case does not matter.
bool isTargetDevicePath (const std::string& sysPath);

// What udev and sysfs give for one hidraw node.
struct HidrawProperties
{
    std::string devNode;         // "/dev/hidraw2": the path that is opened
    std::string hidId;           // HID_ID of the parent "hid" device
    std::string hidName;         // HID_NAME of the parent "hid" device
    bool hasUsbDevice = false;   // a "usb_device" ancestor was found
    std::string usbManufacturer; // its "manufacturer" attribute
    std::string usbProduct;      // its "product" attribute
    std::string usbVersion;      // its "bcdDevice" attribute, hexadecimal
    std::vector<std::uint8_t> reportDescriptor;
};

HidDeviceCaps describeHidraw (const HidrawProperties& properties);

// A device string as the registry keeps it: valid UTF-8 (other bytes are
// dropped), at most maxBytes long, cut at a character boundary.
std::string sanitiseDeviceString (const std::string& text, std::size_t maxBytes = 1023);

} // namespace hidlink

} // namespace korva
