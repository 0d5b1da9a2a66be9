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

}  // namespace progread
