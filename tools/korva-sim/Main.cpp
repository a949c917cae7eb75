// korva-sim: a virtual KORVA for people without the hardware, and for tests.
// Runs in the foreground until SIGINT or SIGTERM (or until a fault makes it
// vanish), logging what it does to standard error.

#include "tools/korva-sim/DeviceModel.h"
#include "tools/korva-sim/LogLine.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace korva
{

namespace
{
const char* const kUsage = R"(Usage: korva-sim [OPTION]...

A virtual KORVA: a socket in the folder of virtual devices that KORVA Manager
lists like a plugged-in device. Stops on SIGINT or SIGTERM and removes its socket.
SIGUSR1 makes it push the header block of the project in use to the computer
unasked (data type 0x80), as the device does when its user sends a project.

Options:
  --store DIR              the device's memory: its projects and current pattern
                           (default: $XDG_DATA_HOME/korva-sim, else
                           ~/.local/share/korva-sim); a new folder gets demo projects
  --pattern-capacity N     patterns the device holds in all (default 4096)

  --dir DIR                folder of the virtual devices (default: $KORVA_VIRTUAL_DIR,
                           else $XDG_RUNTIME_DIR/korva, else /tmp/korva-<uid>)
  --name NAME              socket file name (default: korva-<pid>.sock)
  --vendor-id ID           USB vendor id (default 0x7C4E)
  --product-id ID          USB product id (default 0x0A31)
  --release N              USB release number (default 0x0100)
  --manufacturer TEXT      manufacturer string (default MELDRA)
  --product TEXT           product string (default KORVA)
  --input-length N         input report length, report-ID byte included (default 65)
  --output-length N        output report length, report-ID byte included (default 65)

  --ack-timeout MS         one wait for an acknowledgement (default 1000)
  --ack-tries N            waits before a message is given up (default 5)
  --response-delay MS      pause before answering a request (default 20)

  --answer TYPE=HEX        answer requests of TYPE with this payload (hex, may be empty)
  --silent TYPE            do not answer requests of TYPE
  --others model|echo|silent  what requests of other types get (default model: the
                           device's own answers from its memory)

Device switches:
  --old-firmware           leave the version probe unanswered
  --busy                   answer status 2 (busy) to the project list, delete, rename,
                           project import and room check
  --refuse                 answer status 0 (failed) to delete, rename, project import,
                           room check, project export and both pattern messages
  --no-room                report no room left; room checks and exports fail
  --pattern-format DIGIT   the device's pattern format: 2 (older than the program's),
                           3 (default) or 4 (newer)
  --slow MS                answer every request only after MS; deletes and renames
                           take 10 polls instead of 4
  --garble MODE[:TYPE]     spoil the answers (of TYPE only, if given): short (a byte
                           too few), long (a byte too many), value (a value out of range)

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
  --version                show the version of korva-sim
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

void logLine (const std::string& text)
{
    korva::sim::writeLogLine ("korva-sim", text);
}

int usageError (const std::string& message)
{
    std::fprintf (stderr, "korva-sim: %s\n(see korva-sim --help)\n", message.c_str());
    return 2;
}
} // namespace

int runProgram (int argc, char** argv)
{
    korva::sim::Options options;
    options.log = logLine;
    std::vector<std::pair<std::uint8_t, korva::sim::Handler>> handlers;
    korva::sim::Handler others; // empty: the device model
    korva::sim::DeviceModel::Settings modelSettings;
    korva::sim::ModelSwitches switches;

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
        if (option == "--version")
        {
            std::printf ("korva-sim %s\n", KORVA_VERSION_STRING);
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
        if (option == "--old-firmware" || option == "--busy" || option == "--refuse" || option == "--no-room")
        {
            (option == "--old-firmware" ? switches.oldFirmware
             : option == "--busy"       ? switches.busy
             : option == "--refuse"     ? switches.refuse
                                        : switches.noRoom) = true;
            continue;
        }

        if (value == nullptr)
            return usageError (option + " needs a value, or is unknown");

        if (option == "--dir")
            options.folder = argv[++i];
        else if (option == "--store")
        {
            modelSettings.storeFolder = argv[++i];
            char here[4096];
            if (! modelSettings.storeFolder.empty() && modelSettings.storeFolder[0] != '/'
                && ::getcwd (here, sizeof (here)) != nullptr)
                modelSettings.storeFolder = std::string (here) + "/" + modelSettings.storeFolder;
        }
        else if (option == "--pattern-capacity")
        {
            if (! needNumber (0, 0xFFFF))
                return usageError ("bad value for --pattern-capacity");
            modelSettings.patternCapacity = static_cast<int> (number);
        }
        else if (option == "--pattern-format")
        {
            const std::string digit = argv[++i];
            if (digit != "2" && digit != "3" && digit != "4")
                return usageError ("--pattern-format takes 2, 3 or 4");
            switches.patternFormat = digit[0];
        }
        else if (option == "--slow")
        {
            if (! needNumber (0, 600000))
                return usageError ("bad value for --slow");
            options.timing.responseDelayMs = static_cast<int> (number);
            switches.slowJobs = true;
        }
        else if (option == "--garble")
        {
            const std::string text = argv[++i];
            const auto colon = text.find (':');
            const auto mode = text.substr (0, colon);
            long type = -1;
            if (colon != std::string::npos && ! parseNumber (text.substr (colon + 1).c_str(), 0, 255, type))
                return usageError ("bad type in --garble " + text);
            switches.garble = mode == "short"   ? korva::sim::Garble::kShort
                              : mode == "long"  ? korva::sim::Garble::kLong
                              : mode == "value" ? korva::sim::Garble::kBadValue
                                                : korva::sim::Garble::kNone;
            if (switches.garble == korva::sim::Garble::kNone)
                return usageError ("--garble takes short, long or value, then :TYPE if wanted");
            switches.garbleType = static_cast<int> (type);
        }
        else if (option == "--name")
            options.name = argv[++i];
        else if (option == "--manufacturer")
            options.manufacturer = argv[++i];
        else if (option == "--product")
            options.product = argv[++i];
        else if (option == "--vendor-id" || option == "--product-id" || option == "--release")
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
            handlers.emplace_back (answerType, korva::sim::fixedAnswer ({answerType, payload}));
        }
        else if (option == "--silent")
        {
            if (! needNumber (0, 255))
                return usageError ("bad value for --silent");
            handlers.emplace_back (static_cast<std::uint8_t> (number), korva::sim::silentHandler());
        }
        else if (option == "--others")
        {
            const std::string kind = argv[++i];
            if (kind == "model")
                others = nullptr;
            else if (kind == "echo")
                others = korva::sim::echoHandler();
            else if (kind == "silent")
                others = korva::sim::silentHandler();
            else
                return usageError ("--others takes model, echo or silent");
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
    sigaddset (&signals, SIGUSR1);
    pthread_sigmask (SIG_BLOCK, &signals, nullptr);
    const int signalFd = ::signalfd (-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0)
    {
        std::perror ("korva-sim: signalfd");
        return 1;
    }

    modelSettings.log = options.log;
    korva::sim::DeviceModel model (modelSettings);
    model.setSwitches (switches);
    std::string error;
    if (! others && ! model.open (error))
    {
        std::fprintf (stderr, "korva-sim: %s\n", error.c_str());
        return 1;
    }

    korva::sim::VirtualKorva device (options);
    for (auto& entry : handlers)
        device.setHandler (entry.first, entry.second);
    if (others)
        device.setDefaultHandler (others);
    else
        device.setDefaultHandler ([&model] (const korva::sim::Message& request) { return model.answer (request); });

    if (! device.start (error))
    {
        std::fprintf (stderr, "korva-sim: %s\n", error.c_str());
        return 1;
    }

    while (! device.waitUntilFinished (signalFd))
    {
        signalfd_siginfo info{};
        [[maybe_unused]] const auto n = ::read (signalFd, &info, sizeof (info));
        if (info.ssi_signo == SIGUSR1)
        {
            if (const auto push = model.makePush())
                device.sendMessage (*push);
            else if (options.log)
                options.log ("nothing to push: the device holds no project");
            continue;
        }
        if (options.log)
            options.log (std::string ("signal ") + std::to_string (info.ssi_signo) + ", unplugging");
        break;
    }

    device.stop();
    ::close (signalFd);
    return 0;
}

} // namespace korva

int main (int argc, char** argv)
{
    return korva::runProgram (argc, argv);
}
