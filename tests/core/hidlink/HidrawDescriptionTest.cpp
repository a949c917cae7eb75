#include "core/hidlink/HidrawDescription.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace hidlink;

namespace
{
// A vendor-defined interface like the KORVA's: 64 bytes in, 64 bytes out, no report IDs.
const std::vector<std::uint8_t> kKorvaDescriptor = {
    0x06, 0x00, 0xFF, // Usage Page (Vendor 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x02,       //   Usage (2)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x40,       //   Report Count (64)
    0x81, 0x02,       //   Input (Data, Var, Abs)
    0x09, 0x03,       //   Usage (3)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x40,       //   Report Count (64)
    0x91, 0x02,       //   Output (Data, Var, Abs)
    0xC0,             // End Collection
};

// The boot keyboard of the USB HID class definition (appendix B.1): 8 input bytes,
// 1 output byte (the LEDs), no report IDs.
const std::vector<std::uint8_t> kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// A mouse (report 1: 3 button bits and 5 padding bits, X and Y as 16 bits,
// the wheel described between Push and Pop) and a consumer control (report 2:
// 4 x 16 bits, then Push, a feature report 3 of 2 bytes, Pop, which brings
// report 2 and its sizes back, and 4 x 16 bits more).
const std::vector<std::uint8_t> kNumberedMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01,             // Mouse, Report ID 1
    0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, //
    0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, // 3 x 1 bit
    0x95, 0x01, 0x75, 0x05, 0x81, 0x03,                         // 5 bits padding
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x16, 0x01, 0x80, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02,
    0x81, 0x06,                                     // X, Y: 2 x 16 bits
    0xA4,                                           // Push
    0x09, 0x38, 0x95, 0x01, 0x81, 0x06,             // Wheel: 1 x 16 bits
    0xB4,                                           // Pop
    0xC0, 0xC0,                                     //
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, // Consumer, Report ID 2
    0x19, 0x00, 0x2A, 0x3C, 0x02, 0x15, 0x00, 0x26, 0x3C, 0x02, 0x95, 0x04, 0x75, 0x10, 0x81, 0x00, // 4 x 16 bits
    0xA4,                                                                                           // Push
    0x85, 0x03, 0x95, 0x02, 0x75, 0x08, 0xB1, 0x02, // Feature, Report ID 3: 2 x 8 bits
    0xB4,                                           // Pop: report 2, 4 x 16 bits
    0x81, 0x00,                                     // 4 x 16 bits more
    0xC0,
};
} // namespace

TEST (ReportDescriptor, LengthsCountTheReportIdByteLikeTheWindowsCapabilities)
{
    struct Case
    {
        const char* name;
        const std::vector<std::uint8_t>* descriptor;
        std::uint16_t input, output, feature;
        bool numbered;
    };
    const Case cases[] = {
        {"KORVA", &kKorvaDescriptor, 65, 65, 0, false},
        {"boot keyboard", &kBootKeyboard, 9, 2, 0, false},
        {"numbered mouse", &kNumberedMouse, 17, 0, 3, true},
    };

    for (const auto& c : cases)
    {
        const auto lengths = parseReportDescriptor (c.descriptor->data(), c.descriptor->size());
        EXPECT_EQ (lengths.input, c.input) << c.name;
        EXPECT_EQ (lengths.output, c.output) << c.name;
        EXPECT_EQ (lengths.feature, c.feature) << c.name;
        EXPECT_EQ (lengths.numbered, c.numbered) << c.name;
        EXPECT_TRUE (lengths.complete) << c.name;
    }
}

TEST (ReportDescriptor, CutOffAndHostileDescriptorsNeverReadBeyondTheirEnd)
{
    // Every prefix of a real descriptor: the parse stops at the cut.
    for (std::size_t size = 0; size < kKorvaDescriptor.size(); ++size)
    {
        std::vector<std::uint8_t> cut (kKorvaDescriptor.begin(), kKorvaDescriptor.begin() + static_cast<long> (size));
        const auto lengths = parseReportDescriptor (cut.data(), cut.size());
        EXPECT_LE (lengths.input, 65);
        EXPECT_LE (lengths.output, 65);
    }
    EXPECT_FALSE (parseReportDescriptor (kKorvaDescriptor.data(), 2).complete) << "cut inside Usage Page";

    // A 4-byte item missing its data, a long item running past the end.
    const std::uint8_t shortItem[] = {0x75, 0x08, 0x97, 0x01, 0x02};
    EXPECT_FALSE (parseReportDescriptor (shortItem, sizeof (shortItem)).complete);
    const std::uint8_t longItem[] = {0xFE, 0x20, 0x00, 0x01};
    EXPECT_FALSE (parseReportDescriptor (longItem, sizeof (longItem)).complete);

    // Huge sizes and counts saturate instead of overflowing; Pop without Push is ignored.
    const std::uint8_t huge[] = {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF,
                                 0xFF, 0xFF, 0x81, 0x02, 0xB4, 0x81, 0x02};
    const auto lengths = parseReportDescriptor (huge, sizeof (huge));
    EXPECT_EQ (lengths.input, 0xFFFF);
    EXPECT_TRUE (lengths.complete);

    EXPECT_EQ (parseReportDescriptor (nullptr, 10).input, 0);
}

TEST (HidrawDescription, HidIdIsParsedWhateverTheLetterCase)
{
    struct Case
    {
        const char* text;
        bool ok;
        std::uint16_t vendor, product;
    };
    const Case cases[] = {
        {"0003:00007C4E:00000A31", true, 0x7C4E, 0x0A31},
        {"0003:00007c4e:00000a31", true, 0x7C4E, 0x0A31},
        {"0005:0000046D:0000B01A", true, 0x046D, 0xB01A},
        {"0003:00017C4E:00000A31", false, 0, 0}, // vendor beyond 16 bits
        {"0003:7C4E", false, 0, 0},
        {"0003:7C4E:0A31:1", false, 0, 0},
        {"0003:XYZ:0A31", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& c : cases)
    {
        std::uint16_t vendor = 0, product = 0;
        EXPECT_EQ (parseHidId (c.text, vendor, product), c.ok) << c.text;
        if (c.ok)
        {
            EXPECT_EQ (vendor, c.vendor) << c.text;
            EXPECT_EQ (product, c.product) << c.text;
        }
    }
}

TEST (HidrawDescription, TargetTestLooksForTheIdsInTheSysfsPathIgnoringCase)
{
    EXPECT_TRUE (isTargetDevicePath (
        "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:7C4E:0A31.0005/hidraw/hidraw2"));
    EXPECT_TRUE (isTargetDevicePath (
        "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:7c4e:0a31.0005/hidraw/hidraw2"));
    EXPECT_TRUE (isTargetDevicePath ("/devices/virtual/misc/uhid/0003:7C4e:0A31.0001/hidraw/hidraw0"));
    EXPECT_FALSE (isTargetDevicePath ("/sys/devices/pci0000:00/usb1/1-1/1-1:1.0/0003:046D:C077.0001/hidraw/hidraw0"));
    EXPECT_FALSE (isTargetDevicePath ("/sys/devices/pci0000:00/usb1/1-1/1-1:1.0/0003:7C4E:0A32.0001/hidraw/hidraw0"));
    EXPECT_FALSE (isTargetDevicePath (""));
}

TEST (HidrawDescription, CapsComeFromUdevPropertiesAndTheReportDescriptor)
{
    HidrawProperties usb;
    usb.devNode = "/dev/hidraw3";
    usb.hidId = "0003:00007C4E:00000A31";
    usb.hidName = "MELDRA KORVA";
    usb.hasUsbDevice = true;
    usb.usbManufacturer = "MELDRA\n";
    usb.usbProduct = "KORVA";
    usb.usbVersion = "0102";
    usb.reportDescriptor = kKorvaDescriptor;

    const auto caps = describeHidraw (usb);
    EXPECT_EQ (caps.path, "/dev/hidraw3");
    EXPECT_TRUE (caps.isTarget());
    EXPECT_EQ (caps.versionNumber, 0x0102);
    EXPECT_EQ (caps.manufacturer, "MELDRA");
    EXPECT_EQ (caps.product, "KORVA");
    EXPECT_EQ (caps.inputReportLength, 65);
    EXPECT_EQ (caps.outputReportLength, 65);

    // Without a USB ancestor (Bluetooth, uhid) the HID name stands in for the product.
    auto bluetooth = usb;
    bluetooth.hasUsbDevice = false;
    EXPECT_EQ (describeHidraw (bluetooth).product, "MELDRA KORVA");
    EXPECT_EQ (describeHidraw (bluetooth).versionNumber, 0);

    // Unreadable ids: only the path is set, so the device is not kept.
    auto broken = usb;
    broken.hidId = "garbage";
    const auto brokenCaps = describeHidraw (broken);
    EXPECT_EQ (brokenCaps.path, "/dev/hidraw3");
    EXPECT_FALSE (brokenCaps.isTarget());
    EXPECT_TRUE (brokenCaps.product.empty());
    EXPECT_EQ (brokenCaps.inputReportLength, 0);
}

TEST (HidrawDescription, DeviceStringsAreValidUtf8AndAtMost1023Bytes)
{
    EXPECT_EQ (sanitiseDeviceString ("KORVA \xC3\xA9"), "KORVA \xC3\xA9");
    EXPECT_EQ (sanitiseDeviceString ("A\xFF"
                                     "B\xC3"),
               "AB")
        << "stray and cut-off bytes are dropped";
    EXPECT_EQ (sanitiseDeviceString (std::string ("A\0B", 3)), "AB");

    const std::string longText = std::string (1022, 'x') + "\xC3\xA9";
    EXPECT_EQ (sanitiseDeviceString (longText), std::string (1022, 'x')) << "never cut inside a character";
    EXPECT_EQ (sanitiseDeviceString (std::string (5000, 'y')).size(), 1023u);
}

} // namespace korva
