// One open hidraw node as a connection of the narrow HID seam.
//
// Reads poll() the node and an eventfd that Wake signals, with no time-out: every reason the
// reader has to look up comes with Wake, so an idle held device costs no wake-ups. Reports of a
// device without report IDs get a 0 in front, so the reader sees the ID byte first as everywhere
// else. A node that hung up stays dead.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "hid/platform/emulated/hid_backend.h"

namespace glowstep {

// The platform error code that stands for a failed system call's errno.
std::uint32_t ErrorFromErrno(int error);

// Opens `node` with `flags` and returns the descriptor only if it is the character device
// numbered `devNumber` ("major:minor"); otherwise -1 with errno set.
using TNodeOpener =
    std::function<int(const std::string& node, int flags, const std::string& devNumber)>;
int OpenCharacterDevice(const std::string& node, int flags, const std::string& devNumber);

class THidrawConnection final : public THidConnection {
 public:
  // The hidraw queue of every open node; it cannot be changed.
  static constexpr std::uint32_t kQueueLength = 64;

  // Owns `fd` (-1: the interface's description only). `hidDir` is the HID device's sysfs
  // directory, which goes with the device (empty: not known).
  THidrawConnection(int fd,
                    bool numberedReports,
                    THidInterfaceRecord record,
                    std::string hidDir = {});
  THidrawConnection(const THidrawConnection&) = delete;
  THidrawConnection& operator=(const THidrawConnection&) = delete;
  ~THidrawConnection() override;

  const THidInterfaceRecord& Interface() const override { return Record_; }
  std::uint32_t Status() override;
  THidError Write(std::span<const std::uint8_t> report, std::uint32_t& written) override;
  THidError ReadStartError() override;
  THidReadResult Read(std::span<std::uint8_t> buffer) override;
  void Wake() override;
  THidError SetInputBuffers(std::uint32_t count) override;
  std::uint32_t InputBuffers() override { return kQueueLength; }

 private:
  void DrainWake();
  THidReadResult Hangup(int error);

  const int Fd_;
  const int Wake_;
  const bool NumberedReports_;
  const THidInterfaceRecord Record_;
  const std::string HidDir_;
  std::atomic<bool> Gone_{false};  // the node hung up: the device went away
};

}  // namespace glowstep
