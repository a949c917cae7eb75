#include "tests/e2e/Desktop.h"

#include "tools/korva-sim/DemoContent.h"
#include "tools/korva-sim/ProjectStore.h"

#include <X11/keysym.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace korva::test::e2e
{
namespace
{
constexpr const char* kSocketName = "korva.sock";

void pause (int ms)
{
    std::this_thread::sleep_for (std::chrono::milliseconds (ms));
}

korva::sim::ProjectStore openStore (const juce::File& folder)
{
    korva::sim::ProjectStore store (folder.getFullPathName().toStdString(), {});
    std::string error;
    store.open (error);
    return store;
}
} // namespace

//==============================================================================
Places::Places (const juce::String& homeName) : home (root / homeName)
{
    home.createDirectory();
    devices.createDirectory();
    bin.createDirectory();

    const auto chooser = bin.getChildFile ("zenity");
    chooser.replaceWithText ("#!/bin/sh\n"
                             "# Stands in for the desktop's folder chooser in the end-to-end tests.\n"
                             "here=$(dirname \"$0\")\n"
                             "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$here/chooser-asked.txt\"\n"
                             "if [ -s \"$here/chooser-answer.txt\" ]; then cat \"$here/chooser-answer.txt\"; exit 0; fi\n"
                             "exit 1\n",
                             false, false, "\n"); // a script's first line must not end in a carriage return
    chooser.setExecutePermission (true);
}

void Places::launcherEndsWith (int status) const
{
    const auto launcher = bin.getChildFile ("xdg-open");
    launcher.replaceWithText ("#!/bin/sh\n"
                              "# Stands in for the desktop's launcher in the end-to-end tests.\n"
                              "printf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened.txt\"\n"
                              "exit "
                                  + juce::String (status) + "\n",
                              false, false, "\n");
    launcher.setExecutePermission (true);
}

void Places::chooseNext (const juce::File& folder) const
{
    if (folder == juce::File())
        chooserAnswer.deleteFile();
    else
        chooserAnswer.replaceWithText (folder.getFullPathName() + "\n", false, false, "\n");
    chooserQuestion.deleteFile();
}

juce::StringArray Places::lastChooserQuestion() const
{
    juce::StringArray lines;
    lines.addLines (chooserQuestion.loadFileAsString());
    lines.removeEmptyStrings();
    return lines;
}

bool Places::handOver (uid_t user, gid_t group) const
{
    if (::chmod (root.get().getFullPathName().toRawUTF8(), 0755) != 0)
        return false;
    std::error_code error;
    for (const auto& folder : { home, devices, bin })
    {
        const std::filesystem::path top (folder.getFullPathName().toStdString());
        if (::chown (top.c_str(), user, group) != 0)
            return false;
        for (const auto& entry : std::filesystem::recursive_directory_iterator (top, error))
            if (::lchown (entry.path().c_str(), user, group) != 0)
                return false;
    }
    return ! error;
}

//==============================================================================
VirtualKorva::VirtualKorva (const Places& places, Transport transport)
    : m_places (places), m_transport (transport), m_log (places.root / "korva-sim.txt"), m_hidraw (m_log)
{
}

VirtualKorva::~VirtualKorva()
{
    unplug();
}

bool VirtualKorva::plugIn (const std::vector<std::string>& switches)
{
    if (isPluggedIn())
        return false;

    if (m_transport == Transport::kHidraw)
    {
        std::vector<std::string> arguments { "--store", m_places.store.getFullPathName().toStdString() };
        arguments.insert (arguments.end(), switches.begin(), switches.end());
        return m_hidraw.plugIn (arguments, -1, m_nodeMode);
    }

    std::vector<std::string> arguments { "--dir",   m_places.devices.getFullPathName().toStdString(),
                                         "--name",  kSocketName,
                                         "--store", m_places.store.getFullPathName().toStdString() };
    arguments.insert (arguments.end(), switches.begin(), switches.end());
    const int before = countInLog ("plugged in at");
    m_process = std::make_unique<ProgramProcess> (KORVA_SIM_BINARY, m_places.root.get(), m_log, ProgramProcess::Environment {},
                                                  arguments);
    if (m_process->pid() <= 0)
    {
        m_process.reset();
        return false;
    }
    return waitUntil ([&] { return countInLog ("plugged in at") > before; }, 10000);
}

bool VirtualKorva::unplug()
{
    if (m_transport == Transport::kHidraw)
        return m_hidraw.unplug();
    if (m_process == nullptr)
        return true;
    m_process->signal (SIGTERM);
    const int code = m_process->waitForExit (10000);
    m_process.reset();
    return code == 0;
}

void VirtualKorva::kill()
{
    if (m_transport == Transport::kHidraw)
    {
        m_hidraw.kill();
        return;
    }
    if (m_process == nullptr)
        return;
    m_process->signal (SIGKILL);
    m_process->waitForExit (10000);
    m_process.reset();
}

bool VirtualKorva::freeze()
{
    if (m_transport == Transport::kHidraw)
        return m_hidraw.freeze();
    return m_process != nullptr && m_process->signal (SIGSTOP);
}

bool VirtualKorva::thaw()
{
    if (m_transport == Transport::kHidraw)
        return m_hidraw.thaw();
    return m_process != nullptr && m_process->signal (SIGCONT);
}

juce::String VirtualKorva::log() const
{
    return m_log.loadFileAsString();
}

int VirtualKorva::countInLog (const juce::String& text) const
{
    return occurrences (log(), text);
}

std::map<int, VirtualKorva::Project> VirtualKorva::projects() const
{
    std::map<int, Project> result;
    const auto store = openStore (m_places.store);
    for (const auto& [index, image] : store.projects())
        result[index] = { korva::sim::block::name (image.data()), image };
    return result;
}

std::optional<int> VirtualKorva::indexOf (const std::string& name) const
{
    for (const auto& [index, project] : projects())
        if (project.name == name)
            return index;
    return std::nullopt;
}

std::array<std::uint8_t, 20> VirtualKorva::patternInfo() const
{
    return openStore (m_places.store).getPatternInfo();
}

Bytes VirtualKorva::currentPattern() const
{
    return openStore (m_places.store).getCurrentPattern();
}

bool VirtualKorva::seed (const std::vector<Seed>& projects)
{
    if (m_process != nullptr || projects.empty())
        return false;
    korva::sim::ProjectStore store (m_places.store.getFullPathName().toStdString(), {});
    std::string error;
    if (! store.open (error))
        return false;
    std::vector<int> present;
    for (const auto& entry : store.projects())
        present.push_back (entry.first);
    for (const int index : present)
        if (! store.removeProject (index))
            return false;
    for (const auto& project : projects)
        if (! store.putProject (project.index, korva::sim::makeDemoProject (project.name, project.patterns)))
            return false;
    return store.setCurrentProject (projects.front().index);
}

//==============================================================================
KorvaManager::KorvaManager (const Places& places) : m_places (places), m_trace (places.root / "korva-manager.txt") {}

KorvaManager::~KorvaManager() = default;

bool KorvaManager::start (int timeoutMs)
{
    const char* path = std::getenv ("PATH");
    const std::string searchPath =
        m_places.bin.getFullPathName().toStdString() + ":" + (path != nullptr ? path : "/usr/bin:/bin");
    ProgramProcess::Environment environment { { "KORVA_VIRTUAL_DIR", m_places.devices.getFullPathName().toStdString() },
                                              { "PATH", searchPath },
                                              { "XDG_CONFIG_HOME", std::nullopt },
                                              { "XDG_DATA_HOME", std::nullopt } };
    environment.push_back ({ "KORVA_TRACE", m_traceByEnvironment ? std::optional<std::string> ("1") : std::nullopt });
    std::string executable = KORVA_APP_BINARY;
    std::vector<std::string> arguments;
    if (m_user.has_value())
    {
        // The display's cookie, where this user may read it.
        if (const char* authority = std::getenv ("XAUTHORITY"))
        {
            const auto copy = m_places.home.getChildFile (".Xauthority");
            if (! juce::File (authority).copyFileTo (copy)
                || ::chown (copy.getFullPathName().toRawUTF8(), m_user->first, m_user->second) != 0)
                return false;
            environment.push_back ({ "XAUTHORITY", copy.getFullPathName().toStdString() });
        }
        arguments = { "--reuid=" + std::to_string (m_user->first), "--regid=" + std::to_string (m_user->second),
                      "--clear-groups", "--", executable };
        executable = "/usr/bin/setpriv";
    }
    arguments.insert (arguments.end(), m_arguments.begin(), m_arguments.end());
    m_process = std::make_unique<ProgramProcess> (executable, m_places.home, m_trace, environment, arguments);
    m_window = 0;
    m_firstSeen.reset();
    if (m_process->pid() <= 0)
        return false;

    const bool found = waitUntil (
        [&] {
            for (const auto& w : x11probe::windowsOfProcess (m_process->pid()))
            {
                if (! w.mapped || w.title != "KORVA Manager")
                    continue;
                if (! m_firstSeen.has_value())
                    m_firstSeen = w;
                if (w.width == 835 && w.height == 410)
                    m_window = w.id;
            }
            return m_window != 0;
        },
        timeoutMs);
    if (! found)
        return false;
    const auto bounds = x11::rootBoundsOf (m_window);
    if (! bounds.has_value())
        return false;
    m_bounds = *bounds;
    return true;
}

x11::Bounds KorvaManager::bounds() const
{
    // Where the window is now: JUCE may still move a window it has just
    // mapped (it places it again after its first paint).
    if (m_window != 0)
        if (const auto now = x11::rootBoundsOf (m_window))
            m_bounds = *now;
    return m_bounds;
}

void KorvaManager::runAs (uid_t user, gid_t group)
{
    m_user = std::make_pair (user, group);
}

juce::Point<int> KorvaManager::onScreen (juce::Point<int> inWindow) const
{
    const auto where = bounds();
    return { where.x + inWindow.x, where.y + inWindow.y };
}

juce::Image KorvaManager::screenshot() const
{
    return grabScreen (bounds());
}

std::vector<x11probe::WindowInfo> KorvaManager::dialogs() const
{
    std::vector<x11probe::WindowInfo> result;
    if (m_process == nullptr)
        return result;
    for (const auto& w : x11probe::windowsOfProcess (m_process->pid()))
        if (w.mapped && w.id != m_window && w.width > 50 && w.height > 50)
            result.push_back (w);
    return result;
}

std::optional<x11probe::WindowInfo> KorvaManager::waitForDialog (const std::string& title, int timeoutMs) const
{
    std::optional<x11probe::WindowInfo> found;
    waitUntil (
        [&] {
            for (const auto& w : dialogs())
                if (w.title == title)
                    found = w;
            return found.has_value();
        },
        timeoutMs);
    return found;
}

bool KorvaManager::waitUntilNoDialog (int timeoutMs) const
{
    return waitUntil ([&] { return dialogs().empty(); }, timeoutMs);
}

void KorvaManager::startWith (bool traceByEnvironment, std::vector<std::string> arguments)
{
    m_traceByEnvironment = traceByEnvironment;
    m_arguments = std::move (arguments);
}

juce::String KorvaManager::trace() const
{
    return m_trace.loadFileAsString();
}

juce::StringArray KorvaManager::messageBoxes() const
{
    juce::StringArray lines, boxes;
    lines.addLines (trace());
    for (const auto& line : lines)
        if (line.startsWith ("Message box: "))
            boxes.add (line.fromFirstOccurrenceOf ("Message box: ", false, false));
    return boxes;
}

bool KorvaManager::waitForMessageBox (const juce::String& titleAndText, int timeoutMs) const
{
    return waitUntil ([&] { return messageBoxes().contains (titleAndText); }, timeoutMs);
}

int KorvaManager::close (int timeoutMs)
{
    if (m_process == nullptr)
        return -1;
    // A user closes the window once what it shows has settled (a progress
    // window closes itself half a second after its transfer), with the
    // pointer on its way to and from the close button: without a window
    // manager that motion reaches the program, as a click there would.
    waitUntilNoDialog (5000);
    x11::XTestPointer hand;
    const auto corner = onScreen ({ bounds().width - 10, 5 });
    hand.moveTo (corner.x, corner.y);
    x11probe::sendDeleteWindow (m_window);
    hand.glideTo (corner.x - 40, corner.y + 20, 4);
    return m_process->waitForExit (timeoutMs);
}

juce::String KorvaManager::problemsInTrace() const
{
    juce::StringArray lines, problems;
    lines.addLines (trace());
    for (const auto& line : lines)
        if (line.contains ("Sanitizer") || line.contains ("runtime error") || line.contains ("Leaked objects")
            || line.contains ("JUCE Assertion"))
            problems.add (line);
    return problems.joinIntoString ("\n");
}

//==============================================================================
void User::click (juce::Point<int> onScreen)
{
    m_pointer.moveTo (onScreen.x, onScreen.y);
    pause (60);
    m_pointer.press();
    pause (40);
    m_pointer.release();
    pause (40);
}

void User::rightClickIn (const KorvaManager& program, juce::Point<int> inWindow)
{
    const auto onScreen = program.onScreen (inWindow);
    m_pointer.moveTo (onScreen.x, onScreen.y);
    pause (60);
    m_pointer.press (3);
    pause (40);
    m_pointer.release (3);
    pause (40);
}

void User::clickIn (unsigned long window, juce::Point<int> inWindow)
{
    if (const auto bounds = x11::rootBoundsOf (window))
        click ({ bounds->x + inWindow.x, bounds->y + inWindow.y });
}

void User::moveAway()
{
    m_pointer.moveTo (2, 2);
    pause (30);
}

bool User::moveUntil (const std::function<bool()>& reacted, int timeoutMs)
{
    constexpr int kLookMs = 50;
    const int x = m_pointer.x(), y = m_pointer.y();
    for (int waited = 0, step = 0; waited < timeoutMs; waited += kLookMs, ++step)
    {
        m_pointer.moveTo (x + (step % 2 == 0 ? 2 : 0), y);
        if (waitUntil (reacted, kLookMs))
            return true;
    }
    return reacted();
}

bool User::pressDialogButton (unsigned long dialog, std::size_t index, std::size_t count)
{
    const auto bounds = x11::rootBoundsOf (dialog);
    if (! bounds.has_value())
        return false;
    std::vector<juce::Point<int>> buttons;
    // The hand goes to the box first, as the eyes do.
    m_pointer.moveTo (bounds->x + bounds->width / 2, bounds->y + bounds->height / 3);
    if (! waitUntil ([&] { return (buttons = alertButtons (grabScreen (*bounds))).size() == count; }, 5000)
        || index >= buttons.size())
        return false;
    click ({ bounds->x + buttons[index].x, bounds->y + buttons[index].y });
    return true;
}

//==============================================================================
int runTool (const std::string& executable, const std::vector<std::string>& arguments, const juce::File& home,
             juce::String& standardError, int timeoutMs)
{
    const auto errors = home.getNonexistentChildFile ("tool-errors", ".txt");
    int code = -1;
    {
        ProgramProcess tool (executable, home, errors, {}, arguments);
        code = tool.waitForExit (timeoutMs);
    }
    standardError = errors.loadFileAsString();
    errors.deleteFile();
    return code;
}

Bytes bytesOf (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    const auto* p = static_cast<const std::uint8_t*> (data.getData());
    return Bytes (p, p + data.getSize());
}
} // namespace korva::test::e2e
