// The backend of a Windows system: the HID class driver. (Virtual devices
// are Unix-domain sockets: Linux only.)

#include "core/hidlink/HidBackend.h"
#include "core/hidlink/WinHidBackend.h"

namespace korva
{

namespace hidlink
{

std::vector<std::shared_ptr<HidBackend>> makeDefaultBackends()
{
    return {makeWinHidBackend (makeSystemWinHidApi())};
}

} // namespace hidlink

} // namespace korva
