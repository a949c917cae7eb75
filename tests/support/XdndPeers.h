#pragma once

// The other side of a desktop drag and drop, for tests under Xvfb: a drop
// target window that takes "text/uri-list" drops and records them, and a drag
// source that drags files onto a window. Each speaks XDnD (versions 3 to 5,
// https://www.freedesktop.org/wiki/Specifications/XDND/) on an X connection
// and a thread of its own, as a file manager or any other program would, so
// the program under test may run in this process or in another one.
//
// With XTestPointer (real pointer and button events) they drive a program's
// drags end to end:
//
//     XdndDropTarget target ({ 900, 100, 200, 200 });
//     XTestPointer pointer;
//     pointer.moveTo (x, y); pointer.press();          // on the program's window
//     pointer.glideTo (1000, 200, 20);                  // out onto the target
//     pointer.release();
//     target.waitForDrops (1, 5000);                    // the URIs dropped
//
//     XdndDragSource source;                            // a file manager's drag
//     source.drag (XdndDragSource::dropWindowAt (x, y), x, y, { fileUri ("/tmp/a b.mid") });
//     source.waitUntilDone (5000);

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korva::test::x11
{
// A local file as a "file://" URI: every byte but the unreserved ones and "/"
// percent-encoded (UTF-8). Written apart from the program's own encoder.
std::string fileUri (const std::string& path);

// The local path of a "file://" URI (with an empty or "localhost" host), with
// its escapes decoded; nothing for any other URI or a broken escape.
std::optional<std::string> pathOfFileUri (const std::string& uri);

struct Bounds
{
    int x = 0, y = 0, width = 0, height = 0;
};

// A peer's connection and event thread; what the two peers share.
class XdndPeer
{
public:
    virtual ~XdndPeer();

    // The connection is open and the peer's window exists.
    bool isReady() const noexcept { return m_ready.load(); }
    unsigned long windowId() const noexcept { return m_window.load(); }

protected:
    XdndPeer() = default;
    // Opens the display and runs `setUp`, then the event loop, on the peer's thread.
    void start (std::function<bool (void* display)> setUp);
    // Stops the event loop and closes the display; the deriving class calls it first in its destructor.
    void stop();

    virtual void handleEvent (void* display, void* event) = 0;
    // Called about every 20 ms on the peer's thread.
    virtual void idle (void*) {}

    void notifyChanged();
    template <typename Predicate>
    bool waitFor (Predicate predicate, int timeoutMs) const
    {
        std::unique_lock<std::mutex> lock (m_mutex);
        return m_changed.wait_for (lock, std::chrono::milliseconds (timeoutMs), predicate);
    }

    mutable std::mutex m_mutex;
    std::atomic<unsigned long> m_window{0};

private:
    void run (std::function<bool (void* display)> setUp);

    mutable std::condition_variable m_changed;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_stop{false};
    int m_wakeFd = -1;
    std::thread m_thread;
};

// A mapped top-level window that accepts "text/uri-list" drops with the copy
// action and records the URIs of every drop.
class XdndDropTarget final : public XdndPeer
{
public:
    explicit XdndDropTarget (Bounds bounds, int waitForReadyMs = 5000);
    ~XdndDropTarget() override;

    // One list of URIs per completed drop, oldest first.
    std::vector<std::vector<std::string>> drops() const;
    // How many XdndPosition messages the target has answered.
    int positionsAnswered() const;
    // The action the source asked for in its last position message ("XdndActionCopy", ...).
    std::string lastRequestedAction() const;

    // Blocks without running any message loop.
    bool waitForDrops (std::size_t count, int timeoutMs) const;

private:
    void handleEvent (void* display, void* event) override;

    struct State
    {
        unsigned long source = 0;
        bool offersUris = false;
        int positions = 0;
        std::string requestedAction;
        std::vector<std::vector<std::string>> drops;
    } m_state;
};

// Drags URIs onto a window: enter, a position, then (once the target has
// answered) the drop, serving the data whenever the target asks for it.
class XdndDragSource final : public XdndPeer
{
public:
    explicit XdndDragSource (int waitForReadyMs = 5000);
    ~XdndDragSource() override;

    // The deepest window under a root position that takes XDnD drops, found
    // the way a drag source looks for it (0 when there is none).
    static unsigned long dropWindowAt (int rootX, int rootY);

    // Starts the drag and returns; the source goes on on its own thread.
    void drag (unsigned long target, int rootX, int rootY, std::vector<std::string> uris);

    struct Outcome
    {
        bool statusReceived = false; // the target answered the position
        bool accepted = false;       // ... and would take the drop
        bool dataSent = false;       // the target asked for the URIs and got them
        bool finished = false;       // the target reported the drop done (or the drag was left)
        std::string action;          // the action the target chose
    };
    Outcome outcome() const;
    bool isDone() const;
    // Blocks without running any message loop.
    bool waitUntilDone (int timeoutMs) const;

private:
    void handleEvent (void* display, void* event) override;
    void idle (void* display) override;

    struct Pending
    {
        unsigned long target = 0;
        int x = 0, y = 0;
        std::vector<std::string> uris;
    };
    std::optional<Pending> m_pending; // handed to the peer's thread
    Pending m_drag;                   // the peer's thread only
    bool m_dropSent = false;
    Outcome m_outcome;
};
} // namespace korva::test::x11
