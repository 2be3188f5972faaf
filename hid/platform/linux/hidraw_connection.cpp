#include "hid/platform/linux/hidraw_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

namespace glowstep {

namespace {

constexpr std::uint32_t kErrorNotSupported = 50;

std::optional<dev_t> ParseDevNumber(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  unsigned int major = 0;
  unsigned int minor = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  const auto first = std::from_chars(begin, begin + colon, major);
  const auto second = std::from_chars(begin + colon + 1, end, minor);
  if (first.ec != std::errc() || first.ptr != begin + colon || second.ec != std::errc() ||
      second.ptr != end)
    return std::nullopt;
  return makedev(major, minor);
}

int Poll(pollfd* fds, nfds_t count) {
  // EINTR: wait again.
  for (;;) {
    const int n = poll(fds, count, -1);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

std::uint32_t ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case ENOENT:
      return kErrorFileNotFound;
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE:
    case ECONNRESET:
    case ESHUTDOWN:
      return kErrorDeviceNotConnected;
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
    case EMSGSIZE:
      return kErrorInvalidParameter;
    case ETIMEDOUT:  // the kernel gave up a write the device did not take
      return kErrorTimeout;
    default:
      return kErrorGenFailure;
  }
}

int OpenCharacterDevice(const std::string& node, int flags, const std::string& devNumber) {
  const auto expected = ParseDevNumber(devNumber);
  if (!expected) {
    errno = ENODEV;
    return -1;
  }
  int fd = -1;
  do {
    fd = open(node.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || status.st_rdev != *expected) {
    close(fd);
    errno = ENODEV;
    return -1;
  }
  return fd;
}

// One report on its way to the device, shared by the writing thread and the caller waiting for it.
struct THidrawConnection::TWrite {
  std::vector<std::uint8_t> Report;
  std::mutex Lock;
  std::condition_variable Ended;
  bool Done = false;  // guarded by Lock, as are the two below
  ssize_t Result = 0;
  int Error = 0;

  bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(Lock);
    return Ended.wait_until(lock, deadline, [this] { return Done; });
  }
};

THidrawConnection::TNode::~TNode() {
  if (Fd >= 0) close(Fd);
}

THidrawConnection::THidrawConnection(int fd,
                                     bool numberedReports,
                                     THidInterfaceRecord record,
                                     std::string hidDir)
    : Node_(std::make_shared<const TNode>(fd)),
      Fd_(fd),
      Wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      NumberedReports_(numberedReports),
      Record_(std::move(record)),
      HidDir_(std::move(hidDir)) {}

THidrawConnection::~THidrawConnection() {
  if (Writer_.joinable()) {
    // A write the kernel still holds ends by itself and closes the node then.
    if (LastWrite_->WaitUntil(std::chrono::steady_clock::now()))
      Writer_.join();
    else
      Writer_.detach();
  }
  if (Wake_ >= 0) close(Wake_);
}

THidError THidrawConnection::Status() {
  // The HID device's directory goes with the device: looking at it tells whether it is there.
  struct stat status {};
  if (Gone_ || (!HidDir_.empty() && stat((HidDir_ + "/uevent").c_str(), &status) != 0))
    return THidError{kErrorDeviceNotConnected, 0};
  return {};
}

THidError THidrawConnection::Write(std::span<const std::uint8_t> report,
                                   std::uint32_t& written,
                                   std::chrono::milliseconds limit) {
  if (Fd_ < 0) return THidError{kErrorAccessDenied, 0};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::lock_guard oneAtATime(WriteLock_);
  // A report the device has not taken yet goes first; this one is not sent while it waits.
  if (Writer_.joinable()) {
    if (!LastWrite_->WaitUntil(deadline)) return THidError{kErrorTimeout, 0};
    Writer_.join();
  }
  auto write = std::make_shared<TWrite>();
  write->Report.assign(report.begin(), report.end());
  try {
    Writer_ = std::thread([node = Node_, write] {
      SetOsThreadName("hidraw write");
      ssize_t n = 0;
      do {
        n = ::write(node->Fd, write->Report.data(), write->Report.size());
      } while (n < 0 && errno == EINTR);
      const int error = n < 0 ? errno : 0;
      {
        std::lock_guard ended(write->Lock);
        write->Result = n;
        write->Error = error;
        write->Done = true;
      }
      write->Ended.notify_all();
    });
  } catch (const std::system_error& error) {
    return THidError{ErrorFromErrno(error.code().value()), error.code().value()};
  }
  LastWrite_ = write;
  if (!write->WaitUntil(deadline)) return THidError{kErrorTimeout, 0};
  Writer_.join();
  if (write->Result < 0) return THidError{ErrorFromErrno(write->Error), write->Error};
  written = static_cast<std::uint32_t>(
      std::min(static_cast<std::size_t>(write->Result), write->Report.size()));
  return {};
}

THidError THidrawConnection::ReadStartError() {
  if (Wake_ < 0) return THidError{kErrorGenFailure, 0};
  if (Fd_ < 0) return THidError{kErrorInvalidParameter, 0};
  // A node that hung up stays dead: starting another read on it fails, as it does on a removed
  // device elsewhere.
  if (Gone_) return THidError{kErrorDeviceNotConnected, 0};
  return {};
}

THidReadResult THidrawConnection::Read(std::span<std::uint8_t> buffer) {
  // Without report IDs the report goes in after a 0, where the ID would stand.
  const bool prefix = !NumberedReports_;
  for (;;) {
    pollfd fds[2] = {{Fd_, POLLIN, 0}, {Wake_, POLLIN, 0}};
    if (Poll(fds, 2) < 0) return THidReadResult{0, {ErrorFromErrno(errno), 0}};
    // A wake goes first, even with a report waiting: it ends this read, and the report stays
    // queued for the next one.
    if ((fds[1].revents & POLLIN) != 0) {
      DrainWake();
      return THidReadResult{0, {}, true};
    }
    if ((fds[0].revents & POLLIN) != 0) {
      std::uint8_t* target = prefix ? buffer.data() + 1 : buffer.data();
      const std::size_t room = prefix ? buffer.size() - 1 : buffer.size();
      const ssize_t n = read(Fd_, target, room);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;  // nothing after all
      // End of file or an error: the node is gone (hidraw answers EIO once unplugged).
      if (n <= 0) return Hangup(n == 0 ? ENODEV : errno);
      if (prefix) buffer[0] = 0;
      return THidReadResult{static_cast<std::uint32_t>(n) + (prefix ? 1u : 0u), {}};
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Hangup(ENODEV);
  }
}

THidReadResult THidrawConnection::Hangup(int error) {
  Gone_ = true;
  return THidReadResult{0, {ErrorFromErrno(error), 0}};
}

void THidrawConnection::Wake() {
  const std::uint64_t one = 1;
  ssize_t n = 0;
  do {
    n = write(Wake_, &one, sizeof one);
  } while (n < 0 && errno == EINTR);
}

void THidrawConnection::DrainWake() {
  std::uint64_t count = 0;
  while (read(Wake_, &count, sizeof count) > 0) {
  }
}

THidError THidrawConnection::SetInputBuffers(std::uint32_t count) {
  if (count == kQueueLength) return {};
  return THidError{kErrorNotSupported, 0};
}

}  // namespace glowstep
