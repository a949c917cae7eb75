#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

namespace korva
{

// Keeps a second copy of the program from starting for the same user, and
// lets a second start ask the running copy to show its window.
//
// JUCE's own lock lives in /var/tmp under one fixed name for every user, so a
// lock file left by one user would keep every other user's program from
// starting. This lock is a lock on a file in the user's own application-data
// folder, which the system drops when the process ends. The holder takes
// requests beside it, where a later start sends "show\n" and waits for
// "ok\n". Each system has its file:
//
// - Linux (InstanceLockLinux.cpp): flock on the file; the requests come
//   through a Unix-domain socket beside it, which only its owner may connect to.
// - Windows (InstanceLockWindows.cpp): LockFileEx on the file; the requests
//   come through a TCP socket on the loopback address (Wine has no Unix-domain
//   sockets), whose port the holder writes in a file beside the lock. The
//   file is in the user's own folder; anyone who reaches the port can at
//   most bring the window to the front.
class InstanceLock
{
public:
    explicit InstanceLock (const juce::File& lockFile);
    ~InstanceLock();

    bool isHeld() const noexcept;

    // Held, on Linux: the listening socket, for the event loop to watch;
    // readable when a later start has asked something. -1 when requests
    // cannot be taken, and always on Windows, whose sockets are no
    // descriptors (watchRequests works on both).
    int getRequestDescriptor() const noexcept;
    // Held: answers the requests waiting, without waiting for more; true
    // when one asked for the window.
    bool takeRequests();

    // Held: from now on, calls `show` on the message thread whenever a later
    // start asks for the window, until the lock goes. Not to be mixed with
    // watching getRequestDescriptor.
    void watchRequests (std::function<void()> show);

    // Not held: asks the holder to show its window and waits up to timeoutMs
    // for its answer. False (with the reason in `problem`) when it cannot.
    bool askHolderToShowWindow (int timeoutMs, juce::String& problem) const;

    static juce::File defaultLockFile();
    // Where a later start finds the holder, beside the lock file: the socket
    // itself (Linux), or the file that names the port (Windows).
    static juce::File requestSocketFor (const juce::File& lockFile);

private:
    static constexpr char kShowRequest[] = "show\n";
    static constexpr char kAnswer[] = "ok\n";

    struct Native; // the system's handles
    const juce::File m_lockFile;
    std::unique_ptr<Native> m_native;

    JUCE_DECLARE_NON_COPYABLE (InstanceLock)
};

} // namespace korva
