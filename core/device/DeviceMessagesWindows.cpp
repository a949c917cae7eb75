#include "core/device/DeviceMessages.h"

namespace korva
{

namespace devicemessages
{

// Windows lets every user open a HID device; it refuses one that another
// program holds for itself.
juce::String accessDeniedRemedy()
{
    return "Another program may hold it for itself. Close that program, then unplug the KORVA and plug it in again.";
}

} // namespace devicemessages

} // namespace korva
