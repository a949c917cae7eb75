#pragma once

// A virtual KORVA: a socket in the virtual-device folder that greets every
// connection with its hello and plays the device's side of the transfer
// protocol. Like a hidraw node, every connection hears every report the
// device sends, and a report written on any connection reaches the device.
//
// It runs on a thread of its own; the korva-sim program is a thin main around
// it, and tests can run it in-process.

#include "tools/korva-sim/DeviceLink.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace korva
{

namespace sim
{

// What the device answers to a request of one data type.
using Handler = std::function<std::optional<Message> (const Message& request)>;

Handler echoHandler();                       // the request itself
Handler fixedAnswer (const Message& answer); // always the same answer
Handler silentHandler();                     // no answer

struct Options
{
    std::string folder; // empty: the default folder of virtual devices
    std::string name;   // socket file name; empty: "korva-<pid>.sock"

    std::uint16_t vendorId = 0x7C4E;
    std::uint16_t productId = 0x0A31;
    std::uint16_t versionNumber = 0x0100;
    std::uint16_t inputReportLength = 65;  // device to computer, report-ID byte included
    std::uint16_t outputReportLength = 65; // computer to device, report-ID byte included
    std::string manufacturer = "MELDRA";
    std::string product = "KORVA";

    LinkTiming timing;
    Faults faults;
    std::function<void (const std::string&)> log; // empty: silent
};

class VirtualKorva
{
public:
    explicit VirtualKorva (Options options);
    ~VirtualKorva(); // stops and removes the socket

    // Creates the socket and starts serving; false with a reason on failure.
    bool start (std::string& error);
    // Stops serving, closes every connection and removes the socket.
    void stop();

    // Blocks until the device has vanished or stopped, or until extraFd (a
    // signalfd, say) becomes readable. True when the device ended.
    bool waitUntilFinished (int extraFd = -1);

    bool isRunning() const noexcept { return m_running.load(); }
    bool hasVanished() const noexcept { return m_vanished.load(); }
    const std::string& getSocketPath() const noexcept { return m_socketPath; }

    // The handler table: a handler per data type, and one for the others
    // (echo unless set).
    void setHandler (std::uint8_t type, Handler handler);
    void setDefaultHandler (Handler handler);

    void setFaults (const Faults& faults);
    // The pause before each answer, from the next request on.
    void setResponseDelay (int milliseconds);
    // Holds back everything the device sends until released (tests).
    void holdOutput (bool hold);
    // A message the device starts on its own, queued behind those in progress.
    void sendMessage (const Message& message);
    // One raw 64-byte message, sent at once outside the protocol and past a
    // hold (tests).
    void sendRawMessage (const std::vector<std::uint8_t>& message);
    // Called on the device's thread with every report from the computer,
    // before the device handles it (tests).
    void setReportObserver (std::function<void (const std::vector<std::uint8_t>&)> observer);

    // What the computer sent: every report as received, and the requests
    // that arrived complete with the right CRC.
    std::vector<std::vector<std::uint8_t>> getReceivedReports() const;
    std::vector<Message> getRequests() const;
    // Every report the device sent (report-ID byte first).
    std::vector<std::vector<std::uint8_t>> getSentReports() const;
    int getConnectionCount() const noexcept { return m_connections.load(); }

private:
    void run();
    void post (std::function<void()> command);
    void runCommands();
    void acceptConnections();
    void readConnection (std::size_t index);
    void perform (const std::vector<Action>& actions);
    void broadcast (const MessageBytes& message);
    void transmit (const std::vector<std::uint8_t>& report);
    void closeConnection (std::size_t index);
    void shutDown (bool vanished);
    std::optional<Message> answer (const Message& request);
    void log (const std::string& text) const;
    std::int64_t now() const;

    const Options m_options;
    std::string m_socketPath;
    ino_t m_socketInode = 0;

    int m_listenFd = -1;
    int m_commandFd = -1;  // eventfd: commands are waiting, or stop
    int m_finishedFd = -1; // eventfd: the loop has ended
    std::vector<int> m_clients;
    std::thread m_thread;

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_vanished{false};
    std::atomic<int> m_connections{0};

    std::mutex m_commandLock;
    std::vector<std::function<void()>> m_commands;

    mutable std::mutex m_handlerLock;
    std::map<std::uint8_t, Handler> m_handlers;
    Handler m_defaultHandler;
    std::function<void (const std::vector<std::uint8_t>&)> m_observer;

    mutable std::mutex m_recordLock;
    std::vector<std::vector<std::uint8_t>> m_received;
    std::vector<std::vector<std::uint8_t>> m_sent;
    std::vector<Message> m_requests;

    // Loop thread only.
    DeviceLink m_link;
    bool m_holding = false;
    std::vector<std::vector<std::uint8_t>> m_held;
};

} // namespace sim

} // namespace korva
