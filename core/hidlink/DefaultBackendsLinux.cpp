// The backends of a Linux system: the hidraw nodes of real devices and the
// sockets of virtual ones.

#include "core/hidlink/HidBackend.h"
#include "core/hidlink/VirtualDevice.h"

namespace korva
{

namespace hidlink
{

std::vector<std::shared_ptr<HidBackend>> makeDefaultBackends()
{
    return {makeHidrawBackend(), makeVirtualBackend (virtualdevice::defaultFolder())};
}

} // namespace hidlink

} // namespace korva
