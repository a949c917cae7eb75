#pragma once

// A hidraw device node served through FUSE. Every open of the node is a
// connection to the virtual KORVA's socket, and the node behaves as the
// kernel's hidraw driver does for a device without numbered reports:
// - write: one output report per call, report-ID byte first (65 bytes);
// - read: one input report per call, without the report-ID byte (64 bytes),
//   waiting for one unless the file was opened O_NONBLOCK;
// - poll: always writable, readable while a report waits;
// - ioctl: the report descriptor, its size, the raw info, name and phys;
// - after an unplug: queued reports are still read, then reads fail with
//   EIO, writes and ioctls with ENODEV, poll reports POLLERR | POLLHUP, and
//   the node cannot be opened again.
// Files are opened with direct I/O, so that one read or write of the program
// is one request here.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct fuse_session;
struct fuse_pollhandle;
struct fuse_req;
struct fuse_buf;
struct fuse_file_info;
struct fuse_lowlevel_ops;
struct stat;

namespace hidlink::virtualdevice
{
struct Hello;
}

namespace korva::test::hidraw
{

// Connects to a virtual KORVA's socket and reads its hello: the connected
// descriptor, or -1.
int connectToDevice (const std::string& socketPath, hidlink::virtualdevice::Hello& hello);

struct NodeSettings
{
    std::string mountPoint; // a regular file; the node is mounted over it
    std::string socketPath; // the virtual KORVA that answers
    mode_t mode = 0600;     // as devtmpfs makes a hidraw node when no udev rule says otherwise
    uid_t owner = 0;
    gid_t group = 0;

    std::vector<std::uint8_t> reportDescriptor;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string name; // HIDIOCGRAWNAME
    std::string phys; // HIDIOCGRAWPHYS

    std::function<void (const std::string&)> log;
};

class HidrawNode
{
public:
    explicit HidrawNode (NodeSettings settings);
    ~HidrawNode(); // unmounts

    bool mount (std::string& error);

    // The descriptors to wait on: the FUSE connection first, then the sockets
    // of the open files that wait for a report.
    std::vector<int> descriptors() const;
    // Called with a descriptor from descriptors() that became ready.
    void onReady (int fd);

    // The device goes: I/O fails from now on, waiting readers and pollers
    // are woken.
    void unplug();
    // Unplugged, or its korva-sim gone (the owner then unplugs it).
    bool isGone() const noexcept { return ! m_plugged || m_deviceEnded; }
    // True once the korva-sim behind the node has closed a connection: the
    // device is gone.
    bool deviceEnded() const noexcept { return m_deviceEnded; }

    int openFileCount() const noexcept { return static_cast<int> (m_files.size()); }
    // The node was unmounted from outside.
    bool sessionEnded() const noexcept { return m_sessionEnded; }

private:
    struct PendingRead
    {
        fuse_req* request;
        std::size_t size;
    };

    struct OpenFile
    {
        int socket = -1;
        bool nonBlocking = false;
        std::vector<PendingRead> reads;
        fuse_pollhandle* poll = nullptr;
    };

    enum class Take
    {
        kReport,
        kNothing,
        kEnded
    };

    static const fuse_lowlevel_ops& operations();
    static HidrawNode& of (fuse_req* request);

    void getattr (fuse_req* request);
    void setattr (fuse_req* request, const struct ::stat& attributes, int toSet);
    void open (fuse_req* request, fuse_file_info* info);
    void release (fuse_req* request, fuse_file_info* info);
    void read (fuse_req* request, std::size_t size, fuse_file_info* info);
    void write (fuse_req* request, const char* data, std::size_t size, fuse_file_info* info);
    void poll (fuse_req* request, fuse_file_info* info, fuse_pollhandle* handle);
    void ioctl (fuse_req* request, unsigned int command, fuse_file_info* info, unsigned flags,
                std::size_t outSize);
    void interrupted (fuse_req* request);

    OpenFile* fileOf (const fuse_file_info* info);
    Take takeReport (OpenFile& file, std::vector<std::uint8_t>& report);
    void answerReads (OpenFile& file);
    void wakePoller (OpenFile& file);
    void log (const std::string& text) const;

    const NodeSettings m_settings;
    mode_t m_mode;
    uid_t m_owner;
    gid_t m_group;
    fuse_session* m_session = nullptr;
    std::unique_ptr<fuse_buf> m_buffer; // one request at a time, its memory reused
    bool m_mounted = false;
    bool m_sessionEnded = false;
    bool m_plugged = true;
    bool m_deviceEnded = false;
    std::uint64_t m_nextHandle = 1;
    std::map<std::uint64_t, std::unique_ptr<OpenFile>> m_files;
};

} // namespace korva::test::hidraw
