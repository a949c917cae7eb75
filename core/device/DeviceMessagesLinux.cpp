#include "core/device/DeviceMessages.h"

namespace korva
{

namespace devicemessages
{

// A hidraw node is root's until the udev rule gives it to the user at the seat.
juce::String accessDeniedRemedy()
{
    return "This user may not use the KORVA until the udev rule of KORVA Manager is installed"
           " (see \"Connecting the KORVA\" in the manual). Install it, then unplug the KORVA and plug it in again.";
}

} // namespace devicemessages

} // namespace korva
