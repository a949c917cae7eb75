#pragma once

// A backend whose devices are made up by the test: what enumeration finds,
// the hot-plug changes it reports (through a pipe, so the registry's thread
// really waits for them), and ports that are one end of a socketpair whose
// other end the test holds. Linux only (pipes, socketpairs, FdHidPort).

#include "core/hidlink/HidBackend.h"
#include "tests/core/hidlink/ScopedRegistry.h"

#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace korva
{

namespace test
{

inline hidlink::HidDeviceCaps fakeCaps (const std::string& name, std::uint16_t vendorId = hidlink::kKorvaVendorId,
                                        std::uint16_t productId = hidlink::kKorvaProductId)
{
    hidlink::HidDeviceCaps caps ("/fake/" + name);
    caps.vendorId = vendorId;
    caps.productId = productId;
    caps.versionNumber = 0x0100;
    caps.manufacturer = "MELDRA";
    caps.product = "KORVA";
    caps.inputReportLength = 65;
    caps.outputReportLength = 65;
    return caps;
}

class FakeBackend final : public hidlink::HidBackend
{
public:
    FakeBackend()
    {
        if (::pipe2 (m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            m_pipe[0] = m_pipe[1] = -1;
    }

    ~FakeBackend() override
    {
        for (auto& entry : m_peers)
            for (int fd : entry.second)
                ::close (fd);
        for (int fd : m_pipe)
            if (fd >= 0)
                ::close (fd);
    }

    std::vector<hidlink::HidDeviceCaps> present;
    bool prependReportId = false;

    void inject (bool arrived, const hidlink::HidDeviceCaps& caps)
    {
        {
            const std::lock_guard<std::mutex> lock (m_lock);
            m_pending.push_back ({arrived, caps});
        }
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write (m_pipe[1], &byte, 1);
    }

    // The test's ends of the ports opened on `path`, in opening order (the
    // reader's first, then the writer's).
    std::vector<int> peers (const std::string& path)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        return m_peers[path];
    }

    const char* getName() const override { return "fake"; }
    bool ownsPath (const std::string& path) const override { return path.rfind ("/fake/", 0) == 0; }
    std::vector<hidlink::HidDeviceCaps> enumerate() override { return present; }

    hidlink::HidDeviceCaps describe (const std::string& path) override
    {
        for (const auto& caps : present)
            if (caps.path == path)
                return caps;
        return hidlink::HidDeviceCaps (path);
    }

    // Opening `path` fails with `error` from now on (0: it succeeds again).
    void setOpenError (const std::string& path, int error)
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        m_openErrors[path] = error;
    }

    std::unique_ptr<hidlink::HidPort> openPort (const std::string& path, hidlink::HidPortUse, int& error) override
    {
        {
            const std::lock_guard<std::mutex> lock (m_lock);
            const auto found = m_openErrors.find (path);
            error = found != m_openErrors.end() ? found->second : 0;
        }
        if (error != 0)
            return nullptr;
        int fds[2];
        if (::socketpair (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
            return nullptr;
        {
            const std::lock_guard<std::mutex> lock (m_lock);
            m_peers[path].push_back (fds[1]);
        }
        return std::make_unique<hidlink::FdHidPort> (fds[0], prependReportId);
    }

    std::unique_ptr<hidlink::HidWatcher> createWatcher() override { return std::make_unique<Watcher> (*this); }

private:
    class Watcher final : public hidlink::HidWatcher
    {
    public:
        explicit Watcher (FakeBackend& owner) : m_owner (owner) {}
        hidlink::HidWaitable getWaitable() const override { return m_owner.m_pipe[0]; }
        int getTimeoutMs() const override { return -1; }

        void collect (bool, std::vector<hidlink::HidChange>& changes) override
        {
            char buffer[64];
            while (::read (m_owner.m_pipe[0], buffer, sizeof (buffer)) > 0)
            {
            }
            const std::lock_guard<std::mutex> lock (m_owner.m_lock);
            while (! m_owner.m_pending.empty())
            {
                changes.push_back (m_owner.m_pending.front());
                m_owner.m_pending.pop_front();
            }
        }

    private:
        FakeBackend& m_owner;
    };

    std::mutex m_lock;
    std::deque<hidlink::HidChange> m_pending;
    std::map<std::string, std::vector<int>> m_peers;
    std::map<std::string, int> m_openErrors;
    int m_pipe[2]{-1, -1};
};

} // namespace test

} // namespace korva
