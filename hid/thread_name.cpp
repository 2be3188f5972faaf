#include <string>

#include "hid/hid_backend.h"

#if defined(__linux__)
#include <pthread.h>
#endif

namespace glowstep {

void SetOsThreadName(std::string_view name) {
#if defined(__linux__)
  // The kernel keeps 15 characters and a terminating zero.
  const std::string shortName(name.substr(0, 15));
  pthread_setname_np(pthread_self(), shortName.c_str());
#else
  (void)name;  // other systems: the backend names its threads itself
#endif
}

void THidBackend::NameCurrentThread(std::string_view name) { SetOsThreadName(name); }

}  // namespace glowstep
