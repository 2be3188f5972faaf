#include "tools/demo/command_input.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace glowstep {

namespace {

constexpr unsigned kReadSize = 4096;

long ReadSome(int descriptor, char* buffer, unsigned size) {
#ifdef _WIN32
  return _read(descriptor, buffer, size);
#else
  return static_cast<long>(read(descriptor, buffer, size));
#endif
}

}  // namespace

TCommandInput::TCommandInput(TMainThreadPort& port, int descriptor, TLineHandler handler)
    : Port_(port), Descriptor_(descriptor), Handler_(std::move(handler)) {
  Watch_ = Port_.WatchReadable(Descriptor_, [this] { OnReadable(); });
}

TCommandInput::~TCommandInput() { Stop(); }

void TCommandInput::OnReadable() {
  // The descriptor is readable, so one read does not block; what else is there waits for the
  // next turn of the loop, which keeps the window responsive under a flood of lines.
  char buffer[kReadSize];
  const long count = ReadSome(Descriptor_, buffer, kReadSize);
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (count <= 0) {
    const std::string last = std::move(Pending_);
    Pending_.clear();
    Stop();
    if (!last.empty()) Handler_(last);
    return;
  }
  Pending_.append(buffer, static_cast<std::size_t>(count));
  std::size_t begin = 0;
  for (std::size_t end; (end = Pending_.find('\n', begin)) != std::string::npos; begin = end + 1) {
    if (!Handler_(Pending_.substr(begin, end - begin))) {
      Pending_.clear();
      Stop();
      return;
    }
  }
  Pending_.erase(0, begin);
}

void TCommandInput::Stop() {
  if (Watch_ == 0) return;
  Port_.Unwatch(Watch_);
  Watch_ = 0;
}

}  // namespace glowstep
