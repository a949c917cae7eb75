#pragma once

// The floor of the transfer protocol: one connection to a virtual KORVA that
// only writes each report and blocks until its answer arrives, with nothing
// of the program's threads, locks or access layer around it.

#include "tools/korva-sim/DeviceLink.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace korva
{

namespace bench
{
class BareKorvaClient
{
public:
    explicit BareKorvaClient (const std::string& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy (address.sun_path, path.c_str(), sizeof (address.sun_path) - 1);
        m_fd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (::connect (m_fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0)
        {
            std::uint8_t hello[1024];
            m_ok = ::recv (m_fd, hello, sizeof (hello), 0) > 0;
        }
    }
    ~BareKorvaClient() { ::close (m_fd); }

    BareKorvaClient (const BareKorvaClient&) = delete;
    BareKorvaClient& operator= (const BareKorvaClient&) = delete;

    bool ok() const { return m_ok; }

    void write (std::uint8_t code, std::uint8_t type, unsigned packet, const std::uint8_t* data = nullptr,
                std::size_t size = 0, std::uint32_t length = 0, std::uint16_t crc = 0)
    {
        std::uint8_t report[65] = {};
        report[1] = code;
        report[2] = type;
        report[3] = static_cast<std::uint8_t> (packet & 0xFF);
        report[4] = static_cast<std::uint8_t> (packet >> 8);
        if (code == 0xA0)
        {
            std::memcpy (report + 5, &length, 4);
            std::memcpy (report + 9, &crc, 2);
        }
        else if (data != nullptr)
        {
            std::memcpy (report + 5, data, size);
        }
        m_ok = m_ok && ::send (m_fd, report, sizeof (report), MSG_NOSIGNAL) == 65;
    }

    std::uint8_t read()
    {
        std::uint8_t report[65] = {};
        m_ok = m_ok && ::recv (m_fd, report, sizeof (report), 0) == 65;
        return report[1];
    }

    // Sends a message the way the protocol does, with nothing around it. An
    // empty payload still takes one (empty) data packet.
    void send (std::uint8_t type, const std::vector<std::uint8_t>& data)
    {
        write (0xA0, type, 0, nullptr, 0, static_cast<std::uint32_t> (data.size()),
               korva::sim::crc16 (data.data(), data.size()));
        m_ok = m_ok && read() == 0xA8;
        if (data.empty())
        {
            write (0xA1, type, 1);
            m_ok = m_ok && read() == 0xAE;
            return;
        }
        std::size_t offset = 0;
        for (unsigned packet = 1; offset < data.size(); ++packet)
        {
            const auto count = std::min<std::size_t> (data.size() - offset, 60);
            write (0xA1, type, packet, data.data() + offset, count);
            offset += count;
            m_ok = m_ok && read() == (offset < data.size() ? 0xA9 : 0xAE);
        }
    }

    // Receives a message the device sends and returns its payload; the CRC
    // is left to the comparison.
    std::vector<std::uint8_t> receive()
    {
        std::uint8_t start[65] = {};
        m_ok = m_ok && ::recv (m_fd, start, sizeof (start), 0) == 65 && start[1] == 0xA0;
        const std::uint8_t type = start[2];
        std::uint32_t length = 0;
        std::memcpy (&length, start + 5, 4);
        write (0xA8, type, 0);

        std::vector<std::uint8_t> payload;
        for (unsigned packet = 1; m_ok && payload.size() < length; ++packet)
        {
            std::uint8_t report[65] = {};
            m_ok = ::recv (m_fd, report, sizeof (report), 0) == 65 && report[1] == 0xA1;
            const auto count = std::min<std::size_t> (length - payload.size(), 60);
            payload.insert (payload.end(), report + 5, report + 5 + count);
            write (payload.size() < length ? 0xA9 : 0xAE, type, packet);
        }
        return payload;
    }

private:
    int m_fd = -1;
    bool m_ok = false;
};
} // namespace bench

} // namespace korva
