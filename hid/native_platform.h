// The HID platform of the system the program runs on: hidraw, sysfs and libudev on Linux;
// SetupAPI, HID.dll and overlapped file I/O on Windows. Each backend defines this function in
// its own library, which CMake names glowstep_hid_native.
#pragma once

#include <memory>

#include "hid/hid_platform.h"

namespace glowstep {

std::unique_ptr<THidPlatform> CreateNativePlatform();

}  // namespace glowstep
