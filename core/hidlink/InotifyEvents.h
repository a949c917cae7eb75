#pragma once

// Reads every event waiting on a non-blocking inotify descriptor and hands
// each to `onEvent`. An event is only read whole: one cut off at the end of a
// read is not passed on.

#include <sys/inotify.h>
#include <unistd.h>

namespace korva
{

namespace hidlink
{
template <typename OnEvent>
void readInotifyEvents (int fd, OnEvent&& onEvent)
{
    alignas (inotify_event) char buffer[4096];
    for (;;)
    {
        const auto n = ::read (fd, buffer, sizeof (buffer));
        if (n <= 0)
            return;
        for (ssize_t offset = 0; offset + static_cast<ssize_t> (sizeof (inotify_event)) <= n;)
        {
            const auto* event = reinterpret_cast<const inotify_event*> (buffer + offset);
            const auto size = static_cast<ssize_t> (sizeof (inotify_event) + event->len);
            if (offset + size > n)
                return;
            offset += size;
            onEvent (*event);
        }
    }
}
} // namespace hidlink

} // namespace korva
