// <windows.h> as the project includes it: without the min and max macros, which would break
// std::min and std::numeric_limits<T>::max, and without the parts of the API no file here uses.
// Include it first, in a block of its own, before any other Windows header.
#pragma once

#ifndef _WIN32
#error "base/windows_api.h is for Windows builds only"
#endif

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
