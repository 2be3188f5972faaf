// The HID backend of the system the program runs on: hidraw, sysfs and libudev on Linux;
// SetupAPI, HID.dll and overlapped file I/O on Windows. Each platform defines this function in
// its own library, which CMake names glowstep_hid_native.
#pragma once

#include <memory>

#include "hid/hid_backend.h"

namespace glowstep {

std::unique_ptr<THidBackend> CreateNativeBackend();

}  // namespace glowstep
