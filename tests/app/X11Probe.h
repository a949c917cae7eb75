#pragma once

// Reads what the X server knows about the program's windows, the way a
// window manager would see them. Used by the tests that start the program.

#include <string>
#include <vector>

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
// Top-level windows (direct children of the root) that carry _NET_WM_PID.
std::vector<WindowInfo> windowsOfProcess (int pid);
bool sendDeleteWindow (unsigned long window);

constexpr long kMotifResize = 2, kMotifMove = 4, kMotifMinimise = 8, kMotifMaximise = 16, kMotifClose = 32;
} // namespace x11probe
