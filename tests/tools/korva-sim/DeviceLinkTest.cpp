// The virtual KORVA's side of the transfer protocol, byte for byte.

#include "tools/korva-sim/DeviceLink.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::sim;

namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes message (std::initializer_list<int> head)
{
    Bytes bytes (kMessageSize, 0);
    std::size_t i = 0;
    for (int value : head)
        bytes[i++] = static_cast<std::uint8_t> (value);
    return bytes;
}

std::vector<Bytes> sent (const std::vector<Action>& actions)
{
    std::vector<Bytes> result;
    for (const auto& action : actions)
        if (action.kind == Action::Kind::kSend)
            result.emplace_back (action.message.begin(), action.message.end());
    return result;
}

bool vanished (const std::vector<Action>& actions)
{
    for (const auto& action : actions)
        if (action.kind == Action::Kind::kVanish)
            return true;
    return false;
}

std::vector<Action> feed (DeviceLink& link, const Bytes& bytes, std::int64_t now = 0)
{
    return link.receive (bytes.data(), bytes.size(), now);
}

Bytes payloadOf (std::size_t size)
{
    Bytes payload (size);
    for (std::size_t i = 0; i < size; ++i)
        payload[i] = static_cast<std::uint8_t> (i * 7 + 3);
    return payload;
}

std::uint16_t crcOf (const Bytes& payload)
{
    return crc16 (payload.data(), payload.size());
}

// The computer's start message for a payload.
Bytes startFor (std::uint8_t type, const Bytes& payload, std::uint16_t crc)
{
    const auto size = static_cast<std::uint32_t> (payload.size());
    return message ({0xA0, type, 0, 0, int (size & 0xFF), int ((size >> 8) & 0xFF), int ((size >> 16) & 0xFF),
                     int (size >> 24), crc & 0xFF, crc >> 8});
}

// The computer's data messages for a payload.
std::vector<Bytes> packetsFor (std::uint8_t type, const Bytes& payload)
{
    std::vector<Bytes> packets;
    std::size_t offset = 0;
    std::uint16_t number = 1;
    do
    {
        auto packet = message ({0xA1, type, number & 0xFF, number >> 8});
        const auto count = std::min<std::size_t> (payload.size() - offset, 60);
        std::copy_n (payload.begin() + static_cast<long> (offset), count, packet.begin() + 4);
        offset += count;
        ++number;
        packets.push_back (packet);
    } while (offset < payload.size());
    return packets;
}

DeviceLink silentLink (LinkTiming timing = {})
{
    return DeviceLink (timing, [] (const Message&) { return std::optional<Message>(); }, {});
}
} // namespace

TEST (DeviceLinkCrc, IsCrc16Xmodem)
{
    const std::string check = "123456789";
    EXPECT_EQ (crc16 (reinterpret_cast<const std::uint8_t*> (check.data()), check.size()), 0x31C3);
    EXPECT_EQ (crc16 (nullptr, 0), 0);
    const Bytes twoBytes = {0x00, 0x05};
    EXPECT_EQ (crcOf (twoBytes), 0x50A5);
    EXPECT_EQ (crcOf (Bytes{0x01}), 0x1021);
}

TEST (DeviceLink, ReceivesARequestAndAnswersItByteForByte)
{
    DeviceLink link ({}, [] (const Message& request) { return std::optional<Message> (request); }, {});

    // The computer sends type 0x01 with the payload 00 05 (CRC 0x50A5).
    auto actions = feed (link, message ({0xA0, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA5, 0x50}), 100);
    EXPECT_EQ (sent (actions), std::vector<Bytes>{message ({0xA8, 0x01, 0x00, 0x00})});

    actions = feed (link, message ({0xA1, 0x01, 0x01, 0x00, 0x00, 0x05}), 101);
    EXPECT_EQ (sent (actions), std::vector<Bytes>{message ({0xAE, 0x01, 0x01, 0x00})});
    ASSERT_EQ (link.getRequests().size(), 1u);
    EXPECT_EQ (link.getRequests()[0], (Message{0x01, {0x00, 0x05}}));

    // The answer follows after the response delay.
    EXPECT_EQ (link.nextDeadline(), 121);
    EXPECT_TRUE (sent (link.tick (120)).empty());
    EXPECT_EQ (sent (link.tick (121)),
               std::vector<Bytes>{message ({0xA0, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA5, 0x50})});
}

TEST (DeviceLink, SendsAMessageByteForByte)
{
    auto link = silentLink();

    // Type 0x01 with the payload 01: CRC 0x1021.
    auto actions = link.post ({0x01, {0x01}}, 0);
    EXPECT_EQ (sent (actions),
               std::vector<Bytes>{message ({0xA0, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x21, 0x10})});

    actions = feed (link, message ({0xA8, 0x01, 0x00, 0x00}));
    EXPECT_EQ (sent (actions), std::vector<Bytes>{message ({0xA1, 0x01, 0x01, 0x00, 0x01})});

    EXPECT_TRUE (link.isSending());
    EXPECT_TRUE (sent (feed (link, message ({0xAE, 0x01, 0x01, 0x00}))).empty());
    EXPECT_FALSE (link.isSending());
    EXPECT_EQ (link.nextDeadline(), -1);
}

TEST (DeviceLink, CutsPayloadsInto60BytePacketsBothWays)
{
    struct Case
    {
        std::size_t size;
        std::size_t packets;
    };
    for (const auto& c : {Case{1, 1}, Case{60, 1}, Case{61, 2}, Case{4096, 69}, Case{0, 1}})
    {
        const auto payload = payloadOf (c.size);

        // Sending: the computer acknowledges every message as expected.
        auto link = silentLink();
        auto out = sent (link.post ({0x30, payload}, 0));
        std::vector<Bytes> packets;
        for (std::size_t guard = 0; guard < 200 && ! out.empty(); ++guard)
        {
            const auto& last = out.back();
            const bool isStart = last[0] == 0xA0;
            if (! isStart)
                packets.push_back (last);
            const std::size_t carried = packets.size() * 60;
            const int code = isStart ? 0xA8 : carried >= c.size ? 0xAE : 0xA9;
            out = sent (feed (link, message ({code, 0x30, last[2], last[3]})));
        }
        EXPECT_FALSE (link.isSending()) << c.size;
        ASSERT_EQ (packets.size(), c.packets) << c.size;
        EXPECT_EQ (packets, packetsFor (0x30, payload)) << c.size;

        // Receiving: A8, then A9 for every packet but the last, which gets AE.
        auto receiver = silentLink();
        EXPECT_EQ (sent (feed (receiver, startFor (0x30, payload, crcOf (payload)))),
                   std::vector<Bytes>{message ({0xA8, 0x30})});
        const auto incoming = packetsFor (0x30, payload);
        for (std::size_t k = 0; k < incoming.size(); ++k)
        {
            const int number = static_cast<int> (k + 1);
            const int code = k + 1 == incoming.size() ? 0xAE : 0xA9;
            EXPECT_EQ (sent (feed (receiver, incoming[k])),
                       std::vector<Bytes>{message ({code, 0x30, number & 0xFF, number >> 8})})
                << c.size << " packet " << number;
        }
        ASSERT_EQ (receiver.getRequests().size(), 1u);
        EXPECT_EQ (receiver.getRequests()[0].payload, payload);
    }

    // The second packet of 61 bytes: one byte, then zeros.
    const auto packets = packetsFor (0x30, payloadOf (61));
    EXPECT_EQ (packets[1], message ({0xA1, 0x30, 0x02, 0x00, payloadOf (61)[60]}));
}

TEST (DeviceLink, RefusesAWrongCrcAndIgnoresMessagesOutOfPlace)
{
    auto link = silentLink();
    const auto payload = payloadOf (10);

    EXPECT_EQ (sent (feed (link, startFor (0x02, payload, crcOf (payload) ^ 1))),
               std::vector<Bytes>{message ({0xA8, 0x02})});
    EXPECT_EQ (sent (feed (link, packetsFor (0x02, payload)[0])),
               std::vector<Bytes>{message ({0xAF, 0x02, 0x01, 0x00})});
    EXPECT_TRUE (link.getRequests().empty());

    // No transfer in progress: data, a packet number 0, acknowledgements and unknown codes are ignored.
    EXPECT_TRUE (sent (feed (link, packetsFor (0x02, payload)[0])).empty());
    EXPECT_TRUE (sent (feed (link, message ({0xA8, 0x02}))).empty());
    EXPECT_TRUE (sent (feed (link, message ({0x55}))).empty());
    EXPECT_TRUE (sent (feed (link, message ({0xA0, 0x02, 0x01, 0x00, 0x01}))).empty()) << "start with a packet number";
    feed (link, startFor (0x02, payload, crcOf (payload)));
    EXPECT_TRUE (sent (feed (link, message ({0xA1, 0x02, 0x00, 0x00}))).empty()) << "packet number 0";
    EXPECT_FALSE (sent (feed (link, packetsFor (0x02, payload)[0])).empty());
    EXPECT_EQ (link.getRequests().size(), 1u);
}

TEST (DeviceLink, WaitsFiveTimesForEachAcknowledgementThenGivesUp)
{
    // Silence: five waits of one second.
    {
        auto link = silentLink();
        link.post ({0x01, {0x01}}, 0);
        for (int wait = 1; wait <= 5; ++wait)
        {
            EXPECT_TRUE (link.isSending()) << wait;
            EXPECT_EQ (link.nextDeadline(), wait * 1000);
            link.tick (wait * 1000);
        }
        EXPECT_FALSE (link.isSending());
    }
    // Wrong answers use up tries as well; the device never repeats itself.
    {
        auto link = silentLink();
        link.post ({0x01, {0x01}}, 0);
        for (int wrong = 0; wrong < 4; ++wrong)
            EXPECT_TRUE (sent (feed (link, message ({0xA9, 0x01}))).empty());
        EXPECT_TRUE (link.isSending());
        feed (link, message ({0xAE, 0x01}));
        EXPECT_FALSE (link.isSending());
    }
    // The computer's refusal ends it at once.
    {
        auto link = silentLink();
        link.post ({0x01, {0x01}}, 0);
        feed (link, message ({0xA8, 0x01}));
        feed (link, message ({0xAF, 0x01, 0x01}));
        EXPECT_FALSE (link.isSending());
    }
    // A start from the computer abandons what the device was sending.
    {
        auto link = silentLink();
        link.post ({0x01, {0x01}}, 0);
        EXPECT_EQ (sent (feed (link, startFor (0x03, Bytes{0x07}, crcOf (Bytes{0x07})))),
                   std::vector<Bytes>{message ({0xA8, 0x03})});
        EXPECT_FALSE (link.isSending());
    }
}

TEST (DeviceLink, FaultSwitches)
{
    const auto payload = payloadOf (100); // two packets
    const auto start = startFor (0x04, payload, crcOf (payload));
    const auto packets = packetsFor (0x04, payload);

    struct Case
    {
        const char* name;
        Faults faults;
        std::vector<Bytes> afterStart, afterPacket1;
        bool vanishes;
    };
    Faults dropStart, dropPacket1, reject1, mute, vanishStart, vanishPacket1;
    dropStart.dropAck = 0;
    dropPacket1.dropAck = 1;
    reject1.rejectPacket = 1;
    mute.mute = true;
    vanishStart.vanishAfterReceived = 0;
    vanishPacket1.vanishAfterReceived = 1;

    const auto ack = message ({0xA8, 0x04});
    const auto dataAck = message ({0xA9, 0x04, 0x01});
    const Case cases[] = {
        {"none", {}, {ack}, {dataAck}, false},
        {"drop start ack", dropStart, {}, {dataAck}, false},
        {"drop ack 1", dropPacket1, {ack}, {}, false},
        {"reject 1", reject1, {ack}, {message ({0xAF, 0x04, 0x01})}, false},
        {"mute", mute, {}, {}, false},
        {"vanish after start", vanishStart, {ack}, {}, true},
        {"vanish after packet 1", vanishPacket1, {ack}, {dataAck}, true},
    };

    for (const auto& c : cases)
    {
        auto link = silentLink();
        link.setFaults (c.faults);
        const auto first = feed (link, start);
        const auto second = feed (link, packets[0]);
        EXPECT_EQ (sent (first), c.afterStart) << c.name;
        EXPECT_EQ (sent (second), c.afterPacket1) << c.name;
        EXPECT_EQ (vanished (first) || vanished (second), c.vanishes) << c.name;
        EXPECT_EQ (link.hasVanished(), c.vanishes) << c.name;
        if (c.vanishes)
        {
            EXPECT_TRUE (feed (link, start).empty()) << c.name << ": a vanished device does nothing";
            EXPECT_TRUE (link.post ({1, {}}, 0).empty()) << c.name;
        }
    }

    // Faults of the device's own messages.
    Faults corrupt;
    corrupt.corruptCrc = true;
    auto corrupting = silentLink();
    corrupting.setFaults (corrupt);
    const auto out = sent (corrupting.post ({0x04, payload}, 0));
    ASSERT_EQ (out.size(), 1u);
    EXPECT_EQ (out[0][8] | (out[0][9] << 8), crcOf (payload) ^ 0xFFFF);

    Faults stall;
    stall.stallAfterSent = 0;
    auto stalling = silentLink();
    stalling.setFaults (stall);
    EXPECT_EQ (sent (stalling.post ({0x04, payload}, 0)).size(), 1u);
    EXPECT_TRUE (sent (feed (stalling, ack)).empty());
    EXPECT_FALSE (stalling.isSending());

    Faults vanishSent;
    vanishSent.vanishAfterSent = 1;
    auto vanishing = silentLink();
    vanishing.setFaults (vanishSent);
    vanishing.post ({0x04, payload}, 0);
    const auto last = feed (vanishing, ack);
    EXPECT_EQ (sent (last), std::vector<Bytes>{packets[0]});
    EXPECT_TRUE (vanished (last));
}

} // namespace korva
