#include "core/hidlink/HidrawDescription.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace korva
{

namespace hidlink
{

namespace
{
// Item prefixes: bits 0-1 size (3 means 4 bytes), bits 2-3 type, bits 4-7 tag.
constexpr int kTypeMain = 0;
constexpr int kTypeGlobal = 1;

constexpr int kTagInput = 0x8;
constexpr int kTagOutput = 0x9;
constexpr int kTagFeature = 0xB;

constexpr int kTagReportSize = 0x7;
constexpr int kTagReportId = 0x8;
constexpr int kTagReportCount = 0x9;
constexpr int kTagPush = 0xA;
constexpr int kTagPop = 0xB;

constexpr std::uint8_t kLongItemPrefix = 0xFE;

// Bounds that keep the arithmetic far from overflowing; no real descriptor
// comes near them.
constexpr std::uint64_t kFieldLimit = 1u << 20;
constexpr std::uint64_t kBitsLimit = 8u * 0x10000u;

struct Globals
{
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

std::uint16_t lengthOf (const std::map<std::uint32_t, std::uint64_t>& bitsPerReport)
{
    std::uint64_t longest = 0;
    for (const auto& entry : bitsPerReport)
        longest = std::max (longest, (entry.second + 7) / 8);
    if (bitsPerReport.empty())
        return 0;
    return static_cast<std::uint16_t> (std::min<std::uint64_t> (longest + 1, 0xFFFF));
}

int hexValue (char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHex (const std::string& text, std::uint32_t& value)
{
    if (text.empty() || text.size() > 8)
        return false;
    value = 0;
    for (char c : text)
    {
        const int digit = hexValue (c);
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<std::uint32_t> (digit);
    }
    return true;
}

std::string trimmed (const std::string& text)
{
    const auto first = text.find_first_not_of (" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of (" \t\r\n");
    return text.substr (first, last - first + 1);
}
} // namespace

ReportLengths parseReportDescriptor (const std::uint8_t* data, std::size_t size)
{
    ReportLengths result;
    if (data == nullptr)
        return result;

    Globals globals;
    std::vector<Globals> stack;
    std::map<std::uint32_t, std::uint64_t> inputBits, outputBits, featureBits;

    std::size_t i = 0;
    bool cutOff = false;

    while (i < size)
    {
        const std::uint8_t prefix = data[i];

        if (prefix == kLongItemPrefix)
        {
            // Long items carry no report layout; skip them whole.
            if (i + 2 >= size)
            {
                cutOff = true;
                break;
            }
            const std::size_t dataSize = data[i + 1];
            if (i + 3 + dataSize > size)
            {
                cutOff = true;
                break;
            }
            i += 3 + dataSize;
            continue;
        }

        const int sizeCode = prefix & 0x3;
        const std::size_t dataSize = sizeCode == 3 ? 4 : static_cast<std::size_t> (sizeCode);
        if (i + 1 + dataSize > size)
        {
            cutOff = true;
            break;
        }

        std::uint32_t value = 0;
        for (std::size_t b = 0; b < dataSize; ++b)
            value |= static_cast<std::uint32_t> (data[i + 1 + b]) << (8 * b);

        const int type = (prefix >> 2) & 0x3;
        const int tag = prefix >> 4;
        i += 1 + dataSize;

        if (type == kTypeMain && (tag == kTagInput || tag == kTagOutput || tag == kTagFeature))
        {
            auto& bits = tag == kTagInput ? inputBits : tag == kTagOutput ? outputBits : featureBits;
            const std::uint64_t fieldBits = std::min<std::uint64_t> (globals.reportSize, kFieldLimit)
                                            * std::min<std::uint64_t> (globals.reportCount, kFieldLimit);
            auto& total = bits[globals.reportId];
            total = std::min (total + fieldBits, kBitsLimit);
        }
        else if (type == kTypeGlobal)
        {
            switch (tag)
            {
                case kTagReportSize:
                    globals.reportSize = value;
                    break;
                case kTagReportCount:
                    globals.reportCount = value;
                    break;
                case kTagReportId:
                    globals.reportId = value;
                    result.numbered = true;
                    break;
                case kTagPush:
                    if (stack.size() < 64)
                        stack.push_back (globals);
                    break;
                case kTagPop:
                    if (! stack.empty())
                    {
                        globals = stack.back();
                        stack.pop_back();
                    }
                    break;
                default:
                    break;
            }
        }
    }

    result.input = lengthOf (inputBits);
    result.output = lengthOf (outputBits);
    result.feature = lengthOf (featureBits);
    result.complete = ! cutOff;
    return result;
}

bool parseHidId (const std::string& text, std::uint16_t& vendorId, std::uint16_t& productId)
{
    const auto first = text.find (':');
    const auto second = first == std::string::npos ? std::string::npos : text.find (':', first + 1);
    if (second == std::string::npos || text.find (':', second + 1) != std::string::npos)
        return false;

    std::uint32_t bus = 0, vendor = 0, product = 0;
    if (! parseHex (trimmed (text.substr (0, first)), bus)
        || ! parseHex (trimmed (text.substr (first + 1, second - first - 1)), vendor)
        || ! parseHex (trimmed (text.substr (second + 1)), product) || vendor > 0xFFFF || product > 0xFFFF)
        return false;

    vendorId = static_cast<std::uint16_t> (vendor);
    productId = static_cast<std::uint16_t> (product);
    return true;
}

bool isTargetDevicePath (const std::string& sysPath)
{
    std::string upper (sysPath);
    std::transform (upper.begin(), upper.end(), upper.begin(),
                    [] (unsigned char c) { return static_cast<char> (std::toupper (c)); });
    return upper.find (":7C4E:0A31.") != std::string::npos;
}

std::string sanitiseDeviceString (const std::string& text, std::size_t maxBytes)
{
    std::string result;
    result.reserve (std::min (text.size(), maxBytes));

    std::size_t i = 0;
    while (i < text.size())
    {
        const auto lead = static_cast<unsigned char> (text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;

        bool valid = length > 0 && i + length <= text.size() && lead != 0;
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char> (text[i + k]) & 0xC0) == 0x80;

        if (! valid)
        {
            ++i; // a stray byte is dropped
            continue;
        }
        if (result.size() + length > maxBytes)
            break;
        result.append (text, i, length);
        i += length;
    }
    return result;
}

HidDeviceCaps describeHidraw (const HidrawProperties& properties)
{
    HidDeviceCaps caps (properties.devNode);

    std::uint16_t vendor = 0, product = 0;
    if (! parseHidId (properties.hidId, vendor, product))
        return caps; // without ids nothing else matters: the device is not kept

    caps.vendorId = vendor;
    caps.productId = product;

    if (properties.hasUsbDevice)
    {
        std::uint32_t version = 0;
        if (parseHex (trimmed (properties.usbVersion), version) && version <= 0xFFFF)
            caps.versionNumber = static_cast<std::uint16_t> (version);

        caps.manufacturer = sanitiseDeviceString (trimmed (properties.usbManufacturer));
        caps.product = sanitiseDeviceString (trimmed (properties.usbProduct));
    }
    else
    {
        // Bluetooth and uhid devices have no USB strings; HID_NAME is the best name there is.
        caps.product = sanitiseDeviceString (trimmed (properties.hidName));
    }

    const auto lengths = parseReportDescriptor (properties.reportDescriptor.data(), properties.reportDescriptor.size());
    caps.inputReportLength = lengths.input;
    caps.outputReportLength = lengths.output;
    return caps;
}

} // namespace hidlink

} // namespace korva
