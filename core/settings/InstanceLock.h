#pragma once

#include <juce_core/juce_core.h>

namespace korva
{

// Keeps a second copy of the program from starting for the same user, and
// lets a second start ask the running copy to show its window.
//
// JUCE's own lock lives in /var/tmp under one fixed name for every user, so a
// lock file left by one user would keep every other user's program from
// starting. This lock is an advisory lock on a file in the user's own
// application-data folder; the system drops it when the process ends. The
// holder listens on a socket beside it (only its owner may connect), where a
// later start sends "show\n" and waits for "ok\n".
class InstanceLock
{
public:
    explicit InstanceLock (const juce::File& lockFile);
    ~InstanceLock();

    bool isHeld() const noexcept { return m_fd >= 0; }

    // Held: the listening socket, readable when a later start has asked
    // something (-1 when requests cannot be taken).
    int getRequestDescriptor() const noexcept { return m_listenFd; }
    // Held: answers the requests waiting; true when one asked for the window.
    bool takeRequests();

    // Not held: asks the holder to show its window and waits up to timeoutMs
    // for its answer. False (with the reason in `problem`) when it cannot.
    bool askHolderToShowWindow (int timeoutMs, juce::String& problem) const;

    static juce::File defaultLockFile();
    // The socket beside a lock file.
    static juce::File requestSocketFor (const juce::File& lockFile);

private:
    const juce::File m_lockFile;
    int m_fd = -1;
    int m_listenFd = -1;

    JUCE_DECLARE_NON_COPYABLE (InstanceLock)
};

} // namespace korva
