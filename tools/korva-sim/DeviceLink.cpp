#include "tools/korva-sim/DeviceLink.h"

#include <algorithm>
#include <cstdio>

namespace korva
{

namespace sim
{

namespace
{
std::uint16_t read16 (const std::uint8_t* p)
{
    return static_cast<std::uint16_t> (p[0] | (p[1] << 8));
}

std::uint32_t read32 (const std::uint8_t* p)
{
    return static_cast<std::uint32_t> (p[0]) | (static_cast<std::uint32_t> (p[1]) << 8)
           | (static_cast<std::uint32_t> (p[2]) << 16) | (static_cast<std::uint32_t> (p[3]) << 24);
}

void write16 (std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t> (value & 0xFF);
    p[1] = static_cast<std::uint8_t> ((value >> 8) & 0xFF);
}

void write32 (std::uint8_t* p, std::uint32_t value)
{
    write16 (p, value & 0xFFFF);
    write16 (p + 2, value >> 16);
}

std::string format (const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char text[160];
    std::snprintf (text, sizeof (text), pattern, a, b, c);
    return text;
}
} // namespace

std::uint16_t crc16 (const std::uint8_t* data, std::size_t size)
{
    static const auto table = []
    {
        std::array<std::uint16_t, 256> entries{};
        for (unsigned i = 0; i < 256; ++i)
        {
            auto value = static_cast<std::uint16_t> (i << 8);
            for (int bit = 0; bit < 8; ++bit)
                value = static_cast<std::uint16_t> ((value & 0x8000) != 0 ? (value << 1) ^ 0x1021 : value << 1);
            entries[i] = value;
        }
        return entries;
    }();

    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t> ((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

std::string toHex (const std::uint8_t* data, std::size_t size, std::size_t maxBytes)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < size && i < maxBytes; ++i)
    {
        std::snprintf (byte, sizeof (byte), i == 0 ? "%02X" : " %02X", data[i]);
        text += byte;
    }
    if (size > maxBytes)
        text += " ...";
    return text;
}

//==============================================================================
DeviceLink::DeviceLink (LinkTiming timing, RequestHandler handler, Logger log)
    : m_timing (timing), m_handler (std::move (handler)), m_log (std::move (log)),
      m_responseDelayMs (timing.responseDelayMs)
{
}

void DeviceLink::log (const std::string& text) const
{
    if (m_log)
        m_log (text);
}

void DeviceLink::emit (const MessageBytes& message)
{
    if (m_faults.mute)
    {
        log ("muted, not sent: " + toHex (message.data(), message.size(), 8));
        return;
    }
    m_actions.push_back ({Action::Kind::kSend, message});
}

void DeviceLink::vanish()
{
    log ("vanishing");
    m_vanished = true;
    m_rx = {};
    m_tx = {};
    m_queue.clear();
    m_actions.push_back ({Action::Kind::kVanish, {}});
}

std::vector<Action> DeviceLink::receive (const std::uint8_t* data, std::size_t size, std::int64_t nowMs)
{
    m_actions.clear();
    m_now = nowMs;
    if (m_vanished || data == nullptr || size == 0)
        return {};

    MessageBytes message{};
    std::copy_n (data, std::min (size, kMessageSize), message.begin());

    switch (message[0])
    {
        case kStart:
            onStart (message);
            break;
        case kData:
            onData (message);
            break;
        case kStartAck:
        case kDataAck:
        case kComplete:
        case kError:
            onAck (message[0]);
            break;
        default:
            log (format ("unknown message code 0x%02X, ignored", message[0]));
            break;
    }

    if (! m_vanished)
        startNext();
    return std::move (m_actions);
}

std::vector<Action> DeviceLink::post (Message message, std::int64_t nowMs, int delayMs)
{
    m_actions.clear();
    m_now = nowMs;
    if (m_vanished)
        return {};
    m_queue.push_back ({std::move (message), nowMs + std::max (0, delayMs)});
    startNext();
    return std::move (m_actions);
}

std::vector<Action> DeviceLink::tick (std::int64_t nowMs)
{
    m_actions.clear();
    m_now = nowMs;
    if (m_vanished)
        return {};

    if (m_tx.active && m_tx.deadline >= 0 && nowMs >= m_tx.deadline)
        useTry ("no acknowledgement in time");
    if (! m_vanished)
        startNext();
    return std::move (m_actions);
}

std::int64_t DeviceLink::nextDeadline() const
{
    if (m_vanished)
        return -1;
    if (m_tx.active)
        return m_tx.deadline;
    return m_queue.empty() ? -1 : m_queue.front().due;
}

//==============================================================================
// Receiving a request.

void DeviceLink::onStart (const MessageBytes& message)
{
    const std::uint8_t type = message[1];
    const std::uint16_t packet = read16 (&message[2]);
    const std::uint32_t length = read32 (&message[4]);
    const std::uint16_t crc = read16 (&message[8]);

    if (packet != 0)
    {
        log (format ("start message with packet number %u, ignored", packet));
        return;
    }
    if (length > kMaxPayload)
    {
        log (format ("start message announcing %u bytes, ignored", length));
        return;
    }
    if (m_tx.active)
    {
        // The computer has given up waiting for what we were sending.
        log (format ("computer starts a transfer: our message of type 0x%02X is abandoned", m_tx.message.type));
        m_tx = {};
    }

    m_rx = {};
    m_rx.active = true;
    m_rx.type = type;
    m_rx.length = length;
    m_rx.crc = crc;
    m_rx.data.reserve (length);
    log (format ("request start: type 0x%02X, %u bytes, CRC 0x%04X", type, length, crc));

    acknowledge (kStartAck, type, 0);
}

void DeviceLink::onData (const MessageBytes& message)
{
    if (! m_rx.active)
    {
        log ("data message without a start, ignored");
        return;
    }

    const std::uint16_t packet = read16 (&message[2]);
    if (packet == 0)
    {
        log ("data message with packet number 0, ignored");
        return;
    }

    const auto remaining = static_cast<std::size_t> (m_rx.length) - m_rx.data.size();
    const auto count = std::min (remaining, kPacketPayload);
    m_rx.data.insert (m_rx.data.end(), message.begin() + 4, message.begin() + 4 + static_cast<std::ptrdiff_t> (count));

    if (m_rx.data.size() < m_rx.length)
    {
        const bool reject = m_faults.rejectPacket == packet;
        if (reject)
        {
            log (format ("refusing packet %u", packet));
            m_rx.active = false;
        }
        acknowledge (reject ? kError : kDataAck, m_rx.type, packet);
        return;
    }

    const auto crc = crc16 (m_rx.data.data(), m_rx.data.size());
    const bool crcOk = crc == m_rx.crc;
    const bool reject = m_faults.rejectPacket == packet;
    m_rx.active = false;

    if (! crcOk)
        log (format ("request CRC 0x%04X does not match the announced 0x%04X", crc, m_rx.crc));
    else if (reject)
        log (format ("refusing packet %u", packet));

    Message request{m_rx.type, std::move (m_rx.data)};
    m_rx = {};
    acknowledge (crcOk && ! reject ? kComplete : kError, request.type, packet);

    if (! crcOk || reject || m_vanished)
        return;

    log (format ("request complete: type 0x%02X, %u bytes", request.type,
                 static_cast<unsigned> (request.payload.size())));
    m_requests.push_back (request);

    if (m_handler)
    {
        if (auto answer = m_handler (request))
        {
            m_queue.push_back ({std::move (*answer), m_now + std::max (0, m_responseDelayMs)});
        }
    }
}

void DeviceLink::acknowledge (std::uint8_t code, std::uint8_t type, std::uint16_t packet)
{
    if (m_faults.dropAck == packet)
    {
        log (format ("dropping the acknowledgement of message %u", packet));
    }
    else
    {
        MessageBytes ack{};
        ack[0] = code;
        ack[1] = type;
        write16 (&ack[2], packet);
        emit (ack);
    }

    if (m_faults.vanishAfterReceived == packet)
        vanish();
}

//==============================================================================
// Sending a message: start, then packets, each waiting for its acknowledgement.

void DeviceLink::startNext()
{
    if (m_tx.active || m_queue.empty() || m_queue.front().due > m_now)
        return;

    m_tx = {};
    m_tx.active = true;
    m_tx.message = std::move (m_queue.front().message);
    m_queue.pop_front();

    const auto& payload = m_tx.message.payload;
    auto crc = crc16 (payload.data(), payload.size());
    if (m_faults.corruptCrc)
        crc = static_cast<std::uint16_t> (crc ^ 0xFFFF);

    MessageBytes start{};
    start[0] = kStart;
    start[1] = m_tx.message.type;
    write16 (&start[2], 0);
    write32 (&start[4], static_cast<std::uint32_t> (payload.size()));
    write16 (&start[8], crc);

    log (format ("sending: type 0x%02X, %u bytes, CRC 0x%04X", m_tx.message.type,
                 static_cast<unsigned> (payload.size()), crc));
    sendOutgoing (start, 0);
}

void DeviceLink::sendPacket()
{
    const auto& payload = m_tx.message.payload;
    const auto count = std::min (payload.size() - m_tx.offset, kPacketPayload);

    ++m_tx.packet;
    MessageBytes data{};
    data[0] = kData;
    data[1] = m_tx.message.type;
    write16 (&data[2], m_tx.packet);
    std::copy_n (payload.begin() + static_cast<std::ptrdiff_t> (m_tx.offset), count, data.begin() + 4);
    m_tx.offset += count;

    sendOutgoing (data, m_tx.packet);
}

void DeviceLink::sendOutgoing (const MessageBytes& message, int index)
{
    m_tx.triesLeft = m_timing.ackTries;
    m_tx.deadline = m_now + m_timing.ackWaitMs;
    emit (message);

    if (m_faults.vanishAfterSent == index)
    {
        vanish();
        return;
    }
    if (m_faults.stallAfterSent == index)
    {
        log (format ("stalling after message %u", static_cast<unsigned> (index)));
        m_tx = {};
    }
}

void DeviceLink::onAck (std::uint8_t code)
{
    if (! m_tx.active)
    {
        log (format ("acknowledgement 0x%02X while nothing is being sent, ignored", code));
        return;
    }

    const bool allSent = m_tx.packet > 0 && m_tx.offset >= m_tx.message.payload.size();
    const std::uint8_t expected = m_tx.packet == 0 ? kStartAck : allSent ? kComplete : kDataAck;

    if (code == kError)
    {
        log (format ("the computer refused message %u", m_tx.packet));
        finishOutgoing();
        return;
    }
    if (code != expected)
    {
        log (format ("acknowledgement 0x%02X where 0x%02X was expected", code, expected));
        useTry ("wrong acknowledgement");
        return;
    }
    if (allSent)
    {
        log (format ("sent: type 0x%02X, %u packets", m_tx.message.type, m_tx.packet));
        finishOutgoing();
        return;
    }
    sendPacket();
}

void DeviceLink::useTry (const char* why)
{
    if (--m_tx.triesLeft > 0)
    {
        m_tx.deadline = m_now + m_timing.ackWaitMs;
        return;
    }
    log (std::string (why) + format (": message %u given up", m_tx.packet));
    finishOutgoing();
}

void DeviceLink::finishOutgoing()
{
    m_tx = {};
}

} // namespace sim

} // namespace korva
