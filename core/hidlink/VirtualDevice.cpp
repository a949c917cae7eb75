#include "core/hidlink/VirtualDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace korva
{

namespace hidlink::virtualdevice
{

namespace
{
void put16 (std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back (static_cast<std::uint8_t> (value & 0xFF));
    out.push_back (static_cast<std::uint8_t> (value >> 8));
}

void putString (std::vector<std::uint8_t>& out, const std::string& text)
{
    const auto length = std::min<std::size_t> (text.size(), 255);
    out.push_back (static_cast<std::uint8_t> (length));
    out.insert (out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t> (length));
}

std::string environment (const char* name)
{
    const char* value = std::getenv (name);
    return value != nullptr ? std::string (value) : std::string();
}
} // namespace

std::vector<std::uint8_t> encodeHello (const Hello& hello)
{
    std::vector<std::uint8_t> out (std::begin (kHelloMagic), std::end (kHelloMagic));
    put16 (out, hello.vendorId);
    put16 (out, hello.productId);
    put16 (out, hello.versionNumber);
    put16 (out, hello.inputReportLength);
    put16 (out, hello.outputReportLength);
    putString (out, hello.manufacturer);
    putString (out, hello.product);
    return out;
}

bool decodeHello (const std::uint8_t* data, std::size_t size, Hello& hello)
{
    constexpr std::size_t kFixed = sizeof (kHelloMagic) + 10;
    if (data == nullptr || size < kFixed + 2 || std::memcmp (data, kHelloMagic, sizeof (kHelloMagic)) != 0)
        return false;

    std::size_t at = sizeof (kHelloMagic);
    const auto get16 = [&]
    {
        const auto value = static_cast<std::uint16_t> (data[at] | (data[at + 1] << 8));
        at += 2;
        return value;
    };
    Hello result;
    result.vendorId = get16();
    result.productId = get16();
    result.versionNumber = get16();
    result.inputReportLength = get16();
    result.outputReportLength = get16();

    for (auto* text : {&result.manufacturer, &result.product})
    {
        if (at >= size)
            return false;
        const std::size_t length = data[at++];
        if (at + length > size)
            return false;
        text->assign (reinterpret_cast<const char*> (data + at), length);
        at += length;
    }

    hello = std::move (result);
    return true;
}

std::string defaultFolder()
{
    const auto explicitFolder = environment ("KORVA_VIRTUAL_DIR");
    if (! explicitFolder.empty())
        return explicitFolder;

    const auto runtime = environment ("XDG_RUNTIME_DIR");
    if (! runtime.empty())
        return runtime + "/korva";

    return "/tmp/korva-" + std::to_string (::getuid());
}

bool prepareFolder (const std::string& folder, std::string& error)
{
    if (folder.empty())
    {
        error = "no folder";
        return false;
    }

    if (::mkdir (folder.c_str(), 0700) != 0 && errno != EEXIST)
    {
        error = "cannot create " + folder + ": " + std::strerror (errno);
        return false;
    }

    struct stat info
    {
    };
    if (::lstat (folder.c_str(), &info) != 0)
    {
        error = "cannot read " + folder + ": " + std::strerror (errno);
        return false;
    }
    if (! S_ISDIR (info.st_mode))
    {
        error = folder + " is not a directory";
        return false;
    }
    if (info.st_uid != ::getuid())
    {
        error = folder + " belongs to another user";
        return false;
    }
    if ((info.st_mode & S_IWOTH) != 0)
    {
        error = folder + " can be written by other users";
        return false;
    }
    return true;
}

} // namespace hidlink::virtualdevice

} // namespace korva
