// korva-sim: a virtual KORVA for people without the hardware, and for tests.
// Runs in the foreground until SIGINT or SIGTERM (or until a fault makes it
// vanish), logging what it does to standard error.

#include "tools/korva-sim/VirtualKorva.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace
{
const char* const kUsage = R"(usage: korva-sim [options]

A virtual KORVA: a socket in the folder of virtual devices that KORVA Manager
lists like a plugged-in device. Stops on SIGINT or SIGTERM and removes its socket.

  --dir DIR                folder of the virtual devices (default: $KORVA_VIRTUAL_DIR,
                           else $XDG_RUNTIME_DIR/korva, else /tmp/korva-<uid>)
  --name NAME              socket file name (default: korva-<pid>.sock)
  --vendor-id ID           USB vendor id (default 0x7C4E)
  --product-id ID          USB product id (default 0x0A31)
  --version N              release number (default 0x0100)
  --manufacturer TEXT      manufacturer string (default MELDRA)
  --product TEXT           product string (default KORVA)
  --input-length N         input report length, report-ID byte included (default 65)
  --output-length N        output report length, report-ID byte included (default 65)

  --ack-timeout MS         one wait for an acknowledgement (default 1000)
  --ack-tries N            waits before a message is given up (default 5)
  --response-delay MS      pause before answering a request (default 20)

  --answer TYPE=HEX        answer requests of TYPE with this payload (hex, may be empty)
  --silent TYPE            do not answer requests of TYPE
  --others echo|silent     what requests of other types get (default echo)

Faults (N counts the messages of a transfer: 0 is the start, then packet numbers):
  --drop-ack N             do not acknowledge incoming message N
  --reject-packet N        answer incoming data packet N with 0xAF
  --corrupt-crc            announce a wrong CRC in outgoing messages
  --mute                   stop answering altogether
  --stall-after-sent N     stop an outgoing message after its message N
  --vanish-after-received N  vanish after acknowledging incoming message N
  --vanish-after-sent N    vanish right after sending outgoing message N

  --quiet                  log nothing
  --help                   show this text
)";

bool parseNumber (const char* text, long minimum, long maximum, long& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol (text, &end, 0);
    return errno == 0 && end != nullptr && *end == '\0' && value >= minimum && value <= maximum;
}

bool parseHexBytes (const std::string& text, std::vector<std::uint8_t>& bytes)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':' && c != '-')
            digits += c;
    if (digits.size() % 2 != 0)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
    {
        long value = 0;
        const auto pair = "0x" + digits.substr (i, 2);
        if (! parseNumber (pair.c_str(), 0, 255, value))
            return false;
        bytes.push_back (static_cast<std::uint8_t> (value));
    }
    return true;
}

std::mutex g_logLock;

void logLine (const std::string& text)
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto seconds = system_clock::to_time_t (now);
    const auto millis = duration_cast<milliseconds> (now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r (&seconds, &local);
    char stamp[32];
    std::strftime (stamp, sizeof (stamp), "%H:%M:%S", &local);

    const std::lock_guard<std::mutex> lock (g_logLock);
    std::fprintf (stderr, "korva-sim %s.%03d %s\n", stamp, static_cast<int> (millis), text.c_str());
}

int usageError (const std::string& message)
{
    std::fprintf (stderr, "korva-sim: %s\n(see korva-sim --help)\n", message.c_str());
    return 2;
}
} // namespace

int main (int argc, char** argv)
{
    korvasim::Options options;
    options.log = logLine;
    std::vector<std::pair<std::uint8_t, korvasim::Handler>> handlers;
    korvasim::Handler others = korvasim::echoHandler();

    for (int i = 1; i < argc; ++i)
    {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;

        const auto needNumber = [&] (long minimum, long maximum)
        {
            if (! parseNumber (value, minimum, maximum, number))
                return false;
            ++i;
            return true;
        };

        if (option == "--help" || option == "-h")
        {
            std::fputs (kUsage, stdout);
            return 0;
        }
        if (option == "--quiet")
        {
            options.log = nullptr;
            continue;
        }
        if (option == "--corrupt-crc")
        {
            options.faults.corruptCrc = true;
            continue;
        }
        if (option == "--mute")
        {
            options.faults.mute = true;
            continue;
        }

        if (value == nullptr)
            return usageError (option + " needs a value, or is unknown");

        if (option == "--dir")
            options.folder = argv[++i];
        else if (option == "--name")
            options.name = argv[++i];
        else if (option == "--manufacturer")
            options.manufacturer = argv[++i];
        else if (option == "--product")
            options.product = argv[++i];
        else if (option == "--vendor-id" || option == "--product-id" || option == "--version")
        {
            if (! needNumber (0, 0xFFFF))
                return usageError ("bad value for " + option);
            auto& field = option == "--vendor-id"    ? options.vendorId
                          : option == "--product-id" ? options.productId
                                                     : options.versionNumber;
            field = static_cast<std::uint16_t> (number);
        }
        else if (option == "--input-length" || option == "--output-length")
        {
            if (! needNumber (1, 4096))
                return usageError ("bad value for " + option);
            (option == "--input-length" ? options.inputReportLength : options.outputReportLength) =
                static_cast<std::uint16_t> (number);
        }
        else if (option == "--ack-timeout" || option == "--response-delay")
        {
            if (! needNumber (0, 600000))
                return usageError ("bad value for " + option);
            (option == "--ack-timeout" ? options.timing.ackWaitMs : options.timing.responseDelayMs) =
                static_cast<int> (number);
        }
        else if (option == "--ack-tries")
        {
            if (! needNumber (1, 1000))
                return usageError ("bad value for " + option);
            options.timing.ackTries = static_cast<int> (number);
        }
        else if (option == "--answer")
        {
            const std::string answerText = argv[++i];
            const auto equals = answerText.find ('=');
            long type = 0;
            std::vector<std::uint8_t> payload;
            if (equals == std::string::npos || ! parseNumber (answerText.substr (0, equals).c_str(), 0, 255, type)
                || ! parseHexBytes (answerText.substr (equals + 1), payload))
                return usageError ("bad value for --answer: " + answerText);
            const auto answerType = static_cast<std::uint8_t> (type);
            handlers.emplace_back (answerType, korvasim::fixedAnswer ({answerType, payload}));
        }
        else if (option == "--silent")
        {
            if (! needNumber (0, 255))
                return usageError ("bad value for --silent");
            handlers.emplace_back (static_cast<std::uint8_t> (number), korvasim::silentHandler());
        }
        else if (option == "--others")
        {
            const std::string kind = argv[++i];
            if (kind == "echo")
                others = korvasim::echoHandler();
            else if (kind == "silent")
                others = korvasim::silentHandler();
            else
                return usageError ("--others takes echo or silent");
        }
        else
        {
            int* fault = option == "--drop-ack"                ? &options.faults.dropAck
                         : option == "--reject-packet"         ? &options.faults.rejectPacket
                         : option == "--stall-after-sent"      ? &options.faults.stallAfterSent
                         : option == "--vanish-after-received" ? &options.faults.vanishAfterReceived
                         : option == "--vanish-after-sent"     ? &options.faults.vanishAfterSent
                                                               : nullptr;
            if (fault == nullptr)
                return usageError ("unknown option " + option);
            if (! needNumber (0, 0xFFFF))
                return usageError ("bad value for " + option);
            *fault = static_cast<int> (number);
        }
    }

    // The signals are taken from a descriptor, on this thread only.
    sigset_t signals;
    sigemptyset (&signals);
    sigaddset (&signals, SIGINT);
    sigaddset (&signals, SIGTERM);
    sigaddset (&signals, SIGHUP);
    pthread_sigmask (SIG_BLOCK, &signals, nullptr);
    const int signalFd = ::signalfd (-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0)
    {
        std::perror ("korva-sim: signalfd");
        return 1;
    }

    korvasim::VirtualKorva device (options);
    for (auto& entry : handlers)
        device.setHandler (entry.first, entry.second);
    device.setDefaultHandler (others);

    std::string error;
    if (! device.start (error))
    {
        std::fprintf (stderr, "korva-sim: %s\n", error.c_str());
        return 1;
    }

    if (! device.waitUntilFinished (signalFd))
    {
        signalfd_siginfo info{};
        [[maybe_unused]] const auto n = ::read (signalFd, &info, sizeof (info));
        if (options.log)
            options.log (std::string ("signal ") + std::to_string (info.ssi_signo) + ", unplugging");
    }

    device.stop();
    ::close (signalFd);
    return 0;
}
