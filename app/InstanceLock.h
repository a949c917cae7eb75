#pragma once

#include <juce_core/juce_core.h>

// Keeps a second copy of the program from starting for the same user.
// JUCE's own lock lives in /var/tmp under one fixed name for every user, so a
// lock file left by one user would keep every other user's program from
// starting. This lock is an advisory lock on a file in the user's own
// application-data folder; the system drops it when the process ends.
class InstanceLock
{
public:
    explicit InstanceLock (const juce::File& lockFile);
    ~InstanceLock();

    bool isHeld() const noexcept { return m_fd >= 0; }

    static juce::File defaultLockFile();

private:
    int m_fd = -1;

    JUCE_DECLARE_NON_COPYABLE (InstanceLock)
};
