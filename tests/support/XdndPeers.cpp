#include "tests/support/XdndPeers.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace korva::test::x11
{
namespace
{
constexpr long kXdndVersion = 5;

Atom atom (Display* d, const char* name)
{
    return XInternAtom (d, name, False);
}

Display* display (void* p)
{
    return static_cast<Display*> (p);
}

std::string atomName (Display* d, Atom a)
{
    if (a == None)
        return {};
    char* name = XGetAtomName (d, a);
    std::string text = name != nullptr ? name : "";
    if (name != nullptr)
        XFree (name);
    return text;
}

// The whole of a window property (all formats read as bytes of their items).
bool readProperty (Display* d, Window w, Atom property, std::vector<unsigned char>& bytes, Atom& type, int& format)
{
    bytes.clear();
    long offset = 0;
    for (;;)
    {
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty (d, w, property, offset, 65536, False, AnyPropertyType, &type, &format, &count, &after,
                                &data) != Success ||
            type == None)
        {
            if (data != nullptr)
                XFree (data);
            return false;
        }
        const std::size_t itemSize = format == 8 ? 1 : format == 16 ? sizeof (short) : sizeof (long);
        bytes.insert (bytes.end(), data, data + count * itemSize);
        XFree (data);
        offset += (long)(count * itemSize / 4);
        if (after == 0)
            return true;
    }
}

void sendClientMessage (Display* d, Window to, Atom type, long l0, long l1, long l2, long l3, long l4)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = d;
    event.xclient.window = to;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent (d, to, False, NoEventMask, &event);
    XFlush (d);
}

// The XDnD version a window announces, or -1.
long xdndVersionOf (Display* d, Window w)
{
    std::vector<unsigned char> bytes;
    Atom type = None;
    int format = 0;
    if (!readProperty (d, w, atom (d, "XdndAware"), bytes, type, format) || format != 32 ||
        bytes.size() < sizeof (long))
        return -1;
    long version = 0;
    std::memcpy (&version, bytes.data(), sizeof (long));
    return version;
}

std::vector<std::string> uriLines (const std::vector<unsigned char>& bytes)
{
    std::vector<std::string> lines;
    std::string line;
    const auto flush = [&]
    {
        if (!line.empty() && line[0] != '#')
            lines.push_back (line);
        line.clear();
    };
    for (const unsigned char c : bytes)
    {
        if (c == '\r' || c == '\n' || c == 0)
            flush();
        else
            line += (char)c;
    }
    flush();
    return lines;
}

int hexValue (char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

//==============================================================================
std::string fileUri (const std::string& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const unsigned char c : path)
    {
        if (std::isalnum (c) != 0 && c < 0x80)
            uri += (char)c;
        else if (c == '-' || c == '.' || c == '_' || c == '~' || c == '/')
            uri += (char)c;
        else
            uri += {'%', kHex[c >> 4], kHex[c & 15]};
    }
    return uri;
}

std::optional<std::string> pathOfFileUri (const std::string& uri)
{
    const std::string scheme = "file://";
    if (uri.compare (0, scheme.size(), scheme) != 0)
        return std::nullopt;
    auto rest = uri.substr (scheme.size());
    if (rest.compare (0, 9, "localhost") == 0)
        rest = rest.substr (9);
    if (rest.empty() || rest[0] != '/')
        return std::nullopt;

    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i)
    {
        if (rest[i] != '%')
        {
            path += rest[i];
            continue;
        }
        if (i + 2 >= rest.size() || hexValue (rest[i + 1]) < 0 || hexValue (rest[i + 2]) < 0)
            return std::nullopt;
        path += (char)(hexValue (rest[i + 1]) * 16 + hexValue (rest[i + 2]));
        i += 2;
    }
    return path;
}

//==============================================================================
XdndPeer::~XdndPeer()
{
    stop();
}

void XdndPeer::start (std::function<bool (void*)> setUp)
{
    m_wakeFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread ([this, setUp] { run (setUp); });
}

void XdndPeer::stop()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    const uint64_t one = 1;
    if (::write (m_wakeFd, &one, sizeof (one)) < 0)
    {
        // The loop looks at the flag every 20 ms anyway.
    }
    m_thread.join();
    ::close (m_wakeFd);
    m_wakeFd = -1;
}

void XdndPeer::notifyChanged()
{
    // Taking the lock orders this after a waiter's look at its condition.
    {
        const std::lock_guard<std::mutex> lock (m_mutex);
    }
    m_changed.notify_all();
}

void XdndPeer::run (std::function<bool (void*)> setUp)
{
    Display* d = XOpenDisplay (nullptr);
    if (d == nullptr)
        return;

    if (setUp (d))
    {
        m_ready = true;
        notifyChanged();

        pollfd fds[2] = {{ConnectionNumber (d), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        while (!m_stop)
        {
            while (XPending (d) > 0)
            {
                XEvent event;
                XNextEvent (d, &event);
                handleEvent (d, &event);
            }
            idle (d);
            ::poll (fds, 2, 20);
        }
    }

    if (const auto w = m_window.exchange (0))
        XDestroyWindow (d, w);
    XCloseDisplay (d);
    m_ready = false;
}

//==============================================================================
XdndDropTarget::XdndDropTarget (Bounds bounds, int waitForReadyMs)
{
    start (
        [this, bounds] (void* p)
        {
            auto* d = display (p);
            const Window w = XCreateSimpleWindow (d, DefaultRootWindow (d), bounds.x, bounds.y, (unsigned)bounds.width,
                                                  (unsigned)bounds.height, 0, 0, WhitePixel (d, DefaultScreen (d)));
            XStoreName (d, w, "XDnD drop target");
            // Where the user put it: a window manager keeps a position the
            // user chose (USPosition) instead of placing the window itself.
            XSizeHints hints {};
            hints.flags = USPosition | USSize;
            hints.x = bounds.x;
            hints.y = bounds.y;
            hints.width = bounds.width;
            hints.height = bounds.height;
            XSetWMNormalHints (d, w, &hints);
            const long version = kXdndVersion;
            XChangeProperty (d, w, atom (d, "XdndAware"), XA_ATOM, 32, PropModeReplace,
                             reinterpret_cast<const unsigned char*> (&version), 1);
            XSelectInput (d, w, StructureNotifyMask);
            XMapWindow (d, w);

            // Placed where asked, even without a window manager.
            XEvent event;
            XWindowEvent (d, w, StructureNotifyMask, &event);
            while (event.type != MapNotify)
                XWindowEvent (d, w, StructureNotifyMask, &event);
            XSync (d, False);
            m_window = w;
            return true;
        });
    waitFor ([this] { return isReady(); }, waitForReadyMs);
}

XdndDropTarget::~XdndDropTarget()
{
    stop();
}

std::vector<std::vector<std::string>> XdndDropTarget::drops() const
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    return m_state.drops;
}

int XdndDropTarget::positionsAnswered() const
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    return m_state.positions;
}

std::string XdndDropTarget::lastRequestedAction() const
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    return m_state.requestedAction;
}

bool XdndDropTarget::waitForDrops (std::size_t count, int timeoutMs) const
{
    return waitFor ([&] { return m_state.drops.size() >= count; }, timeoutMs);
}

void XdndDropTarget::handleEvent (void* p, void* e)
{
    auto* d = display (p);
    auto& event = *static_cast<XEvent*> (e);
    const Window self = windowId();
    const Atom uriList = atom (d, "text/uri-list");
    const Atom copy = atom (d, "XdndActionCopy");

    if (event.type == ClientMessage)
    {
        const auto& message = event.xclient;
        const auto type = message.message_type;
        const auto source = (Window)message.data.l[0];

        if (type == atom (d, "XdndEnter"))
        {
            std::vector<Atom> offered;
            if ((message.data.l[1] & 1) != 0)
            {
                std::vector<unsigned char> bytes;
                Atom actual = None;
                int format = 0;
                if (readProperty (d, source, atom (d, "XdndTypeList"), bytes, actual, format) && format == 32)
                    for (std::size_t i = 0; i + sizeof (long) <= bytes.size(); i += sizeof (long))
                    {
                        long value = 0;
                        std::memcpy (&value, bytes.data() + i, sizeof (long));
                        offered.push_back ((Atom)value);
                    }
            }
            else
            {
                for (int i = 2; i < 5; ++i)
                    offered.push_back ((Atom)message.data.l[i]);
            }
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_state.source = source;
            m_state.offersUris = std::find (offered.begin(), offered.end(), uriList) != offered.end();
        }
        else if (type == atom (d, "XdndPosition"))
        {
            bool accept = false;
            {
                const std::lock_guard<std::mutex> lock (m_mutex);
                accept = m_state.offersUris && m_state.source == source;
                ++m_state.positions;
                m_state.requestedAction = atomName (d, (Atom)message.data.l[4]);
            }
            // Bit 1: send positions even inside this window.
            sendClientMessage (d, source, atom (d, "XdndStatus"), (long)self, (accept ? 1 : 0) | 2, 0, 0,
                               accept ? (long)copy : (long)None);
            notifyChanged();
        }
        else if (type == atom (d, "XdndLeave"))
        {
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_state.source = 0;
            m_state.offersUris = false;
        }
        else if (type == atom (d, "XdndDrop"))
        {
            bool accept = false;
            {
                const std::lock_guard<std::mutex> lock (m_mutex);
                accept = m_state.offersUris && m_state.source == source;
            }
            if (accept)
                XConvertSelection (d, atom (d, "XdndSelection"), uriList, atom (d, "XDND_TEST_DATA"), self,
                                   (Time)message.data.l[2]);
            else
                sendClientMessage (d, source, atom (d, "XdndFinished"), (long)self, 0, (long)None, 0, 0);
            XFlush (d);
        }
    }
    else if (event.type == SelectionNotify && event.xselection.requestor == self)
    {
        std::vector<unsigned char> bytes;
        Atom type = None;
        int format = 0;
        const bool received =
            event.xselection.property != None && readProperty (d, self, event.xselection.property, bytes, type, format);
        if (event.xselection.property != None)
            XDeleteProperty (d, self, event.xselection.property);

        Window source = 0;
        {
            const std::lock_guard<std::mutex> lock (m_mutex);
            source = m_state.source;
            if (received)
                m_state.drops.push_back (uriLines (bytes));
            m_state.source = 0;
            m_state.offersUris = false;
        }
        if (source != 0)
            sendClientMessage (d, source, atom (d, "XdndFinished"), (long)self, received ? 1 : 0,
                               received ? (long)copy : (long)None, 0, 0);
        notifyChanged();
    }
}

//==============================================================================
XdndDragSource::XdndDragSource (int waitForReadyMs)
{
    start (
        [this] (void* p)
        {
            auto* d = display (p);
            // Never mapped: it only owns the selection and receives the answers.
            const Window w = XCreateSimpleWindow (d, DefaultRootWindow (d), -10, -10, 1, 1, 0, 0, 0);
            XSync (d, False);
            m_window = w;
            return true;
        });
    waitFor ([this] { return isReady(); }, waitForReadyMs);
}

XdndDragSource::~XdndDragSource()
{
    stop();
}

unsigned long XdndDragSource::dropWindowAt (int rootX, int rootY)
{
    Display* d = XOpenDisplay (nullptr);
    if (d == nullptr)
        return 0;

    // Down from the root through the windows under the point, as sources do.
    Window window = DefaultRootWindow (d), found = 0;
    for (int depth = 0; window != None && depth < 32; ++depth)
    {
        if (xdndVersionOf (d, window) >= 3)
        {
            found = window;
            break;
        }
        int x = 0, y = 0;
        Window child = None;
        if (!XTranslateCoordinates (d, DefaultRootWindow (d), window, rootX, rootY, &x, &y, &child))
            break;
        window = child;
    }
    XCloseDisplay (d);
    return found;
}

void XdndDragSource::drag (unsigned long target, int rootX, int rootY, std::vector<std::string> uris)
{
    {
        const std::lock_guard<std::mutex> lock (m_mutex);
        m_pending = Pending{target, rootX, rootY, std::move (uris)};
        m_outcome = {};
    }
    notifyChanged();
}

XdndDragSource::Outcome XdndDragSource::outcome() const
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    return m_outcome;
}

bool XdndDragSource::isDone() const
{
    return outcome().finished;
}

bool XdndDragSource::waitUntilDone (int timeoutMs) const
{
    return waitFor ([this] { return m_outcome.finished; }, timeoutMs);
}

void XdndDragSource::idle (void* p)
{
    std::optional<Pending> pending;
    {
        const std::lock_guard<std::mutex> lock (m_mutex);
        pending.swap (m_pending);
    }
    if (!pending)
        return;

    auto* d = display (p);
    const Window self = windowId();
    m_drag = std::move (*pending);
    m_dropSent = false;

    const long version = std::min (xdndVersionOf (d, m_drag.target), kXdndVersion);
    if (version < 3)
    {
        {
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_outcome.finished = true; // nobody to drop onto
        }
        notifyChanged();
        return;
    }

    const Atom uriList = atom (d, "text/uri-list");
    XChangeProperty (d, self, atom (d, "XdndTypeList"), XA_ATOM, 32, PropModeReplace,
                     reinterpret_cast<const unsigned char*> (&uriList), 1);
    XSetSelectionOwner (d, atom (d, "XdndSelection"), self, CurrentTime);
    sendClientMessage (d, m_drag.target, atom (d, "XdndEnter"), (long)self, version << 24, (long)uriList, 0, 0);
    sendClientMessage (d, m_drag.target, atom (d, "XdndPosition"), (long)self, 0, (m_drag.x << 16) | m_drag.y,
                       CurrentTime, (long)atom (d, "XdndActionCopy"));
}

void XdndDragSource::handleEvent (void* p, void* e)
{
    auto* d = display (p);
    auto& event = *static_cast<XEvent*> (e);
    const Window self = windowId();

    if (event.type == SelectionRequest)
    {
        // The target asks for the data: the URIs, one a line.
        const auto& request = event.xselectionrequest;
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = d;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.time = request.time;
        reply.xselection.property = None;

        if (request.target == atom (d, "text/uri-list") && request.property != None)
        {
            std::string text;
            for (const auto& uri : m_drag.uris)
                text += uri + "\r\n";
            XChangeProperty (d, request.requestor, request.property, request.target, 8, PropModeReplace,
                             reinterpret_cast<const unsigned char*> (text.data()), (int)text.size());
            reply.xselection.property = request.property;
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_outcome.dataSent = true;
        }
        XSendEvent (d, request.requestor, False, NoEventMask, &reply);
        XFlush (d);
        notifyChanged();
        return;
    }

    if (event.type != ClientMessage)
        return;

    const auto& message = event.xclient;
    if (message.message_type == atom (d, "XdndStatus") && !m_dropSent)
    {
        const bool accepted = (message.data.l[1] & 1) != 0;
        {
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_outcome.statusReceived = true;
            m_outcome.accepted = accepted;
            m_outcome.action = atomName (d, (Atom)message.data.l[4]);
            if (!accepted)
                m_outcome.finished = true;
        }
        m_dropSent = true;
        if (accepted)
            sendClientMessage (d, m_drag.target, atom (d, "XdndDrop"), (long)self, 0, CurrentTime, 0, 0);
        else
            sendClientMessage (d, m_drag.target, atom (d, "XdndLeave"), (long)self, 0, 0, 0, 0);
        notifyChanged();
    }
    else if (message.message_type == atom (d, "XdndFinished"))
    {
        {
            const std::lock_guard<std::mutex> lock (m_mutex);
            m_outcome.finished = true;
        }
        notifyChanged();
    }
}
} // namespace korva::test::x11
