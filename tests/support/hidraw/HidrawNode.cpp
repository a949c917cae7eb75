#define FUSE_USE_VERSION 35

#include "tests/support/hidraw/HidrawNode.h"

#include "core/hidlink/VirtualDevice.h"

#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <linux/input.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korva::test::hidraw
{

namespace
{
constexpr fuse_ino_t kRoot = 1;
constexpr std::size_t kMaxReport = 16384; // HID_MAX_BUFFER_SIZE: the longest write hidraw takes
constexpr int kGreetingMs = 1000;

// `text` as the variable-length name ioctls give it: cut to the caller's
// buffer, terminated when it fits.
std::vector<char> terminated (const std::string& text, std::size_t capacity)
{
    std::vector<char> bytes (text.begin(), text.end());
    bytes.push_back ('\0');
    if (bytes.size() > capacity)
        bytes.resize (capacity);
    return bytes;
}
} // namespace

int connectToDevice (const std::string& socketPath, hidlink::virtualdevice::Hello& hello)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof (address.sun_path))
        return -1;
    std::memcpy (address.sun_path, socketPath.c_str(), socketPath.size() + 1);

    const int fd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) == 0)
    {
        pollfd entry{fd, POLLIN, 0};
        std::uint8_t buffer[hidlink::virtualdevice::kMaxHelloSize + 1];
        if (::poll (&entry, 1, kGreetingMs) == 1)
        {
            const auto n = ::recv (fd, buffer, sizeof (buffer), 0);
            if (n > 0 && hidlink::virtualdevice::decodeHello (buffer, static_cast<std::size_t> (n), hello))
            {
                // A device that stops reading must not hold the emulation's one thread.
                timeval limit{1, 0};
                ::setsockopt (fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof (limit));
                return fd;
            }
        }
    }
    ::close (fd);
    return -1;
}

//==============================================================================
HidrawNode::HidrawNode (NodeSettings settings)
    : m_settings (std::move (settings)), m_mode (m_settings.mode), m_owner (m_settings.owner),
      m_group (m_settings.group), m_buffer (std::make_unique<fuse_buf>())
{
    *m_buffer = {};
}

HidrawNode::~HidrawNode()
{
    for (auto& entry : m_files)
    {
        if (entry.second->poll != nullptr)
            fuse_pollhandle_destroy (entry.second->poll);
        ::close (entry.second->socket);
    }
    if (m_session != nullptr)
    {
        if (m_mounted)
            fuse_session_unmount (m_session);
        fuse_session_destroy (m_session);
    }
    std::free (m_buffer->mem);
}

void HidrawNode::log (const std::string& text) const
{
    if (m_settings.log)
        m_settings.log (text);
}

HidrawNode& HidrawNode::of (fuse_req* request)
{
    return *static_cast<HidrawNode*> (fuse_req_userdata (request));
}

const fuse_lowlevel_ops& HidrawNode::operations()
{
    static const fuse_lowlevel_ops ops = []
    {
        fuse_lowlevel_ops o{};
        o.getattr = [] (fuse_req_t r, fuse_ino_t, fuse_file_info*) { of (r).getattr (r); };
        o.setattr = [] (fuse_req_t r, fuse_ino_t, struct stat* a, int toSet, fuse_file_info*)
        { of (r).setattr (r, *a, toSet); };
        o.open = [] (fuse_req_t r, fuse_ino_t, fuse_file_info* fi) { of (r).open (r, fi); };
        o.release = [] (fuse_req_t r, fuse_ino_t, fuse_file_info* fi) { of (r).release (r, fi); };
        o.flush = [] (fuse_req_t r, fuse_ino_t, fuse_file_info*) { fuse_reply_err (r, 0); };
        o.read = [] (fuse_req_t r, fuse_ino_t, size_t size, off_t, fuse_file_info* fi) { of (r).read (r, size, fi); };
        o.write = [] (fuse_req_t r, fuse_ino_t, const char* data, size_t size, off_t, fuse_file_info* fi)
        { of (r).write (r, data, size, fi); };
        o.poll = [] (fuse_req_t r, fuse_ino_t, fuse_file_info* fi, fuse_pollhandle* ph) { of (r).poll (r, fi, ph); };
        o.ioctl = [] (fuse_req_t r, fuse_ino_t, unsigned int cmd, void*, fuse_file_info* fi, unsigned flags,
                      const void*, size_t, size_t outSize) { of (r).ioctl (r, cmd, fi, flags, outSize); };
        return o;
    }();
    return ops;
}

bool HidrawNode::mount (std::string& error)
{
    // Anyone may reach the node (the mode decides who may open it, as on a
    // real node), and the kernel checks that mode.
    std::vector<std::string> words{"korva-hidraw-emu", "-o",
                                   "allow_other,default_permissions,fsname=korva-hidraw,subtype=hidraw"};
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back (word.data());
    fuse_args args = FUSE_ARGS_INIT (static_cast<int> (argv.size()), argv.data());

    m_session = fuse_session_new (&args, &operations(), sizeof (fuse_lowlevel_ops), this);
    fuse_opt_free_args (&args);
    if (m_session == nullptr)
    {
        error = "cannot start a FUSE session";
        return false;
    }
    if (fuse_session_mount (m_session, m_settings.mountPoint.c_str()) != 0)
    {
        error = "cannot mount the node on " + m_settings.mountPoint;
        return false;
    }
    m_mounted = true;
    return true;
}

std::vector<int> HidrawNode::descriptors() const
{
    std::vector<int> fds;
    if (m_session != nullptr && ! m_sessionEnded)
        fds.push_back (fuse_session_fd (m_session));
    for (const auto& entry : m_files)
        if (! entry.second->reads.empty() || entry.second->poll != nullptr)
            fds.push_back (entry.second->socket);
    return fds;
}

void HidrawNode::onReady (int fd)
{
    if (m_session != nullptr && fd == fuse_session_fd (m_session))
    {
        const int result = fuse_session_receive_buf (m_session, m_buffer.get());
        if (result > 0)
            fuse_session_process_buf (m_session, m_buffer.get());
        else if (result != -EINTR && result != -EAGAIN)
            m_sessionEnded = true; // unmounted from outside: nothing more will come
        return;
    }

    for (auto& entry : m_files)
    {
        auto& file = *entry.second;
        if (file.socket != fd)
            continue;
        answerReads (file);
        wakePoller (file);
        return;
    }
}

void HidrawNode::unplug()
{
    if (! m_plugged)
        return;
    m_plugged = false;
    for (auto& entry : m_files)
    {
        answerReads (*entry.second);
        wakePoller (*entry.second);
    }
}

//==============================================================================
HidrawNode::OpenFile* HidrawNode::fileOf (const fuse_file_info* info)
{
    const auto found = m_files.find (info->fh);
    return found != m_files.end() ? found->second.get() : nullptr;
}

HidrawNode::Take HidrawNode::takeReport (OpenFile& file, std::vector<std::uint8_t>& report)
{
    report.resize (kMaxReport + 1);
    ssize_t n = 0;
    do
    {
        n = ::recv (file.socket, report.data(), report.size(), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);

    if (n > 0)
    {
        report.resize (static_cast<std::size_t> (n));
        return Take::kReport;
    }
    report.clear();
    if (n < 0 && errno == EAGAIN)
        return Take::kNothing;

    // The virtual KORVA closed its side: the device is gone. The owner
    // unplugs the node when it sees deviceEnded().
    if (! m_deviceEnded)
        log ("the virtual KORVA behind the node has gone");
    m_deviceEnded = true;
    return Take::kEnded;
}

void HidrawNode::answerReads (OpenFile& file)
{
    std::vector<std::uint8_t> report;
    while (! file.reads.empty())
    {
        const auto take = takeReport (file, report);
        if (take == Take::kNothing && ! isGone())
            return;

        const auto pending = file.reads.front();
        file.reads.erase (file.reads.begin());
        if (take == Take::kReport)
        {
            // The device numbers no reports: the reader gets the report
            // without its ID byte, cut to the size asked for.
            const std::size_t length = std::min (pending.size, report.size() > 0 ? report.size() - 1 : 0);
            fuse_reply_buf (pending.request, reinterpret_cast<const char*> (report.data() + 1), length);
        }
        else
        {
            fuse_reply_err (pending.request, EIO);
        }
    }
}

void HidrawNode::wakePoller (OpenFile& file)
{
    if (file.poll == nullptr)
        return;

    std::uint8_t byte = 0;
    const auto n = ::recv (file.socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0)
    {
        std::vector<std::uint8_t> ignored;
        takeReport (file, ignored); // notices the end
    }
    if (n < 0 && errno == EAGAIN && ! isGone())
        return;

    fuse_lowlevel_notify_poll (file.poll);
    fuse_pollhandle_destroy (file.poll);
    file.poll = nullptr;
}

//==============================================================================
void HidrawNode::getattr (fuse_req* request)
{
    struct stat attributes{};
    attributes.st_ino = kRoot;
    attributes.st_mode = S_IFREG | m_mode;
    attributes.st_nlink = 1;
    attributes.st_uid = m_owner;
    attributes.st_gid = m_group;
    fuse_reply_attr (request, &attributes, 0.0);
}

void HidrawNode::setattr (fuse_req* request, const struct stat& attributes, int toSet)
{
    // chmod and chown, as a udev rule applied later would do.
    if ((toSet & FUSE_SET_ATTR_MODE) != 0)
        m_mode = attributes.st_mode & 07777;
    if ((toSet & FUSE_SET_ATTR_UID) != 0)
        m_owner = attributes.st_uid;
    if ((toSet & FUSE_SET_ATTR_GID) != 0)
        m_group = attributes.st_gid;
    getattr (request);
}

void HidrawNode::open (fuse_req* request, fuse_file_info* info)
{
    if (isGone())
    {
        fuse_reply_err (request, ENODEV);
        return;
    }

    hidlink::virtualdevice::Hello hello;
    const int socket = connectToDevice (m_settings.socketPath, hello);
    if (socket < 0)
    {
        fuse_reply_err (request, ENODEV);
        return;
    }

    auto file = std::make_unique<OpenFile>();
    file->socket = socket;
    file->nonBlocking = (info->flags & O_NONBLOCK) != 0;
    const auto handle = m_nextHandle++;
    m_files[handle] = std::move (file);

    info->fh = handle;
    info->direct_io = 1;
    info->nonseekable = 1;
    info->keep_cache = 0;
    if (fuse_reply_open (request, info) != 0)
    {
        // The opener was interrupted meanwhile: there is no file.
        ::close (m_files[handle]->socket);
        m_files.erase (handle);
    }
}

void HidrawNode::release (fuse_req* request, fuse_file_info* info)
{
    const auto found = m_files.find (info->fh);
    if (found != m_files.end())
    {
        auto& file = *found->second;
        for (const auto& pending : file.reads)
            fuse_reply_err (pending.request, EBADF);
        if (file.poll != nullptr)
            fuse_pollhandle_destroy (file.poll);
        ::close (file.socket);
        m_files.erase (found);
    }
    fuse_reply_err (request, 0);
}

void HidrawNode::read (fuse_req* request, std::size_t size, fuse_file_info* info)
{
    auto* file = fileOf (info);
    if (file == nullptr)
    {
        fuse_reply_err (request, EBADF);
        return;
    }

    file->reads.push_back ({request, size});
    // Readers are answered in order; the first may be answered at once.
    if (file->reads.size() == 1)
        answerReads (*file);
    if (file->reads.empty() || file->reads.back().request != request)
        return;

    if (file->nonBlocking)
    {
        file->reads.pop_back();
        fuse_reply_err (request, EAGAIN);
        return;
    }
    // Blocks until a report comes; a signal to the reader ends the wait.
    fuse_req_interrupt_func (request, [] (fuse_req_t r, void* node) { static_cast<HidrawNode*> (node)->interrupted (r); },
                             this);
}

void HidrawNode::interrupted (fuse_req* request)
{
    for (auto& entry : m_files)
    {
        auto& reads = entry.second->reads;
        const auto found = std::find_if (reads.begin(), reads.end(),
                                         [request] (const PendingRead& pending) { return pending.request == request; });
        if (found != reads.end())
        {
            reads.erase (found);
            fuse_reply_err (request, EINTR);
            return;
        }
    }
}

void HidrawNode::write (fuse_req* request, const char* data, std::size_t size, fuse_file_info* info)
{
    auto* file = fileOf (info);
    if (file == nullptr)
    {
        fuse_reply_err (request, EBADF);
        return;
    }
    if (isGone())
    {
        fuse_reply_err (request, ENODEV);
        return;
    }
    if (size < 2 || size > kMaxReport)
    {
        fuse_reply_err (request, EINVAL);
        return;
    }

    ssize_t sent = 0;
    do
    {
        sent = ::send (file->socket, data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);

    if (sent >= 0)
    {
        fuse_reply_write (request, size);
        return;
    }
    if (errno == EAGAIN)
    {
        // The device did not take the report in time.
        fuse_reply_err (request, ETIMEDOUT);
        return;
    }
    std::vector<std::uint8_t> ignored;
    takeReport (*file, ignored); // a closed peer: the device has gone
    fuse_reply_err (request, ENODEV);
}

void HidrawNode::poll (fuse_req* request, fuse_file_info* info, fuse_pollhandle* handle)
{
    auto* file = fileOf (info);
    if (file == nullptr)
    {
        if (handle != nullptr)
            fuse_pollhandle_destroy (handle);
        fuse_reply_err (request, EBADF);
        return;
    }

    unsigned events = POLLOUT | POLLWRNORM; // hidraw is always writable
    std::uint8_t byte = 0;
    const auto n = ::recv (file->socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0)
        events |= POLLIN | POLLRDNORM;
    else if (n == 0)
    {
        std::vector<std::uint8_t> ignored;
        takeReport (*file, ignored);
    }
    if (isGone())
        events |= POLLERR | POLLHUP;

    if (handle != nullptr)
    {
        if (file->poll != nullptr)
            fuse_pollhandle_destroy (file->poll);
        file->poll = handle;
    }
    fuse_reply_poll (request, events);
}

void HidrawNode::ioctl (fuse_req* request, unsigned int command, fuse_file_info*, unsigned flags, std::size_t outSize)
{
    if ((flags & FUSE_IOCTL_COMPAT) != 0)
    {
        fuse_reply_err (request, ENOSYS);
        return;
    }
    if (isGone())
    {
        fuse_reply_err (request, ENODEV);
        return;
    }

    const auto& descriptor = m_settings.reportDescriptor;
    switch (command)
    {
        case HIDIOCGRDESCSIZE:
        {
            const int size = static_cast<int> (descriptor.size());
            fuse_reply_ioctl (request, 0, &size, sizeof (size));
            return;
        }
        case HIDIOCGRDESC:
        {
            // The kernel copies `size` bytes, as the caller asks; a restricted
            // FUSE ioctl passes nothing in, so the whole descriptor goes out
            // with its size.
            auto out = std::make_unique<hidraw_report_descriptor>();
            out->size = static_cast<__u32> (std::min<std::size_t> (descriptor.size(), HID_MAX_DESCRIPTOR_SIZE));
            std::memcpy (out->value, descriptor.data(), out->size);
            fuse_reply_ioctl (request, 0, out.get(), std::min (outSize, sizeof (hidraw_report_descriptor)));
            return;
        }
        case HIDIOCGRAWINFO:
        {
            hidraw_devinfo info{};
            info.bustype = BUS_USB;
            info.vendor = static_cast<__s16> (m_settings.vendorId);
            info.product = static_cast<__s16> (m_settings.productId);
            fuse_reply_ioctl (request, 0, &info, sizeof (info));
            return;
        }
        default: break;
    }

    // The name ioctls carry the caller's buffer length in the command.
    if (_IOC_TYPE (command) == 'H' && _IOC_DIR (command) == _IOC_READ
        && (_IOC_NR (command) == _IOC_NR (HIDIOCGRAWNAME (0)) || _IOC_NR (command) == _IOC_NR (HIDIOCGRAWPHYS (0))))
    {
        const auto& text = _IOC_NR (command) == _IOC_NR (HIDIOCGRAWNAME (0)) ? m_settings.name : m_settings.phys;
        const auto bytes = terminated (text, std::min<std::size_t> (_IOC_SIZE (command), outSize));
        fuse_reply_ioctl (request, static_cast<int> (bytes.size()), bytes.data(), bytes.size());
        return;
    }
    fuse_reply_err (request, ENOTTY);
}

} // namespace korva::test::hidraw
