#pragma once

// The contract of a virtual KORVA: a Unix-domain SOCK_SEQPACKET socket in a
// folder, one datagram per report (report-ID byte first), opened by a hello
// datagram from the device that gives its ids, strings and report lengths.
// Both the program and the korva-sim tool use these definitions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korva
{

namespace hidlink::virtualdevice
{

// Hello layout, little-endian: the 8-byte magic, then vendor id, product id,
// version number, input and output report lengths (16 bits each), then the
// manufacturer and the product string, each one length byte and its bytes.
constexpr char kHelloMagic[8] = {'K', 'O', 'R', 'V', 'A', 'V', 'D', '1'};
constexpr std::size_t kMaxHelloSize = 8 + 10 + 2 * 256;

struct Hello
{
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    std::uint16_t inputReportLength = 0;
    std::uint16_t outputReportLength = 0;
    std::string manufacturer; // cut to 255 bytes
    std::string product;      // cut to 255 bytes
};

std::vector<std::uint8_t> encodeHello (const Hello& hello);
bool decodeHello (const std::uint8_t* data, std::size_t size, Hello& hello);

// $KORVA_VIRTUAL_DIR, else $XDG_RUNTIME_DIR/korva, else /tmp/korva-<uid>.
std::string defaultFolder();

// Creates the folder (mode 0700) when it is missing and checks that it is a
// real directory of this user that other users cannot write to, since anyone
// who can put a socket there can pose as the device. On failure `error` says why.
bool prepareFolder (const std::string& folder, std::string& error);

} // namespace hidlink::virtualdevice

} // namespace korva
