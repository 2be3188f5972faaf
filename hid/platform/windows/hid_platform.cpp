#include "hid/platform/windows/hid_platform.h"

namespace glowstep {

void THidPlatform::NameCurrentThread(std::string_view name) { SetOsThreadName(name); }

}  // namespace glowstep
