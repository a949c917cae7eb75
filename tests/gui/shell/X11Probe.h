#pragma once

// Reads what the X server knows about the program's windows, the way a
// window manager would see them. Used by the tests that start the program.

#include <string>
#include <vector>

namespace korva
{

namespace x11probe
{
struct WindowInfo
{
    unsigned long id = 0;
    int pid = -1;
    std::string title;
    int width = 0, height = 0;
    bool fixedSize = false;    // WM_NORMAL_HINTS minimum == maximum == size
    long motifFunctions = -1;  // _MOTIF_WM_HINTS functions, -1 when absent
    bool mapped = false;
};

bool displayAvailable();
// A bare X server has none of the atoms a window manager brings, and JUCE only
// sets the window properties whose atoms exist. Create them as a desktop has them.
void internWindowManagerAtoms();
// The process's top-level windows, those that carry its _NET_WM_PID: children
// of the root, or of the frames a window manager put around them.
std::vector<WindowInfo> windowsOfProcess (int pid);
// A window manager announces itself on the root (_NET_SUPPORTING_WM_CHECK).
bool windowManagerRunning();
bool sendDeleteWindow (unsigned long window);

// Another program's window over the given one, holding the keyboard focus,
// and an eye on the requests that window managers act upon: what a user sees
// when the program's window is lost behind others.
class CoveringWindow
{
public:
    explicit CoveringWindow (unsigned long covered);
    ~CoveringWindow();
    CoveringWindow (const CoveringWindow&) = delete;
    CoveringWindow& operator= (const CoveringWindow&) = delete;

    bool isValid() const { return m_window != 0; }
    // The covered window is above this one, among the root's children.
    bool coveredIsAbove() const;
    // The keyboard focus is in the covered window.
    bool coveredHasFocus() const;
    // A _NET_ACTIVE_WINDOW request for the covered window reached the root
    // (what a window manager raises and focuses a window upon).
    bool activationRequested();

private:
    bool focusIsIn (unsigned long window) const;

    void* m_display = nullptr; // Xlib's Display
    unsigned long m_covered = 0, m_window = 0, m_activeWindowAtom = 0;
    bool m_requested = false;
};

constexpr long kMotifResize = 2, kMotifMove = 4, kMotifMinimise = 8, kMotifMaximise = 16, kMotifClose = 32;
} // namespace x11probe

} // namespace korva
