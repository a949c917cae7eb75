// korva-sim: a virtual KORVA for people without the hardware, and for tests.
// Runs in the foreground until SIGINT or SIGTERM (or until a fault makes it
// vanish), logging what it does to standard error.

#include "core/infra/CommandLine.h"
#include "tools/korva-sim/DeviceModel.h"
#include "tools/korva-sim/LogLine.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
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
  --busy-import INDEX      answer status 2 (busy) to the import of project INDEX only
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

namespace cl = infra::commandline;

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
        if (! cl::readNumber ("0x" + digits.substr (i, 2), 0, 255, value))
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

// The options' readers; each refusal is the text korva-sim prints for it.
bool refuse (std::string& error, std::string text)
{
    error = std::move (text);
    return false;
}

cl::Option flag (const char* name, bool& field)
{
    return {name, nullptr, nullptr, nullptr, [&field] (const std::string&, std::string&) { return field = true; }};
}

cl::Option text (const char* name, std::string& field)
{
    return {name, nullptr, "TEXT", nullptr, [&field] (const std::string& value, std::string&)
            {
                field = value;
                return true;
            }};
}

cl::Option number (const char* name, long minimum, long maximum, std::function<void (long)> take)
{
    return {name, nullptr, "N", nullptr, [=] (const std::string& value, std::string& error)
            {
                long n = 0;
                if (! cl::readNumber (value, minimum, maximum, n))
                    return refuse (error, std::string ("bad value for ") + name);
                take (n);
                return true;
            }};
}

template <typename Field>
cl::Option numberInto (const char* name, long minimum, long maximum, Field& field)
{
    return number (name, minimum, maximum, [&field] (long n) { field = static_cast<Field> (n); });
}

// What the command line asks for.
struct Setup
{
    korva::sim::Options options;
    std::vector<std::pair<std::uint8_t, korva::sim::Handler>> handlers;
    korva::sim::Handler others; // empty: the device model
    korva::sim::DeviceModel::Settings modelSettings;
    korva::sim::ModelSwitches switches;
};

// Fills `setup`; an exit code when the program ends here (--help, --version,
// a usage error).
std::optional<int> readCommandLine (int argc, char** argv, Setup& setup)
{
    auto& options = setup.options;
    auto& modelSettings = setup.modelSettings;
    auto& switches = setup.switches;
    options.log = logLine;

    const auto readStore = [&modelSettings] (const std::string& folder, std::string&)
    {
        // A relative folder is taken from where korva-sim was started.
        modelSettings.storeFolder = folder;
        std::error_code error;
        if (! folder.empty() && folder[0] != '/')
            if (const auto full = std::filesystem::absolute (folder, error); ! error)
                modelSettings.storeFolder = full.string();
        return true;
    };
    const auto readGarble = [&switches] (const std::string& value, std::string& error)
    {
        const auto colon = value.find (':');
        const auto mode = value.substr (0, colon);
        long type = -1;
        if (colon != std::string::npos && ! cl::readNumber (value.substr (colon + 1), 0, 255, type))
            return refuse (error, "bad type in --garble " + value);
        switches.garble = mode == "short"   ? korva::sim::Garble::kShort
                          : mode == "long"  ? korva::sim::Garble::kLong
                          : mode == "value" ? korva::sim::Garble::kBadValue
                                            : korva::sim::Garble::kNone;
        if (switches.garble == korva::sim::Garble::kNone)
            return refuse (error, "--garble takes short, long or value, then :TYPE if wanted");
        switches.garbleType = static_cast<int> (type);
        return true;
    };
    const auto readAnswer = [&handlers = setup.handlers] (const std::string& value, std::string& error)
    {
        const auto equals = value.find ('=');
        long type = 0;
        std::vector<std::uint8_t> payload;
        if (equals == std::string::npos || ! cl::readNumber (value.substr (0, equals), 0, 255, type)
            || ! parseHexBytes (value.substr (equals + 1), payload))
            return refuse (error, "bad value for --answer: " + value);
        const auto answerType = static_cast<std::uint8_t> (type);
        handlers.emplace_back (answerType, korva::sim::fixedAnswer ({answerType, payload}));
        return true;
    };
    const auto readOthers = [&others = setup.others] (const std::string& kind, std::string& error)
    {
        if (kind != "model" && kind != "echo" && kind != "silent")
            return refuse (error, "--others takes model, echo or silent");
        others = kind == "echo"     ? korva::sim::echoHandler()
                 : kind == "silent" ? korva::sim::silentHandler()
                                    : korva::sim::Handler(); // the device model
        return true;
    };
    const auto readPatternFormat = [&switches] (const std::string& digit, std::string& error)
    {
        if (digit != "2" && digit != "3" && digit != "4")
            return refuse (error, "--pattern-format takes 2, 3 or 4");
        switches.patternFormat = digit[0];
        return true;
    };

    auto& timing = options.timing;
    auto& faults = options.faults;
    const std::vector<cl::Option> table = {
        {"--help", "-h", nullptr, nullptr, {}, true},
        {"--version", nullptr, nullptr, nullptr, {}, true},
        {"--quiet", nullptr, nullptr, nullptr, [&options] (const std::string&, std::string&)
         {
             options.log = nullptr;
             return true;
         }},
        flag ("--corrupt-crc", faults.corruptCrc),
        flag ("--mute", faults.mute),
        flag ("--old-firmware", switches.oldFirmware),
        flag ("--busy", switches.busy),
        flag ("--refuse", switches.refuse),
        numberInto ("--busy-import", 0, 255, switches.busyImport),
        flag ("--no-room", switches.noRoom),

        text ("--dir", options.folder),
        {"--store", nullptr, "DIR", nullptr, readStore},
        numberInto ("--pattern-capacity", 0, 0xFFFF, modelSettings.patternCapacity),
        {"--pattern-format", nullptr, "DIGIT", nullptr, readPatternFormat},
        number ("--slow", 0, 600000,
                [&] (long n)
                {
                    timing.responseDelayMs = static_cast<int> (n);
                    switches.slowJobs = true;
                }),
        {"--garble", nullptr, "MODE[:TYPE]", nullptr, readGarble},
        text ("--name", options.name),
        text ("--manufacturer", options.manufacturer),
        text ("--product", options.product),
        numberInto ("--vendor-id", 0, 0xFFFF, options.vendorId),
        numberInto ("--product-id", 0, 0xFFFF, options.productId),
        numberInto ("--release", 0, 0xFFFF, options.versionNumber),
        numberInto ("--input-length", 1, 4096, options.inputReportLength),
        numberInto ("--output-length", 1, 4096, options.outputReportLength),
        numberInto ("--ack-timeout", 0, 600000, timing.ackWaitMs),
        numberInto ("--response-delay", 0, 600000, timing.responseDelayMs),
        numberInto ("--ack-tries", 1, 1000, timing.ackTries),
        {"--answer", nullptr, "TYPE=HEX", nullptr, readAnswer},
        number ("--silent", 0, 255,
                [&handlers = setup.handlers] (long n)
                { handlers.emplace_back (static_cast<std::uint8_t> (n), korva::sim::silentHandler()); }),
        {"--others", nullptr, "KIND", nullptr, readOthers},
        numberInto ("--drop-ack", 0, 0xFFFF, faults.dropAck),
        numberInto ("--reject-packet", 0, 0xFFFF, faults.rejectPacket),
        numberInto ("--stall-after-sent", 0, 0xFFFF, faults.stallAfterSent),
        numberInto ("--vanish-after-received", 0, 0xFFFF, faults.vanishAfterReceived),
        numberInto ("--vanish-after-sent", 0, 0xFFFF, faults.vanishAfterSent),
    };

    cl::Parsed parsed;
    cl::Error error;
    if (! cl::parse (table, cl::Words::kOptionsOnly, cl::argumentsOf (argc, argv), parsed, error))
    {
        // A last word korva-sim cannot use might be an option whose value is
        // missing: it has always said so in one text.
        const bool maybeValueMissing = error.problem == cl::Problem::kMissingValue
                                       || (error.problem == cl::Problem::kUnknownOption && error.lastWord);
        return usageError (maybeValueMissing ? error.word + " needs a value, or is unknown" : error.text);
    }
    if (parsed.has ("--help"))
    {
        std::fputs (kUsage, stdout);
        return 0;
    }
    if (parsed.has ("--version"))
    {
        std::printf ("korva-sim %s\n", KORVA_VERSION_STRING);
        return 0;
    }
    return std::nullopt;
}
} // namespace

int runProgram (int argc, char** argv)
{
    Setup setup;
    if (const auto exitCode = readCommandLine (argc, argv, setup))
        return *exitCode;
    const auto& options = setup.options;

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

    setup.modelSettings.log = options.log;
    korva::sim::DeviceModel model (setup.modelSettings);
    model.setSwitches (setup.switches);
    std::string error;
    if (! setup.others && ! model.open (error))
    {
        std::fprintf (stderr, "korva-sim: %s\n", error.c_str());
        return 1;
    }

    korva::sim::VirtualKorva device (options);
    for (auto& entry : setup.handlers)
        device.setHandler (entry.first, entry.second);
    if (setup.others)
        device.setDefaultHandler (setup.others);
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
