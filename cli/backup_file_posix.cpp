// The backup's destination on POSIX systems: see backup_file.h for the rules.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

#include "cli/backup_file.h"

#ifdef __linux__
#include <sys/vfs.h>
#endif

namespace glowstep {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel follows them
constexpr std::size_t kMaxTemporaryPath = 4096;
constexpr std::size_t kMaxBaseInName = 200;  // leaves room for the suffix in a 255-byte name
constexpr int kNameAttempts = 100;

std::string Reason(int error) { return std::generic_category().message(error); }

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A link that lives in /proc (/proc/self/fd/1, where /dev/stdout and /dev/fd/1 lead) names a
// file this process or another has open, not a place in a directory: it is written through.
bool IsOpenFileLink([[maybe_unused]] const std::string& link) {
#ifdef __linux__
  constexpr long kProcSuperMagic = 0x9fa0;
  struct statfs system {};
  return statfs(DirectoryOf(link).c_str(), &system) == 0 && system.f_type == kProcSuperMagic;
#else
  return link.rfind("/proc/", 0) == 0 || link.rfind("/dev/fd/", 0) == 0;
#endif
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// --- The temporary and the signals that end the program -------------------------------------
//
// At most one temporary exists. Its state is shared with the signal handler: the main thread
// changes it only with the signals blocked (kBusy), so a handler that runs meanwhile runs on
// another thread and waits the moment it takes.

constexpr int kNone = 0;
constexpr int kBusy = 1;
constexpr int kExists = 2;
std::atomic<int> TemporaryState{kNone};
static_assert(std::atomic<int>::is_always_lock_free);
char TemporaryPath[kMaxTemporaryPath];

// Signals whose default action ends the program, coming from outside or from a limit; not the
// faults of the program itself (SIGSEGV and its kind), after which nothing is done.
constexpr int kEndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGABRT, SIGPIPE, SIGALRM,   SIGTERM,
    SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGPROF, SIGVTALRM,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

extern "C" void RemoveTemporaryAndEnd(int number) {
  int state = TemporaryState.load();
  while (state == kBusy) state = TemporaryState.load();
  if (state == kExists && TemporaryState.compare_exchange_strong(state, kNone)) {
    unlink(TemporaryPath);
  }
  // SA_RESETHAND put the default action back: the signal, pending until the handler returns,
  // ends the program as it would have.
  raise(number);
}

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : kEndingSignals) sigaddset(&set, number);
  return set;
}

// The handlers, while a temporary exists; a signal the program was told to ignore stays ignored.
class TSignalHandlers {
 public:
  TSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryAndEnd;
    action.sa_mask = EndingSignals();
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], nullptr, &Previous_[i]);
      if (Previous_[i].sa_handler != SIG_IGN) sigaction(kEndingSignals[i], &action, nullptr);
    }
  }
  TSignalHandlers(const TSignalHandlers&) = delete;
  TSignalHandlers& operator=(const TSignalHandlers&) = delete;
  ~TSignalHandlers() {
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], &Previous_[i], nullptr);
    }
  }

 private:
  struct sigaction Previous_[std::size(kEndingSignals)] = {};
};

// Runs `step` with the ending signals blocked on this thread and the temporary's state busy;
// `step` gives the state that follows.
template <typename TStep>
void WithTemporaryBusy(TStep step) {
  const sigset_t set = EndingSignals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  TemporaryState.store(kBusy);
  TemporaryState.store(step());
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

std::string RandomSuffix() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device source;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string suffix(6, ' ');
  for (char& c : suffix) c = kLetters[pick(source)];
  return suffix;
}

// --- Replacing a file --------------------------------------------------------------------------

class TReplacement final : public TBackupDestination {
 public:
  // `target` is the file (or the name for one) that the backup replaces, `existing` what stands
  // there now.
  TReplacement(std::string path, std::string target, const struct stat* existing)
      : Path_(std::move(path)), Target_(std::move(target)) {
    std::string base = BaseOf(Target_).substr(0, kMaxBaseInName);
    const std::string directory = DirectoryOf(Target_);
    // A file that replaces another is made private first and given the old one's mode once it
    // has its owner; a new one gets the usual mode (the umask applies).
    const mode_t mode = existing != nullptr ? 0600 : 0666;
    Handlers_.emplace();  // before the temporary exists, so that no moment goes uncovered
    int error = EEXIST;
    for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
      std::string name = directory;
      name.append("/").append(base).append(".").append(RandomSuffix()).append(".partial");
      if (name.size() >= kMaxTemporaryPath) {
        error = ENAMETOOLONG;
        break;
      }
      WithTemporaryBusy([&] {
        std::memcpy(TemporaryPath, name.c_str(), name.size() + 1);
        Fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        error = Fd_ < 0 ? errno : 0;
        return Fd_ < 0 ? kNone : kExists;
      });
    }
    if (error != 0) throw BackupCannotBeWritten(Path_, Reason(error));
    if (existing != nullptr) KeepOwnerAndMode(*existing);
  }

  ~TReplacement() override {
    if (Fd_ >= 0) close(Fd_);
    Discard();
  }

  void Commit(std::string_view text) override {
    int error = 0;
    if (!WriteAll(Fd_, text) || fsync(Fd_) != 0) error = errno;
    if (close(std::exchange(Fd_, -1)) != 0 && error == 0) error = errno;
    if (error == 0) {
      WithTemporaryBusy([&] {
        if (rename(TemporaryPath, Target_.c_str()) != 0) error = errno;
        return error == 0 ? kNone : kExists;
      });
    }
    if (error != 0) {
      Discard();
      throw BackupCannotBeWritten(Path_, Reason(error));
    }
    Handlers_.reset();
    // The rename itself reaches the disk with the directory.
    const int directory = open(DirectoryOf(Target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
      fsync(directory);
      close(directory);
    }
  }

 private:
  void KeepOwnerAndMode(const struct stat& existing) {
    // Giving a file away takes privilege; keeping the group takes membership. Whatever cannot be
    // kept is this user's, as with any file the user makes.
    const bool ownerKept = fchown(Fd_, existing.st_uid, existing.st_gid) == 0;
    if (!ownerKept) {
      [[maybe_unused]] const int groupKept = fchown(Fd_, static_cast<uid_t>(-1), existing.st_gid);
    }
    // The set-ID bits only go with the owner and group they were set for.
    fchmod(Fd_, existing.st_mode & (ownerKept ? 07777 : 0777));
  }

  void Discard() {
    if (TemporaryState.load() == kExists) {
      WithTemporaryBusy([] {
        unlink(TemporaryPath);
        return kNone;
      });
    }
    Handlers_.reset();
  }

  std::string Path_;
  std::string Target_;
  int Fd_ = -1;
  std::optional<TSignalHandlers> Handlers_;
};

// --- Writing through ---------------------------------------------------------------------------

class TWriteThrough final : public TBackupDestination {
 public:
  explicit TWriteThrough(std::string path) : Path_(std::move(path)) {
    Fd_ = open(Path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (Fd_ < 0 && errno == ENXIO) Fd_ = ConnectTo(Path_);
    if (Fd_ < 0 && errno == EISDIR) throw BackupIsADirectory(Path_);
    if (Fd_ < 0) throw BackupCannotBeWritten(Path_, Reason(errno));
    struct stat status {};
    if (fstat(Fd_, &status) == 0 && S_ISREG(status.st_mode)) {
      // A file already open (by the shell, for this program's output): what it holds stays.
      fcntl(Fd_, F_SETFL, fcntl(Fd_, F_GETFL) | O_APPEND);
    }
  }

  ~TWriteThrough() override {
    if (Fd_ >= 0) close(Fd_);
  }

  void Commit(std::string_view text) override {
    int error = 0;
    if (!WriteAll(Fd_, text)) error = errno;
    if (close(std::exchange(Fd_, -1)) != 0 && error == 0) error = errno;
    if (error != 0) throw BackupCannotBeWritten(Path_, Reason(error));
  }

 private:
  // A socket is not opened but connected to.
  static int ConnectTo(const std::string& path) {
    struct stat status {};
    sockaddr_un address{};
    if (stat(path.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode) ||
        path.size() >= sizeof address.sun_path) {
      errno = ENXIO;
      return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }

  std::string Path_;
  int Fd_ = -1;
};

}  // namespace

std::unique_ptr<TBackupDestination> TBackupDestination::Open(const std::string& path) {
  // The kernel's own view first: a link it refuses to follow (a protected link in a shared
  // folder) is refused here too.
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 && errno != ENOENT) {
    throw BackupCannotBeWritten(path, Reason(errno));
  }
  // Links are followed one at a time, so that one that stands for an open file is seen as such.
  std::string current = path;
  for (int links = 0;; ++links) {
    if (lstat(current.c_str(), &status) != 0) {
      if (errno != ENOENT) throw BackupCannotBeWritten(path, Reason(errno));
      return std::make_unique<TReplacement>(path, current, nullptr);
    }
    if (S_ISDIR(status.st_mode)) throw BackupIsADirectory(path);
    if (S_ISREG(status.st_mode)) return std::make_unique<TReplacement>(path, current, &status);
    if (!S_ISLNK(status.st_mode) || IsOpenFileLink(current)) break;
    if (links == kMaxLinks) throw BackupCannotBeWritten(path, Reason(ELOOP));
    char target[kMaxTemporaryPath];
    const ssize_t length = readlink(current.c_str(), target, sizeof target);
    if (length < 0) throw BackupCannotBeWritten(path, Reason(errno));
    if (static_cast<std::size_t>(length) == sizeof target)
      throw BackupCannotBeWritten(path, Reason(ENAMETOOLONG));
    const std::string next(target, static_cast<std::size_t>(length));
    current = next.rfind('/', 0) == 0 ? next : DirectoryOf(current).append("/").append(next);
  }
  return std::make_unique<TWriteThrough>(path);
}

}  // namespace glowstep
