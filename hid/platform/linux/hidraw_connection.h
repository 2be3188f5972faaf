// One open hidraw node as a connection of the HID backend (THidConnection).
//
// Reads poll() the node and an eventfd that Wake signals, with no time-out: every reason the
// reader has to look up comes with Wake, so an idle held device costs no wake-ups. A Wake ends
// the read even when a report is waiting, which stays for the next read. Reports of a device
// without report IDs get a 0 in front, so the reader sees the ID byte first as everywhere else.
// A node that hung up stays dead.
//
// Writes: hidraw's write() waits in the kernel until the device has taken the report or the USB
// time-out (5 s) has passed, whatever the descriptor's flags, and no signal ends that wait. So each
// write runs on a thread of the connection's own while the caller waits at most its time limit. A
// report not taken by then fails with kErrorTimeout, and its write stays with the thread until
// the kernel ends it; the next write waits for that one first, within its own limit. The node
// stays open while a write may still use it, also after the connection has gone.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "hid/hid_backend.h"

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
  THidError Status() override;
  THidError Write(std::span<const std::uint8_t> report,
                  std::uint32_t& written,
                  std::chrono::milliseconds limit) override;
  THidError ReadStartError() override;
  THidReadResult Read(std::span<std::uint8_t> buffer) override;
  void Wake() override;
  THidError SetInputBuffers(std::uint32_t count) override;
  std::uint32_t InputBuffers() override { return kQueueLength; }

 private:
  // The node's descriptor, closed once neither the connection nor a write uses it.
  struct TNode {
    int Fd = -1;
    explicit TNode(int fd) : Fd(fd) {}
    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;
    ~TNode();
  };
  struct TWrite;

  void DrainWake();
  THidReadResult Hangup(int error);

  const std::shared_ptr<const TNode> Node_;
  const int Fd_;  // Node_'s
  const int Wake_;
  const bool NumberedReports_;
  const THidInterfaceRecord Record_;
  const std::string HidDir_;
  std::atomic<bool> Gone_{false};  // the node hung up: the device went away
  std::mutex WriteLock_;           // one write at a time
  // The thread of the last write and the write itself, until it has ended and been joined.
  std::thread Writer_;
  std::shared_ptr<TWrite> LastWrite_;
};

}  // namespace glowstep
