// korva-hidraw-emu: a KORVA that the program reaches through its hidraw
// backend, for the tests. The device itself is korva-sim, run as a child on a
// socket of its own that the program does not watch; this program gives it
// the face of a USB HID device: a hidraw node (served through FUSE) and the
// device's sysfs entries, inside the emulation's mount namespace.

#include "core/hidlink/InotifyEvents.h"
#include "core/hidlink/VirtualDevice.h"
#include "tests/support/hidraw/EmulationNamespace.h"
#include "tests/support/hidraw/HidrawNode.h"
#include "tests/support/hidraw/SysfsTree.h"
#include "tools/korva-sim/LogLine.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace korva
{

using namespace korva::test::hidraw;

namespace
{
const char* const kUsage = R"(Usage: korva-hidraw-emu env -- COMMAND [ARGUMENT]...
       korva-hidraw-emu plug [OPTION]... [-- KORVA-SIM OPTION...]

Test support: a KORVA that programs reach through Linux hidraw.

env runs COMMAND in a private mount namespace whose /sys and /dev hold only
the emulated devices (root and /dev/fuse are needed). Where that cannot be
done, COMMAND runs all the same, with the reason in
$KORVA_HIDRAW_EMULATION_UNAVAILABLE.

plug, run inside such a namespace, plugs in one KORVA: a korva-sim (given the
KORVA-SIM OPTIONs) with its hidraw node /dev/hidrawN and its sysfs entries.
SIGTERM or SIGINT unplugs it: the node and its entries go, open files fail
as the kernel's do, and the program ends once every file is closed (a second
signal ends it at once). SIGUSR1 is passed to korva-sim. When korva-sim ends
(its --vanish-after-... switches), the device is unplugged likewise. SIGKILL
leaves the node and its entries behind, with every operation on the node
failing: a device that died without going away.

Options of plug:
  --number N     the node's number N (default: the lowest free one)
  --mode MODE    the node's permissions, octal (default 0600, as without a udev rule)
  --serial TEXT  the USB serial number, HID_UNIQ (default KV + the device's number)
  --korva-sim P  the korva-sim to run (default: the one beside this program)
  --help         show this text
)";

constexpr int kStartTimeoutMs = 10000;

void log (const std::string& text)
{
    korva::sim::writeLogLine ("korva-hidraw-emu", text);
}

int fail (const std::string& text, int code = 1)
{
    std::fprintf (stderr, "korva-hidraw-emu: %s\n", text.c_str());
    return code;
}

bool exists (const std::string& path)
{
    struct stat info{};
    return ::lstat (path.c_str(), &info) == 0;
}

std::string besideThisProgram (const std::string& name)
{
    char path[PATH_MAX];
    const auto n = ::readlink ("/proc/self/exe", path, sizeof (path) - 1);
    if (n <= 0)
        return name;
    path[n] = '\0';
    std::string folder (path);
    return folder.substr (0, folder.rfind ('/') + 1) + name;
}

// The next of a number kept in a file of the runtime folder, as the kernel
// counts its HID devices and USB addresses: never the same twice.
int nextInSequence (const std::string& file, int first)
{
    int value = first;
    if (FILE* in = std::fopen (file.c_str(), "r"))
    {
        if (std::fscanf (in, "%d", &value) != 1)
            value = first;
        std::fclose (in);
    }
    if (FILE* out = std::fopen (file.c_str(), "w"))
    {
        std::fprintf (out, "%d\n", value + 1);
        std::fclose (out);
    }
    return value;
}

//==============================================================================
int runEnvironment (int argc, char** argv)
{
    int first = 2;
    if (first < argc && std::strcmp (argv[first], "--") == 0)
        ++first;
    if (first >= argc)
        return fail ("env needs a command", 2);

    std::string error;
    if (! enterEmulationNamespace (error))
        ::setenv (kUnavailableVariable, error.c_str(), 1);

    ::execvp (argv[first], argv + first);
    return fail (std::string ("cannot run ") + argv[first] + ": " + std::strerror (errno), 127);
}

//==============================================================================
struct PlugOptions
{
    int number = -1;
    mode_t mode = 0600;
    std::string serial;
    std::string korvaSim = besideThisProgram ("korva-sim");
    std::vector<std::string> simArguments;
};

class PluggedDevice
{
public:
    explicit PluggedDevice (PlugOptions options) : m_options (std::move (options)) {}

    ~PluggedDevice()
    {
        m_node.reset();
        if (! m_mountPoint.empty())
            ::unlink (m_mountPoint.c_str());
        if (! m_simFolder.empty())
            ::rmdir (m_simFolder.c_str());
    }

    int run()
    {
        sigset_t signals;
        sigemptyset (&signals);
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGUSR1})
            sigaddset (&signals, s);
        ::sigprocmask (SIG_BLOCK, &signals, nullptr);
        m_signals = ::signalfd (-1, &signals, SFD_CLOEXEC);
        if (m_signals < 0)
            return fail (std::string ("signalfd: ") + std::strerror (errno));

        std::string error;
        if (! reserveNumber (error) || ! startKorvaSim (error) || ! plugIn (error))
        {
            stopKorvaSim();
            return fail (error);
        }
        return serve();
    }

private:
    // Picks the node's number and the device's sequence numbers, under a lock
    // that other emulated devices take too.
    bool reserveNumber (std::string& error)
    {
        const std::string runtime = kRuntimeFolder;
        const int lock = ::open ((runtime + "/.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (lock < 0 || ::flock (lock, LOCK_EX) != 0)
        {
            error = "cannot lock " + runtime + ": " + std::strerror (errno);
            return false;
        }

        const auto taken = [&runtime] (int n)
        {
            const auto name = "hidraw" + std::to_string (n);
            return exists ("/dev/" + name) || exists ("/sys/class/hidraw/" + name) || exists (runtime + "/" + name);
        };
        int number = m_options.number;
        if (number < 0)
            for (number = 0; taken (number); ++number)
            {
            }
        else if (taken (number))
            error = "hidraw" + std::to_string (number) + " is in use";

        if (error.empty())
        {
            m_device.number = number;
            m_device.instance = nextInSequence (runtime + "/.hid-instances", 1);
            m_device.usbNumber = nextInSequence (runtime + "/.usb-numbers", 2);
            m_mountPoint = runtime + "/hidraw" + std::to_string (number);
            const int fd = ::open (m_mountPoint.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
            if (fd < 0)
                error = "cannot create " + m_mountPoint + ": " + std::strerror (errno);
            else
                ::close (fd);
        }
        ::close (lock);
        if (! error.empty())
            m_mountPoint.clear();
        return error.empty();
    }

    bool startKorvaSim (std::string& error)
    {
        m_simFolder = std::string (kRuntimeFolder) + "/korva-sim-" + std::to_string (m_device.number);
        m_socket = m_simFolder + "/korva.sock";
        if (::mkdir (m_simFolder.c_str(), 0700) != 0 && errno != EEXIST)
        {
            error = "cannot create " + m_simFolder + ": " + std::strerror (errno);
            return false;
        }

        // korva-sim binds a hidden name and renames it once it listens: the
        // rename into this folder says that the device is up.
        const int inotifyFd = ::inotify_init1 (IN_NONBLOCK | IN_CLOEXEC);
        if (inotifyFd < 0 || ::inotify_add_watch (inotifyFd, m_simFolder.c_str(), IN_MOVED_TO | IN_CREATE) < 0)
        {
            error = std::string ("cannot watch ") + m_simFolder + ": " + std::strerror (errno);
            if (inotifyFd >= 0)
                ::close (inotifyFd);
            return false;
        }
        const bool up = launchKorvaSim (error) && waitForKorvaSim (inotifyFd, error);
        ::close (inotifyFd);
        return up;
    }

    bool launchKorvaSim (std::string& error)
    {
        std::vector<std::string> words{m_options.korvaSim, "--dir", m_simFolder, "--name", "korva.sock"};
        words.insert (words.end(), m_options.simArguments.begin(), m_options.simArguments.end());
        std::vector<char*> argv;
        for (auto& word : words)
            argv.push_back (word.data());
        argv.push_back (nullptr);

        const pid_t parent = ::getpid();
        m_child = ::fork();
        if (m_child < 0)
        {
            error = std::string ("fork: ") + std::strerror (errno);
            return false;
        }
        if (m_child == 0)
        {
            // The device goes with this program, however it ends.
            ::prctl (PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit (1);
            sigset_t none;
            sigemptyset (&none);
            ::sigprocmask (SIG_SETMASK, &none, nullptr);
            ::execv (argv[0], argv.data());
            std::fprintf (stderr, "korva-hidraw-emu: cannot run %s: %s\n", argv[0], std::strerror (errno));
            ::_exit (127);
        }
        return true;
    }

    // Waits until the socket appears and answers with a hello, or korva-sim
    // ends, or this program is told to stop.
    bool waitForKorvaSim (int inotifyFd, std::string& error)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (kStartTimeoutMs);
        for (;;)
        {
            using namespace std::chrono;
            const auto left = duration_cast<milliseconds> (deadline - steady_clock::now()).count();
            if (left <= 0)
            {
                error = "korva-sim did not come up within " + std::to_string (kStartTimeoutMs) + " ms";
                return false;
            }
            pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {m_signals, POLLIN, 0}};
            if (::poll (fds, 2, static_cast<int> (left)) < 0 && errno != EINTR)
            {
                error = std::string ("poll: ") + std::strerror (errno);
                return false;
            }

            if ((fds[1].revents & POLLIN) != 0)
            {
                signalfd_siginfo info{};
                if (::read (m_signals, &info, sizeof (info)) == sizeof (info) && info.ssi_signo != SIGUSR1)
                {
                    int status = 0;
                    if (info.ssi_signo != SIGCHLD || ::waitpid (m_child, &status, WNOHANG) == m_child)
                    {
                        if (info.ssi_signo == SIGCHLD)
                            m_child = -1;
                        error = info.ssi_signo == SIGCHLD ? "korva-sim ended before its device was up"
                                                          : "told to stop before the device was up";
                        return false;
                    }
                }
            }

            bool appeared = false;
            if ((fds[0].revents & POLLIN) != 0)
                hidlink::readInotifyEvents (inotifyFd, [&appeared] (const inotify_event& event) {
                    appeared = appeared || (event.len > 0 && std::strcmp (event.name, "korva.sock") == 0);
                });
            if (appeared)
            {
                const int fd = connectToDevice (m_socket, m_hello);
                if (fd >= 0)
                {
                    ::close (fd);
                    return true;
                }
            }
        }
    }

    bool plugIn (std::string& error)
    {
        m_device.vendorId = m_hello.vendorId;
        m_device.productId = m_hello.productId;
        m_device.versionNumber = m_hello.versionNumber;
        m_device.manufacturer = m_hello.manufacturer;
        m_device.product = m_hello.product;
        m_device.serial = m_options.serial.empty() ? "KV" + std::to_string (1000 + m_device.usbNumber) : m_options.serial;
        m_device.reportDescriptor = makeReportDescriptor (m_hello.inputReportLength, m_hello.outputReportLength);

        NodeSettings settings;
        settings.mountPoint = m_mountPoint;
        settings.socketPath = m_socket;
        settings.mode = m_options.mode;
        settings.reportDescriptor = m_device.reportDescriptor;
        settings.vendorId = m_device.vendorId;
        settings.productId = m_device.productId;
        settings.name = m_device.manufacturer + (m_device.manufacturer.empty() ? "" : " ") + m_device.product;
        settings.phys = "usb-0000:00:14.0-" + std::to_string (m_device.number + 1) + "/input0";
        settings.log = log;
        m_node = std::make_unique<HidrawNode> (settings);
        if (! m_node->mount (error))
            return false;

        // In the kernel's order: the device's sysfs entries, then its node.
        if (! addSysfsDevice (m_device, error))
        {
            removeSysfsDevice (m_device);
            return false;
        }
        m_nodePath = "/dev/hidraw" + std::to_string (m_device.number);
        const auto target = std::string (kRuntimeFolder).substr (5) + "/hidraw" + std::to_string (m_device.number);
        if (::symlink (target.c_str(), m_nodePath.c_str()) != 0)
        {
            error = "cannot create " + m_nodePath + ": " + std::strerror (errno);
            removeSysfsDevice (m_device);
            m_nodePath.clear();
            return false;
        }
        log ("hidraw node plugged in at " + m_nodePath + " (" + m_device.hidrawPath() + ")");
        return true;
    }

    void unplug()
    {
        if (m_nodePath.empty())
            return;
        // As the kernel does: I/O fails first, then the node goes, then sysfs.
        m_node->unplug();
        ::unlink (m_nodePath.c_str());
        removeSysfsDevice (m_device);
        log ("hidraw node unplugged from " + m_nodePath);
        m_nodePath.clear();
        if (m_child > 0)
            ::kill (m_child, SIGTERM);
    }

    void stopKorvaSim()
    {
        if (m_child <= 0)
            return;
        ::kill (m_child, SIGTERM);
        ::waitpid (m_child, nullptr, 0);
        m_child = -1;
    }

    void reapKorvaSim()
    {
        int status = 0;
        if (m_child > 0 && ::waitpid (m_child, &status, WNOHANG) == m_child)
        {
            m_child = -1;
            if (! m_nodePath.empty())
            {
                log ("korva-sim ended: the device is gone");
                unplug();
            }
        }
    }

    int serve()
    {
        std::vector<pollfd> fds;
        for (;;)
        {
            if (m_nodePath.empty() && m_child <= 0 && m_node->openFileCount() == 0)
                return 0; // unplugged, and every file is closed
            if (m_node->sessionEnded())
            {
                unplug();
                stopKorvaSim();
                return 1;
            }

            fds.clear();
            fds.push_back ({m_signals, POLLIN, 0});
            for (int fd : m_node->descriptors())
                fds.push_back ({fd, POLLIN, 0});

            if (::poll (fds.data(), fds.size(), -1) < 0)
            {
                if (errno == EINTR)
                    continue;
                return fail (std::string ("poll: ") + std::strerror (errno));
            }

            if ((fds[0].revents & POLLIN) != 0)
            {
                signalfd_siginfo info{};
                if (::read (m_signals, &info, sizeof (info)) == sizeof (info))
                {
                    if (info.ssi_signo == SIGCHLD)
                        reapKorvaSim();
                    else if (info.ssi_signo == SIGUSR1)
                    {
                        if (m_child > 0)
                            ::kill (m_child, SIGUSR1);
                    }
                    else if (m_nodePath.empty())
                    {
                        stopKorvaSim();
                        return 0; // a second signal: no more waiting for the files
                    }
                    else
                        unplug();
                }
            }

            for (std::size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents != 0)
                    m_node->onReady (fds[i].fd);
            if (m_node->deviceEnded())
                unplug();
        }
    }

    const PlugOptions m_options;
    SysfsDevice m_device;
    hidlink::virtualdevice::Hello m_hello;
    std::unique_ptr<HidrawNode> m_node;
    std::string m_mountPoint, m_simFolder, m_socket, m_nodePath;
    pid_t m_child = -1;
    int m_signals = -1;
};

int runPlug (int argc, char** argv)
{
    if (! insideEmulation())
        return fail ("not inside the emulation: run under 'korva-hidraw-emu env'", 2);

    // A test that ends without unplugging its devices unplugs them all the same.
    const pid_t parent = ::getppid();
    ::prctl (PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        return fail ("the program that plugged the device in has ended");

    PlugOptions options;
    for (int i = 2; i < argc; ++i)
    {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--")
        {
            options.simArguments.assign (argv + i + 1, argv + argc);
            break;
        }
        if (option == "--help")
        {
            std::fputs (kUsage, stdout);
            return 0;
        }
        if (value == nullptr)
            return fail (option + " needs a value, or is unknown", 2);

        char* end = nullptr;
        ++i;
        if (option == "--number")
        {
            const long number = std::strtol (value, &end, 10);
            if (*value == '\0' || *end != '\0' || number < 0 || number > 255)
                return fail ("bad --number", 2);
            options.number = static_cast<int> (number);
        }
        else if (option == "--mode")
        {
            const long mode = std::strtol (value, &end, 8);
            if (*value == '\0' || *end != '\0' || mode < 0 || mode > 07777)
                return fail ("bad --mode", 2);
            options.mode = static_cast<mode_t> (mode);
        }
        else if (option == "--serial")
            options.serial = value;
        else if (option == "--korva-sim")
            options.korvaSim = value;
        else
            return fail ("unknown option " + option, 2);
    }

    PluggedDevice device (options);
    return device.run();
}
} // namespace

int runProgram (int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "env")
        return runEnvironment (argc, argv);
    if (command == "plug")
        return runPlug (argc, argv);
    if (command == "--help" || command == "-h")
    {
        std::fputs (kUsage, stdout);
        return 0;
    }
    std::fputs (kUsage, stderr);
    return 2;
}

} // namespace korva

int main (int argc, char** argv)
{
    return korva::runProgram (argc, argv);
}
