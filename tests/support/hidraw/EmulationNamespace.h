#pragma once

// The machine the emulated hidraw KORVAs live in: a private mount namespace
// whose /sys is a tmpfs laid out as sysfs (empty of devices but for a USB host
// controller and its root hub) and whose /dev is a tmpfs with the usual
// nodes, so that plugging a device in changes nothing outside it. udev's
// database is hidden too, as in a container, so the program finds its
// devices by reading sysfs and learns of hot-plug by watching /dev.
//
// libudev refuses device folders that are not on sysfs unless
// SYSTEMD_DEVICE_VERIFY_SYSFS=0, its own switch for testing; the namespace's
// processes get it in their environment. Nothing in the program changes.

#include <string>

namespace korva::test::hidraw
{

// Where the emulation keeps its node files and the sockets of its virtual
// KORVAs: inside the namespace's /dev, but not in it as a node.
constexpr const char* kRuntimeFolder = "/dev/.korva-hidraw";

// Set to the runtime folder inside the namespace; or, where the namespace
// could not be made, the reason is in kUnavailableVariable instead.
constexpr const char* kEmulationVariable = "KORVA_HIDRAW_EMULATION";
constexpr const char* kUnavailableVariable = "KORVA_HIDRAW_EMULATION_UNAVAILABLE";

// Makes the namespace and moves this (single-threaded) process into it;
// false with the reason when that cannot be done here.
bool enterEmulationNamespace (std::string& error);

// True in a process inside the namespace.
bool insideEmulation();

} // namespace korva::test::hidraw
