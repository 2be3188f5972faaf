#include "hid/platform/linux/hidraw_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <system_error>

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

THidrawConnection::THidrawConnection(int fd,
                                     bool numberedReports,
                                     THidInterfaceRecord record,
                                     std::string hidDir)
    : Fd_(fd),
      Wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      NumberedReports_(numberedReports),
      Record_(std::move(record)),
      HidDir_(std::move(hidDir)) {}

THidrawConnection::~THidrawConnection() {
  if (Fd_ >= 0) close(Fd_);
  if (Wake_ >= 0) close(Wake_);
}

std::uint32_t THidrawConnection::Status() {
  // The HID device's directory goes with the device: looking at it tells whether it is there.
  struct stat status {};
  if (Gone_ || (!HidDir_.empty() && stat((HidDir_ + "/uevent").c_str(), &status) != 0))
    return kErrorDeviceNotConnected;
  return 0;
}

THidError THidrawConnection::Write(std::span<const std::uint8_t> report, std::uint32_t& written) {
  if (Fd_ < 0) return THidError{kErrorAccessDenied, 0};
  ssize_t n = 0;
  do {
    n = write(Fd_, report.data(), report.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return THidError{ErrorFromErrno(errno), errno};
  written = static_cast<std::uint32_t>(std::min(static_cast<std::size_t>(n), report.size()));
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
    if ((fds[1].revents & POLLIN) != 0) {
      DrainWake();
      return THidReadResult{0, {}, true};
    }
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
