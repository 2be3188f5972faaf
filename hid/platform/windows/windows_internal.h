// What the parts of the Windows platform share among themselves.
#pragma once

#include "base/windows_api.h"

#include <cstdint>
#include <memory>
#include <string>

#include "hid/platform/windows/hid_platform.h"
#include "hid/platform/windows/windows_platform.h"

namespace glowstep::windows {

inline HANDLE ToHandle(THidHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline THidHandle FromHandle(HANDLE handle) { return reinterpret_cast<THidHandle>(handle); }

// Looks up `name` in the already loaded kernel32.dll, at the time of the call.
TEntryAddress Kernel32Entry(const char* name);

// `cancelTimeoutMs`: how long a cancel waits for the read's completion routine.
std::unique_ptr<TPlatformRead> CreateOverlappedRead(
    DWORD cancelTimeoutMs = TWindowsPlatform::kCancelTimeoutMs);
// Writes `length` bytes from `buffer` to `file` and waits up to `limitMs` for the write; then
// cancels it, waits up to `cancelLimitMs` for the system to let go of it, and fails with
// ERROR_TIMEOUT.
bool WriteWithTimeLimit(HANDLE file,
                        const std::uint8_t* buffer,
                        std::uint32_t length,
                        std::uint32_t& written,
                        DWORD limitMs,
                        DWORD cancelLimitMs);

using TLoadLibraryEx = HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD);
// Loads the library at the full path `path`, the libraries it depends on from the system folder.
// `loadLibraryEx` is the system's loader; tests pass one that acts as an older system.
HMODULE LoadLibraryAt(const std::string& path, TLoadLibraryEx loadLibraryEx = &LoadLibraryExA);

std::unique_ptr<TDeviceNotifier> CreateNotifyWindow(TMainThreadPort& port,
                                                    TDeviceChangeCallback callback);

}  // namespace glowstep::windows
