#pragma once

// A user's desktop for the end-to-end tests: KORVA Manager and the virtual
// KORVA (korva-sim) as the separate programs a user starts, each in a folder
// of the test's own; a user's pointer and keyboard (XTEST); what the program
// shows (its windows, its screen, the boxes it traced) and what reached the
// device (korva-sim's store on disk).

#include "tests/e2e/Screen.h"
#include "tests/gui/shell/X11Probe.h"
#include "tests/support/HidrawKorva.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XTestKeyboard.h"
#include "tests/support/XTestPointer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korva::test::e2e
{
using Bytes = std::vector<std::uint8_t>;

// Where one test's programs live, below a fresh temporary folder.
struct Places
{
    TempFolder root;
    juce::File home;                         // the user's home folder (root / homeName)
    juce::File devices = root / "devices";   // the folder of virtual devices
    juce::File store = root / "store";       // korva-sim's memory
    juce::File bin = root / "bin";           // put first on the program's PATH
    juce::File dataFolder = home.getChildFile ("MELDRA/KORVA"); // the default data folder

    // The desktop's folder chooser is zenity, which JUCE runs from the PATH.
    // A stand-in answers for the user: it records how it was asked (its
    // working folder, then its arguments, one per line) and answers with the
    // folder written by chooseNext, or as a cancelled chooser when there is none.
    juce::File chooserQuestion = bin.getChildFile ("chooser-asked.txt");
    juce::File chooserAnswer = bin.getChildFile ("chooser-answer.txt");

    // The desktop's launcher, xdg-open, which the program runs from the PATH
    // to open the manual and the data folder: a stand-in that records what it
    // was asked to open (one path per line) and ends with this status, as
    // xdg-open does (3: no program on this desktop opens that kind of file).
    juce::File opened = bin.getChildFile ("opened.txt");
    void launcherEndsWith (int status) const;

    explicit Places (const juce::String& homeName = "home");
    void chooseNext (const juce::File& folder) const; // a null file: the user cancels
    juce::StringArray lastChooserQuestion() const;    // working folder, then the arguments

    // Makes the user's folders (home, devices, bin) belong to another user,
    // who can reach them; for a program run as that user.
    bool handOver (uid_t user, gid_t group) const;
};

// The virtual KORVA, korva-sim, as a program: plugging it in starts it,
// unplugging ends it as Ctrl+C does (its device goes). The program reaches it
// through a socket in the folder of virtual devices, or through a hidraw node
// (korva-hidraw-emu; the test then runs in the emulation's namespace).
class VirtualKorva
{
public:
    enum class Transport
    {
        kSocket,
        kHidraw
    };

    explicit VirtualKorva (const Places& places, Transport transport = Transport::kSocket);
    ~VirtualKorva();

    // Starts korva-sim with the device switches given (--slow 250, --busy, ...)
    // and waits until its device is there.
    bool plugIn (const std::vector<std::string>& switches = {});
    // SIGTERM, and a clean exit.
    bool unplug();
    // SIGKILL: the device dies where it is (its socket or its node stays).
    void kill();
    // SIGSTOP and SIGCONT: a firmware that hangs, and goes on again.
    bool freeze();
    bool thaw();
    bool isPluggedIn() const { return m_process != nullptr || m_hidraw.isPluggedIn(); }

    // Through hidraw: the node's mode for the next plug-ins ("0600" as
    // without the udev rule, "0666" as with it), and the last node.
    void setNodeMode (std::string mode) { m_nodeMode = std::move (mode); }
    const std::string& node() const { return m_hidraw.node(); }

    // What korva-sim logged, over every run.
    juce::String log() const;
    int countInLog (const juce::String& text) const;

    // The store, read afresh from disk (korva-sim writes it file by file, each change whole).
    struct Project
    {
        std::string name;
        Bytes image;
    };
    std::map<int, Project> projects() const;
    std::optional<int> indexOf (const std::string& name) const;
    std::array<std::uint8_t, 20> patternInfo() const;
    Bytes currentPattern() const;

    // Makes the store hold exactly these projects (index, name, patterns),
    // the first being the one in use. Only while unplugged.
    struct Seed
    {
        int index;
        std::string name;
        int patterns;
    };
    bool seed (const std::vector<Seed>& projects);

private:
    const Places& m_places;
    const Transport m_transport;
    juce::File m_log;
    std::unique_ptr<ProgramProcess> m_process;
    HidrawKorva m_hidraw;
    std::string m_nodeMode;
};

// KORVA Manager as a user starts it: its own home, the virtual devices of the
// test, the chooser's stand-in first on its PATH, its trace in a file.
class KorvaManager
{
public:
    explicit KorvaManager (const Places& places);
    ~KorvaManager();

    // Starts the program and waits for its one window, mapped at its size.
    bool start (int timeoutMs = 30000);
    // The next start runs the program as this user (setpriv), with a copy of
    // the display's authority it may read. Places::handOver gives it the folders.
    void runAs (uid_t user, gid_t group);
    // The program's trace, which the tests read, is asked for with KORVA_TRACE=1
    // unless this says otherwise; the arguments go on its command line.
    void startWith (bool traceByEnvironment, std::vector<std::string> arguments);
    int pid() const { return m_process != nullptr ? m_process->pid() : -1; }
    ProgramProcess* process() const { return m_process.get(); }

    unsigned long window() const { return m_window; }
    // The window as it was when it was first seen on the screen (mapped) by
    // the last start, even if that start then timed out.
    const std::optional<x11probe::WindowInfo>& firstSeen() const { return m_firstSeen; }
    x11::Bounds bounds() const;
    // A point of the window's content on the screen.
    juce::Point<int> onScreen (juce::Point<int> inWindow) const;
    // What is on the screen where the window is.
    juce::Image screenshot() const;

    // Its other windows on the screen (message boxes, dialogs), newest last.
    std::vector<x11probe::WindowInfo> dialogs() const;
    std::optional<x11probe::WindowInfo> waitForDialog (const std::string& title, int timeoutMs = 10000) const;
    bool waitUntilNoDialog (int timeoutMs = 10000) const;

    // Its standard error, and the message boxes it traced ("<title> | <text>").
    juce::String trace() const;
    juce::StringArray messageBoxes() const;
    bool waitForMessageBox (const juce::String& titleAndText, int timeoutMs = 10000) const;

    // The close button (the window manager's delete request); the exit code.
    int close (int timeoutMs = 20000);
    // A report of sanitizers or leak checks in its trace, empty when there is none.
    juce::String problemsInTrace() const;

private:
    const Places& m_places;
    juce::File m_trace;
    std::unique_ptr<ProgramProcess> m_process;
    std::optional<std::pair<uid_t, gid_t>> m_user;
    bool m_traceByEnvironment = true;
    std::vector<std::string> m_arguments;
    unsigned long m_window = 0;
    std::optional<x11probe::WindowInfo> m_firstSeen;
    mutable x11::Bounds m_bounds;
};

// The user's hands.
class User
{
public:
    bool isAvailable() const { return m_pointer.isAvailable() && m_keyboard.isAvailable(); }

    void click (juce::Point<int> onScreen);
    void clickIn (const KorvaManager& program, juce::Point<int> inWindow) { click (program.onScreen (inWindow)); }
    // The right-hand button, for a menu.
    void rightClickIn (const KorvaManager& program, juce::Point<int> inWindow);
    // Clicks a point of a dialog window (its own coordinates).
    void clickIn (unsigned long window, juce::Point<int> inWindow);
    // Out of every window's way (hover highlights change what is drawn).
    void moveAway();
    // Small movements of the pointer (the button held or not), one after the
    // other, each followed by a look at the program, until `reacted` holds:
    // what a hand does while a program has yet to take notice.
    bool moveUntil (const std::function<bool()>& reacted, int timeoutMs = 5000);

    x11::XTestPointer& pointer() { return m_pointer; }
    x11::XTestKeyboard& keyboard() { return m_keyboard; }

    // Clicks the dialog's button number `index` (left to right) of `count`.
    bool pressDialogButton (unsigned long dialog, std::size_t index, std::size_t count);

private:
    x11::XTestPointer m_pointer;
    x11::XTestKeyboard m_keyboard;
};

// Runs a tool of ours (korva) to its end; the exit code, -1 on a time-out.
int runTool (const std::string& executable, const std::vector<std::string>& arguments, const juce::File& home,
             juce::String& standardError, int timeoutMs = 30000);

Bytes bytesOf (const juce::File& file);
} // namespace korva::test::e2e
