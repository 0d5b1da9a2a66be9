// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the operator types into the port field, turned into the name of a serial device.

#include <string>
#include <string_view>

namespace progread {

enum class Platform { Linux, Windows };

Platform hostPlatform();

// A whole number N (spaces ignored, a fraction rounded half to even) is the platform's Nth
// port: COMN on Windows, /dev/ttyS<N-1> on Linux. A device path or name is used as given
// (/dev/ttyUSB0, /dev/pts/3, ttyACM0, COM12; a COM name comes back as COM12 however it was
// typed). Anything else raises a TypeMismatch error (not a port) or an Overflow error (a
// number out of range), meant as a hint to the operator.
std::string portNameFor(std::string_view typed, Platform platform = hostPlatform());

// What the system says about a device the user may not open.
struct DeviceAccess {
    std::string group;               // the device's group
    bool groupCanReadWrite = false;  // its mode gives that group read and write
    bool dialoutExists = false;      // the groups this system has
    bool uucpExists = false;
};

// Why a device could not be opened for lack of permission, and what to do about it. Names the
// device's group only where joining it helps (never root); else the usual serial group and a
// udev rule.
std::string permissionAdvice(const DeviceAccess& access);
// Whether joining the device's own group lets the user open it (else a udev rule is needed).
bool joiningIsEnough(const DeviceAccess& access);
// The group to join: the device's own, or the usual serial group for a udev rule.
std::string groupToJoin(const DeviceAccess& access);

}  // namespace progread
