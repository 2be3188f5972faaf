// The HID backend of Windows, over the Windows system interface (hid_platform.h).
//
// It calls nothing but THidPlatform, so it runs over the system itself and, in the tests of
// every platform, over an emulation of it with faults injected in between.
//
//  - Start binds the setup service and the HID class library, all or nothing, and asks the HID
//    library for the class of HID interfaces; the last Stop releases both.
//  - Scan walks a device-information set of that class: each interface's path by the two-call
//    detail lookup, its device instance as its identity, its stable names and the setup
//    service's registry properties, handed over before the next interface is asked for (so the
//    controller opens and identifies it in between, as on Windows it always has). The set is
//    destroyed whatever happens. List is Scan collected.
//  - A connection owns one file handle. Its queries ask the HID library each time (a device that
//    has gone fails them by itself); a read is one overlapped read begun and waited for inside
//    Read, and cancelled there when the connection is woken, so no read is ever left outstanding
//    and the caller's buffer is the system's only while Read runs.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/platform/windows/hid_platform.h"

namespace glowstep {

class TWindowsHidBackend : public THidBackend {
 public:
  // A device path longer than this is not a path: the interface is left out of the list.
  static constexpr std::uint32_t kMaxDetailSize = 64 * 1024;
  // The registry properties are read into buffers of these sizes; a longer value is cut there.
  static constexpr std::uint32_t kTextBufferSize = 1024;
  static constexpr std::uint32_t kTextListBufferSize = 16384;
  // The product string is read into this many UTF-16 units, its terminating zero included.
  static constexpr std::uint32_t kProductStringChars = 254;
  // How long one wait of a read lasts before the wake is looked at again.
  static constexpr std::int32_t kReadSliceMs = 1000;

  // `platform` outlives the backend and every connection it opened.
  explicit TWindowsHidBackend(THidPlatform& platform);
  // Releases the bindings of starts that were never stopped.
  ~TWindowsHidBackend() override;

  THidError Start() override;
  void Stop() override;
  std::vector<THidInterfaceRecord> List(THidError& error) override;
  THidError Scan(const TFoundInterface& found) override;
  std::shared_ptr<THidConnection> Open(const std::string& path,
                                       TFileAccess access,
                                       THidError& error) override;
  std::unique_ptr<TDeviceNotifier> Watch(TMainThreadPort& port,
                                         TDeviceChangeCallback callback) override;
  void NameCurrentThread(std::string_view name) override;

  // The class of HID interfaces the list is made of, as the HID library gave it at the first
  // start (the published class before that).
  TGuid InterfaceClass() const;

 private:
  THidPlatform& Platform_;
  mutable std::mutex Lock_;
  int Starts_ = 0;
  TGuid InterfaceClass_ = kHidInterfaceClassGuid;
};

}  // namespace glowstep
