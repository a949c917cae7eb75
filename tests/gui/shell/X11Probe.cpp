#include "tests/gui/shell/X11Probe.h"

#include "tests/support/TestSupport.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>

namespace korva
{

namespace x11probe
{
namespace
{
struct DisplayCloser
{
    void operator() (Display* d) const { XCloseDisplay (d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr openDisplay()
{
    return DisplayPtr (XOpenDisplay (nullptr));
}

bool readCardinals (Display* d, Window w, const char* name, Atom type, std::vector<long>& out)
{
    const Atom atom = XInternAtom (d, name, True);
    if (atom == None)
        return false;
    Atom actualType;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty (d, w, atom, 0, 64, False, type, &actualType, &format, &count, &after, &data) != Success
        || data == nullptr)
        return false;
    const auto* values = reinterpret_cast<const long*> (data);
    out.assign (values, values + count);
    XFree (data);
    return format == 32 && count > 0;
}

std::string readTitle (Display* d, Window w)
{
    const Atom netName = XInternAtom (d, "_NET_WM_NAME", True);
    const Atom utf8 = XInternAtom (d, "UTF8_STRING", True);
    if (netName != None && utf8 != None)
    {
        Atom actualType;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty (d, w, netName, 0, 1024, False, utf8, &actualType, &format, &count, &after, &data)
                == Success
            && data != nullptr)
        {
            std::string title (reinterpret_cast<char*> (data), count);
            XFree (data);
            return title;
        }
    }
    XTextProperty property;
    std::string title;
    if (XGetWMName (d, w, &property) && property.value != nullptr)
    {
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList (d, &property, &list, &count) >= Success && count > 0 && list != nullptr)
            title = list[0];
        if (list != nullptr)
            XFreeStringList (list);
        XFree (property.value);
    }
    return title;
}
} // namespace

bool displayAvailable()
{
    return openDisplay() != nullptr;
}

void internWindowManagerAtoms()
{
    auto display = openDisplay();
    if (display == nullptr)
        return;
    for (const char* name : { "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "WM_STATE", "WM_CHANGE_STATE",
                              "_NET_WM_PING", "_NET_WM_NAME", "_NET_WM_PID", "UTF8_STRING", "_NET_WM_ICON",
                              "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_SKIP_TASKBAR",
                              "_NET_WM_STATE_ABOVE", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
                              "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_CLOSE",
                              "_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_FULLSCREEN", "_MOTIF_WM_HINTS",
                              "_NET_FRAME_EXTENTS", "_NET_WORKAREA", "_NET_ACTIVE_WINDOW", "XdndAware",
                              "XdndEnter", "XdndLeave", "XdndPosition", "XdndStatus", "XdndDrop", "XdndFinished",
                              "XdndSelection", "XdndActionCopy", "XdndActionMove", "XdndTypeList", "text/uri-list" })
        XInternAtom (display.get(), name, False);
    XSync (display.get(), False);
}

namespace
{
// The program's windows as a window manager sees them: children of the root
// on a bare server, inside the frames a reparenting window manager puts
// around them otherwise. Depth-first, bottom to top of the stack.
void collectClients (Display* d, Window parent, int depth, int pid, std::vector<WindowInfo>& result)
{
    Window root, above, *children = nullptr;
    unsigned int count = 0;
    if (depth > 3 || ! XQueryTree (d, parent, &root, &above, &children, &count))
        return;

    for (unsigned int i = 0; i < count; ++i)
    {
        const Window w = children[i];
        std::vector<long> pids;
        if (! readCardinals (d, w, "_NET_WM_PID", XA_CARDINAL, pids))
        {
            collectClients (d, w, depth + 1, pid, result);
            continue;
        }
        if (pids[0] != pid)
            continue;

        WindowInfo info;
        info.id = w;
        info.pid = (int) pids[0];
        info.title = readTitle (d, w);

        XWindowAttributes attributes;
        if (XGetWindowAttributes (d, w, &attributes))
        {
            info.width = attributes.width;
            info.height = attributes.height;
            info.mapped = attributes.map_state == IsViewable;
        }

        XSizeHints hints;
        long supplied = 0;
        if (XGetWMNormalHints (d, w, &hints, &supplied) && (hints.flags & PMinSize) && (hints.flags & PMaxSize))
            info.fixedSize = hints.min_width == hints.max_width && hints.min_height == hints.max_height
                             && hints.min_width == info.width && hints.min_height == info.height;

        const Atom motif = XInternAtom (d, "_MOTIF_WM_HINTS", True);
        std::vector<long> motifHints;
        if (motif != None && readCardinals (d, w, "_MOTIF_WM_HINTS", motif, motifHints) && motifHints.size() >= 2)
            info.motifFunctions = motifHints[1];

        result.push_back (info);
    }
    if (children != nullptr)
        XFree (children);
}

// The child of the root that holds the window: the window itself on a bare
// server, its frame under a reparenting window manager.
Window topLevelOf (Display* d, Window w)
{
    const Window rootWindow = DefaultRootWindow (d);
    while (w != 0 && w != rootWindow)
    {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (! XQueryTree (d, w, &root, &parent, &children, &count))
            return 0;
        if (children != nullptr)
            XFree (children);
        if (parent == rootWindow)
            return w;
        w = parent;
    }
    return 0;
}
} // namespace

std::vector<WindowInfo> windowsOfProcess (int pid)
{
    std::vector<WindowInfo> result;
    auto display = openDisplay();
    if (display != nullptr)
        collectClients (display.get(), DefaultRootWindow (display.get()), 0, pid, result);
    return result;
}

bool windowManagerRunning()
{
    auto display = openDisplay();
    if (display == nullptr)
        return false;
    std::vector<long> supporting;
    return readCardinals (display.get(), DefaultRootWindow (display.get()), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW,
                          supporting);
}

bool sendDeleteWindow (unsigned long window)
{
    auto display = openDisplay();
    if (display == nullptr)
        return false;
    Display* d = display.get();

    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom (d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long) XInternAtom (d, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent (d, window, False, NoEventMask, &event) != 0;
    XFlush (d);
    return sent;
}
//==============================================================================
CoveringWindow::CoveringWindow (unsigned long covered) : m_covered (covered)
{
    auto* d = XOpenDisplay (nullptr);
    m_display = d;
    if (d == nullptr)
        return;
    const Window root = DefaultRootWindow (d);
    m_activeWindowAtom = XInternAtom (d, "_NET_ACTIVE_WINDOW", False);
    // Requests to the window manager are sent to the root for whoever
    // selects its substructure.
    XSelectInput (d, root, SubstructureNotifyMask);

    // A window that has just appeared takes the keyboard (the program itself,
    // or the window manager for it), perhaps a little later: that is over
    // before the other window comes.
    korva::test::waitUntil ([&] { return focusIsIn (covered); }, 3000);

    XWindowAttributes attributes;
    Window child = 0;
    int x = 0, y = 0;
    if (! XGetWindowAttributes (d, covered, &attributes)
        || ! XTranslateCoordinates (d, covered, root, 0, 0, &x, &y, &child))
        return;
    m_window = XCreateSimpleWindow (d, root, x, y, (unsigned) attributes.width, (unsigned) attributes.height, 0, 0,
                                    WhitePixel (d, DefaultScreen (d)));
    // Exactly over the covered window, where a window manager would otherwise place it itself.
    XSizeHints hints {};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = attributes.width;
    hints.height = attributes.height;
    XSetWMNormalHints (d, m_window, &hints);
    XSelectInput (d, m_window, ExposureMask);
    XMapRaised (d, m_window);
    XEvent event;
    XWindowEvent (d, m_window, ExposureMask, &event); // mapped and shown
    // As a user clicks into it: until it is on top with the keyboard (a
    // window manager may have put it below the window that had the keyboard,
    // or still be busy with the window it has just managed).
    korva::test::waitUntil (
        [&] {
            XRaiseWindow (d, m_window);
            XSetInputFocus (d, m_window, RevertToParent, CurrentTime);
            XSync (d, False);
            return focusIsIn (m_window) && ! coveredIsAbove();
        },
        3000);
}

CoveringWindow::~CoveringWindow()
{
    auto* d = static_cast<Display*> (m_display);
    if (d == nullptr)
        return;
    if (m_window != 0)
        XDestroyWindow (d, m_window);
    XCloseDisplay (d);
}

bool CoveringWindow::coveredIsAbove() const
{
    auto* d = static_cast<Display*> (m_display);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (d == nullptr || ! XQueryTree (d, DefaultRootWindow (d), &root, &parent, &children, &count))
        return false;
    const Window covered = topLevelOf (d, m_covered), cover = topLevelOf (d, m_window);
    int coveredAt = -1, coverAt = -1;
    for (unsigned int i = 0; i < count; ++i)
    {
        if (children[i] == covered)
            coveredAt = (int) i;
        if (children[i] == cover)
            coverAt = (int) i;
    }
    if (children != nullptr)
        XFree (children);
    return coveredAt > coverAt && coverAt >= 0; // bottom to top
}

bool CoveringWindow::coveredHasFocus() const
{
    return focusIsIn (m_covered);
}

bool CoveringWindow::focusIsIn (unsigned long window) const
{
    auto* d = static_cast<Display*> (m_display);
    if (d == nullptr)
        return false;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus (d, &focus, &revert);
    for (Window w = focus; w != 0 && w != DefaultRootWindow (d);)
    {
        if (w == window)
            return true;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (! XQueryTree (d, w, &root, &parent, &children, &count))
            return false;
        if (children != nullptr)
            XFree (children);
        w = parent;
    }
    return false;
}

bool CoveringWindow::activationRequested()
{
    auto* d = static_cast<Display*> (m_display);
    if (d == nullptr)
        return false;
    while (XPending (d) > 0)
    {
        XEvent event;
        XNextEvent (d, &event);
        if (event.type == ClientMessage && event.xclient.message_type == m_activeWindowAtom
            && event.xclient.window == m_covered)
            m_requested = true;
    }
    return m_requested;
}

} // namespace x11probe

} // namespace korva
