#pragma once

// The HID class driver of Windows as a backend: its logic is here and in
// WinHidBackend.cpp, built on every system; the Windows services it calls
// are a WinHidApi (WinHidApi.h), the real one on Windows, made-up ones in
// the tests.
//
// - Enumeration lists the present HID interfaces in the system's order and
//   describes each (ids, strings, report lengths); a member whose detail
//   cannot be read ends the list, with what was found so far.
// - Hot-plug comes from the hidden window's WM_DEVICECHANGE, on the
//   registry's thread (the window is made by the watcher, which that thread
//   makes): arrivals and completed removals of HID interfaces whose
//   upper-cased path has "VID_7C4E" and "PID_0A31". An arrival is described
//   (and registered even when its attributes cannot be read); a removal
//   carries the path alone.
// - Each port has a handle of its own: the reader's is overlapped, its read
//   waited on in slices and cancelled when the port is woken; the writer's
//   writes synchronously.
// - A failed open is told as an errno value (errnoForOpenError), the Windows
//   error is traced.
// - claim: Windows has no lock over a HID interface that every program
//   takes (the handles share reading and writing, as other programs expect),
//   so the device is taken at once.

#include "core/hidlink/HidBackend.h"
#include "core/hidlink/WinHidApi.h"

#include <cstdint>
#include <memory>
#include <string>

namespace korva
{

namespace hidlink
{

struct WinHidTiming
{
    // A pending read is waited on in slices of at most this.
    int readSliceMs = 1000;
    // After a read that failed for a reason that does not mean the device
    // has gone: the time before the next one (a wake-up ends it early).
    int retryDelayMs = 1000;
};

// Whether the path of an interface names the KORVA: its upper-cased text
// holds "VID_7C4E" and "PID_0A31".
bool isKorvaInterfacePath (const std::string& path);

// The errno value told for a Windows error of a failed open: access denied
// is EACCES, a sharing violation (another program has it) EBUSY, a device
// that is not there (file or path not found, not connected, no such device,
// removed) ENODEV, anything else EIO.
int errnoForOpenError (std::uint32_t error) noexcept;

// The Windows errors of a read or a write that mean the device will not
// answer again: file or path not found, invalid handle, bad command, general
// failure, no such device, operation aborted (a read the port did not cancel
// itself), device not connected, device removed.
bool windowsErrorMeansGone (std::uint32_t error) noexcept;

std::shared_ptr<HidBackend> makeWinHidBackend (std::shared_ptr<WinHidApi> api, WinHidTiming timing = {});

} // namespace hidlink

} // namespace korva
