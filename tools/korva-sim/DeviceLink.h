#pragma once

// The device's side of the transfer protocol, without any I/O: messages from
// the computer go in, messages for the computer come out as actions, and the
// time is passed in, so every exchange can be replayed byte for byte.
//
// This is written from the device's point of view on purpose and shares no
// code with the program's transport: if both were built on one mistake, they
// would agree with each other and the tests would not see it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korva
{

namespace sim
{

constexpr std::size_t kMessageSize = 64;       // a report without its report-ID byte
constexpr std::size_t kPacketPayload = 60;     // payload bytes per data message
constexpr std::uint32_t kMaxPayload = 1 << 20; // larger announcements are ignored

// Message codes (byte 0).
constexpr std::uint8_t kStart = 0xA0;
constexpr std::uint8_t kData = 0xA1;
constexpr std::uint8_t kStartAck = 0xA8;
constexpr std::uint8_t kDataAck = 0xA9;
constexpr std::uint8_t kComplete = 0xAE;
constexpr std::uint8_t kError = 0xAF;

using MessageBytes = std::array<std::uint8_t, kMessageSize>;

// CRC-16/XMODEM, table-driven.
std::uint16_t crc16 (const std::uint8_t* data, std::size_t size);

// One message of the protocol: a data type and its payload.
struct Message
{
    std::uint8_t type = 0;
    std::vector<std::uint8_t> payload;

    bool operator== (const Message& other) const { return type == other.type && payload == other.payload; }
};

// Misbehaviour on demand. Messages of a transfer are counted from 0 (the
// start message) and then by packet number; -1 switches a fault off.
struct Faults
{
    int dropAck = -1;             // the acknowledgement of incoming message n is not sent
    int rejectPacket = -1;        // incoming data packet n is answered with 0xAF
    bool corruptCrc = false;      // outgoing messages announce a wrong CRC
    bool mute = false;            // nothing at all is sent
    int stallAfterSent = -1;      // an outgoing message stops after its message n
    int vanishAfterReceived = -1; // the device vanishes after acknowledging incoming message n
    int vanishAfterSent = -1;     // the device vanishes right after sending outgoing message n
};

struct LinkTiming
{
    int ackWaitMs = 1000;     // one wait for an acknowledgement
    int ackTries = 5;         // waits before an outgoing message is given up
    int responseDelayMs = 20; // between a request's last acknowledgement and its answer
};

struct Action
{
    enum class Kind
    {
        kSend,  // send `message` to the computer
        kVanish // close every connection and disappear
    };

    Kind kind = Kind::kSend;
    MessageBytes message{};
};

class DeviceLink
{
public:
    // What the device answers to a complete request, if anything.
    using RequestHandler = std::function<std::optional<Message> (const Message& request)>;
    using Logger = std::function<void (const std::string&)>;

    DeviceLink (LinkTiming timing, RequestHandler handler, Logger log);

    void setFaults (const Faults& faults) { m_faults = faults; }
    const Faults& getFaults() const noexcept { return m_faults; }
    // The pause before an answer, from now on (a slow device).
    void setResponseDelay (int milliseconds) { m_responseDelayMs = milliseconds; }

    // One message from the computer (the report without its report-ID byte).
    std::vector<Action> receive (const std::uint8_t* data, std::size_t size, std::int64_t nowMs);

    // Sends a message to the computer once those before it are done and
    // delayMs have passed.
    std::vector<Action> post (Message message, std::int64_t nowMs, int delayMs = 0);

    // Time-outs and delayed messages.
    std::vector<Action> tick (std::int64_t nowMs);

    // When tick must be called next; -1 when nothing waits.
    std::int64_t nextDeadline() const;

    bool hasVanished() const noexcept { return m_vanished; }
    bool isSending() const noexcept { return m_tx.active; }

    // The requests received completely and with the right CRC, oldest first.
    const std::vector<Message>& getRequests() const noexcept { return m_requests; }

private:
    struct Incoming
    {
        bool active = false;
        std::uint8_t type = 0;
        std::uint32_t length = 0;
        std::uint16_t crc = 0;
        std::vector<std::uint8_t> data;
    };

    struct Outgoing
    {
        bool active = false;
        Message message;
        std::size_t offset = 0;   // payload bytes sent so far
        std::uint16_t packet = 0; // last message sent: 0 the start, then packet numbers
        int triesLeft = 0;
        std::int64_t deadline = -1;
    };

    struct Queued
    {
        Message message;
        std::int64_t due = 0;
    };

    void onStart (const MessageBytes& message);
    void onData (const MessageBytes& message);
    void onAck (std::uint8_t code);

    void acknowledge (std::uint8_t code, std::uint8_t type, std::uint16_t packet);
    void startNext();
    void sendPacket();
    void sendOutgoing (const MessageBytes& message, int index);
    void useTry (const char* why);
    void finishOutgoing();
    void emit (const MessageBytes& message);
    void vanish();
    void log (const std::string& text) const;

    const LinkTiming m_timing;
    const RequestHandler m_handler;
    const Logger m_log;
    Faults m_faults;
    int m_responseDelayMs;

    Incoming m_rx;
    Outgoing m_tx;
    std::deque<Queued> m_queue;
    std::vector<Message> m_requests;
    std::vector<Action> m_actions;
    std::int64_t m_now = 0;
    bool m_vanished = false;
};

// Text forms for logs and tests.
std::string toHex (const std::uint8_t* data, std::size_t size, std::size_t maxBytes = 16);

} // namespace sim

} // namespace korva
