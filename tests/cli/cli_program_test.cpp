// glowstep-cli as a user runs it, in a process of its own: what it does to the files, devices,
// FIFOs, sockets and links it is given, what it says when its standard output fails, and what
// is left after a signal. Every file lives in a private folder; device nodes are made there with
// the numbers of the null and the full device, never the machine's own /dev. Cases that matter
// for an ordinary user run a second time as "nobody".
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "cli/cli.h"
#include "tests/cli/cli_test_support.h"

namespace glowstep::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgram = GLOWSTEP_CLI_PROGRAM;
const dev_t kNullDevice = makedev(1, 3);
const dev_t kFullDevice = makedev(1, 7);

struct TUser {
  uid_t Uid = 0;
  gid_t Gid = 0;
};

std::optional<TUser> Nobody() {
  const passwd* entry = getpwnam("nobody");
  if (entry == nullptr) return std::nullopt;
  return TUser{entry->pw_uid, entry->pw_gid};
}

// How the program is started.
struct TProgramRun {
  std::vector<std::string> Args;
  enum class TOut { Capture, Closed, File, ReaderGone } Out = TOut::Capture;
  std::string OutFile;  // TOut::File: opened for writing, as the shell's ">" would
  std::string ErrFile;  // non-empty: standard error goes there instead of being captured
  bool AsNobody = false;
  bool IgnorePipeSignal = false;  // SIGPIPE ignored, as some parents leave it
  std::optional<rlim_t> FileSizeLimit;
};

struct TRunResult {
  int Status = -1;  // the exit status, or -1 when a signal ended it
  int Signal = 0;
  std::string Out;
  std::string Err;
};

void ReadAll(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    into.append(buffer, static_cast<std::size_t>(n));
  }
}

TRunResult RunProgram(const TProgramRun& launch, const std::string& folder) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return {};
  }
  std::vector<std::string> args = {kProgram, "--simulate"};
  args.insert(args.end(), launch.Args.begin(), launch.Args.end());
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::optional<TUser> nobody = Nobody();
  if (launch.Out == TProgramRun::TOut::ReaderGone) close(out[0]);

  const pid_t child = fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    if (chdir(folder.c_str()) != 0) _exit(120);
    dup2(in[0], 0);
    switch (launch.Out) {
      case TProgramRun::TOut::Capture:
      case TProgramRun::TOut::ReaderGone:
        dup2(out[1], 1);
        break;
      case TProgramRun::TOut::Closed:
        close(1);
        break;
      case TProgramRun::TOut::File: {
        const int fd = open(launch.OutFile.c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0 || dup2(fd, 1) != 1) _exit(121);
        close(fd);
        break;
      }
    }
    if (launch.ErrFile.empty()) {
      dup2(err[1], 2);
    } else {
      const int fd = open(launch.ErrFile.c_str(), O_WRONLY);
      if (fd < 0 || dup2(fd, 2) != 2) _exit(122);
      close(fd);
    }
    signal(SIGPIPE, launch.IgnorePipeSignal ? SIG_IGN : SIG_DFL);
    umask(022);
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (launch.FileSizeLimit) {
      const rlimit limit = {*launch.FileSizeLimit, *launch.FileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(123);
    }
    if (launch.AsNobody) {
      if (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->Gid) != 0 ||
          setuid(nobody->Uid) != 0)
        _exit(124);
    }
    execv(kProgram, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(in[1]);
  close(out[1]);
  close(err[1]);
  TRunResult result;
  if (launch.Out != TProgramRun::TOut::ReaderGone) {
    ReadAll(out[0], result.Out);
    close(out[0]);
  }
  ReadAll(err[0], result.Err);
  close(err[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.Status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  return result;
}

// What a non-blocking descriptor holds now; closes it.
std::string Drain(int fd) {
  std::string text;
  if (fd < 0) return text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool IsBackup(const std::string& text) {
  const auto document = nlohmann::json::parse(text, nullptr, false);
  return document.is_object() && document.value("format", "") == "glowstep-settings" &&
         document.contains("settings");
}

struct stat Lstat(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) ADD_FAILURE() << path << ": " << std::strerror(errno);
  return status;
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A private folder for each case, removed afterwards; "nobody" may enter it.
class CliProgram : public ::testing::Test {
 protected:
  CliProgram() {
    std::string pattern = (fs::temp_directory_path() / "glowstep-cli-program-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) Root = pattern;
    chmod(Root.c_str(), 0755);
  }
  ~CliProgram() override {
    std::error_code ignored;
    fs::remove_all(Root, ignored);
  }

  // A fresh folder under the root, owned by `owner` (root when none).
  std::string Folder(const std::string& name, std::optional<TUser> owner = std::nullopt) {
    std::string folder = Root + "/" + name;
    fs::create_directory(folder);
    if (owner && chown(folder.c_str(), owner->Uid, owner->Gid) != 0)
      ADD_FAILURE() << "chown: " << std::strerror(errno);
    return folder;
  }

  static void Write(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    chmod(path.c_str(), mode);
  }

  // Skips the case where the run as another user cannot be had here.
  static std::string WhyNotAsNobody() {
    if (geteuid() != 0) return "only root can run the program as another user";
    if (!Nobody()) return "there is no user \"nobody\"";
    if (access(kProgram, X_OK) != 0) return "the program cannot be run";
    return {};
  }
  static std::string WhyNoDeviceNodes(const std::string& folder) {
    const std::string probe = folder + "/.probe";
    if (mknod(probe.c_str(), S_IFCHR | 0666, kNullDevice) != 0)
      return std::string("device nodes cannot be made here: ") + std::strerror(errno);
    const int fd = open(probe.c_str(), O_WRONLY);
    unlink(probe.c_str());
    if (fd < 0) return "device nodes made here cannot be opened (a nodev mount)";
    close(fd);
    return {};
  }

  std::string Root;
};

// --- backup FILE: what is at FILE decides how it is written -----------------------------------

struct TTargetCase {
  const char* Name;
  bool AsNobody;
  bool NeedsRoot;  // to make device nodes or give files to another user
  // Makes what the case needs in `folder` and gives the FILE argument.
  std::function<std::string(CliProgram& test, const std::string& folder)> Prepare;
  int Status;
  std::function<void(const std::string& folder, const TRunResult& run)> Check;
};

TEST_F(CliProgram, BackupReplacesFilesAtomicallyAndWritesThroughEverythingElse) {
  const std::optional<TUser> nobody = Nobody().value_or(TUser{});
  std::optional<ino_t> before;  // the inode of a file before it was replaced
  auto remember = [&before](const std::string& path) { before = Lstat(path).st_ino; };
  int peer = -1;  // the reading end of a FIFO, the listening socket

  const std::vector<TTargetCase> cases = {
      {"a file keeps its mode and is replaced whole", false, false,
       [&](CliProgram&, const std::string& folder) {
         Write(folder + "/f.json", "old", 0600);
         remember(folder + "/f.json");
         return std::string("f.json");
       },
       0,
       [&](const std::string& folder, const TRunResult&) {
         EXPECT_TRUE(IsBackup(ReadText(folder + "/f.json")));
         const struct stat status = Lstat(folder + "/f.json");
         EXPECT_EQ(status.st_mode & 07777, 0600U);
         EXPECT_NE(status.st_ino, *before);  // a new file took the name: never half written
         EXPECT_EQ(Entries(folder), std::set<std::string>{"f.json"});
       }},
      {"a file of another user keeps its owner", false, true,
       [&](CliProgram&, const std::string& folder) {
         Write(folder + "/f.json", "old", 0640);
         if (chown((folder + "/f.json").c_str(), nobody->Uid, nobody->Gid) != 0)
           ADD_FAILURE() << std::strerror(errno);
         return std::string("f.json");
       },
       0,
       [&](const std::string& folder, const TRunResult&) {
         const struct stat status = Lstat(folder + "/f.json");
         EXPECT_EQ(status.st_uid, nobody->Uid);
         EXPECT_EQ(status.st_gid, nobody->Gid);
         EXPECT_EQ(status.st_mode & 07777, 0640U);
         EXPECT_TRUE(IsBackup(ReadText(folder + "/f.json")));
       }},
      {"a new name is made with the usual mode", false, false,
       [](CliProgram&, const std::string&) { return std::string("new.json"); }, 0,
       [](const std::string& folder, const TRunResult&) {
         EXPECT_EQ(Lstat(folder + "/new.json").st_mode & 07777, 0644U);
         EXPECT_TRUE(IsBackup(ReadText(folder + "/new.json")));
         EXPECT_EQ(Entries(folder), std::set<std::string>{"new.json"});
       }},
      {"a link is followed and its target replaced", false, false,
       [](CliProgram&, const std::string& folder) {
         fs::create_directory(folder + "/sub");
         Write(folder + "/sub/target.json", "old", 0600);
         fs::create_symlink("sub/target.json", folder + "/link.json");
         return std::string("link.json");
       },
       0,
       [](const std::string& folder, const TRunResult&) {
         EXPECT_TRUE(S_ISLNK(Lstat(folder + "/link.json").st_mode));
         EXPECT_TRUE(IsBackup(ReadText(folder + "/sub/target.json")));
         EXPECT_EQ(Lstat(folder + "/sub/target.json").st_mode & 07777, 0600U);
         EXPECT_EQ(Entries(folder), (std::set<std::string>{"link.json", "sub"}));
         EXPECT_EQ(Entries(folder + "/sub"), std::set<std::string>{"target.json"});
       }},
      {"a link to nothing yet makes its target", false, false,
       [](CliProgram&, const std::string& folder) {
         fs::create_symlink("made.json", folder + "/link.json");
         return std::string("link.json");
       },
       0,
       [](const std::string& folder, const TRunResult&) {
         EXPECT_TRUE(S_ISLNK(Lstat(folder + "/link.json").st_mode));
         EXPECT_TRUE(IsBackup(ReadText(folder + "/made.json")));
       }},
      {"a character device is written through", false, true,
       [](CliProgram&, const std::string& folder) {
         mknod((folder + "/null").c_str(), S_IFCHR | 0666, kNullDevice);
         return std::string("null");
       },
       0,
       [](const std::string& folder, const TRunResult&) {
         const struct stat status = Lstat(folder + "/null");
         EXPECT_TRUE(S_ISCHR(status.st_mode));
         EXPECT_EQ(status.st_rdev, kNullDevice);
         EXPECT_EQ(Entries(folder), std::set<std::string>{"null"});
       }},
      {"a full device fails and stays", false, true,
       [](CliProgram&, const std::string& folder) {
         mknod((folder + "/full").c_str(), S_IFCHR | 0666, kFullDevice);
         return std::string("full");
       },
       4,
       [](const std::string& folder, const TRunResult& run) {
         EXPECT_EQ(run.Err,
                   "glowstep-cli: The backup file full cannot be written: No space left "
                   "on device.\n");
         EXPECT_TRUE(S_ISCHR(Lstat(folder + "/full").st_mode));
         EXPECT_EQ(Entries(folder), std::set<std::string>{"full"});
       }},
      {"a FIFO is written through to its reader", false, false,
       [&](CliProgram&, const std::string& folder) {
         // The reader is there before the program and reads what it left once it has ended.
         mkfifo((folder + "/p").c_str(), 0644);
         peer = open((folder + "/p").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
         return std::string("p");
       },
       0,
       [&](const std::string& folder, const TRunResult&) {
         EXPECT_TRUE(IsBackup(Drain(std::exchange(peer, -1)))) << "the reader got nothing";
         EXPECT_TRUE(S_ISFIFO(Lstat(folder + "/p").st_mode));
         EXPECT_EQ(Entries(folder), std::set<std::string>{"p"});
       }},
      {"a socket is written through to its listener", false, false,
       [&](CliProgram&, const std::string& folder) {
         peer = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         const std::string path = folder + "/s";
         std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
         if (bind(peer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
             listen(peer, 1) != 0)
           ADD_FAILURE() << "socket: " << std::strerror(errno);
         return std::string("s");
       },
       0,
       [&](const std::string& folder, const TRunResult&) {
         const int connection = accept4(peer, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
         EXPECT_TRUE(IsBackup(Drain(connection))) << "the listener got nothing";
         EXPECT_TRUE(S_ISSOCK(Lstat(folder + "/s").st_mode));
       }},
      {"a name for standard output (as /dev/stdout is) is written through", false, false,
       [](CliProgram&, const std::string& folder) {
         fs::create_symlink("/proc/self/fd/1", folder + "/stdout");
         return std::string("stdout");
       },
       0,
       [](const std::string& folder, const TRunResult& run) {
         EXPECT_TRUE(IsBackup(run.Out)) << run.Out;
         EXPECT_TRUE(S_ISLNK(Lstat(folder + "/stdout").st_mode));
         EXPECT_EQ(Entries(folder), std::set<std::string>{"stdout"});
       }},
      {"a directory is refused", false, false,
       [](CliProgram&, const std::string& folder) {
         fs::create_directory(folder + "/d");
         return std::string("d");
       },
       2,
       [](const std::string& folder, const TRunResult& run) {
         EXPECT_EQ(run.Err, "glowstep-cli: The backup file d is a directory.\n");
         EXPECT_EQ(Entries(folder), std::set<std::string>{"d"});
         EXPECT_TRUE(fs::is_empty(folder + "/d"));
       }},
      {"a planted FILE.partial link is left alone and its target untouched", false, true,
       [&](CliProgram&, const std::string& folder) {
         // A neighbour who may write to the shared folder plants a link where the old
         // temporary went.
         chmod(folder.c_str(), 02777);
         Write(folder + "/../victim", "precious", 0644);
         fs::create_symlink("../victim", folder + "/x.json.partial");
         lchown((folder + "/x.json.partial").c_str(), nobody->Uid, nobody->Gid);
         return std::string("x.json");
       },
       0,
       [](const std::string& folder, const TRunResult&) {
         EXPECT_EQ(ReadText(folder + "/../victim"), "precious");
         std::error_code notALink;
         EXPECT_EQ(fs::read_symlink(folder + "/x.json.partial", notALink), "../victim");
         EXPECT_TRUE(IsBackup(ReadText(folder + "/x.json")));
         EXPECT_EQ(Entries(folder), (std::set<std::string>{"x.json", "x.json.partial"}));
       }},
      {"a FILE.partial of the user's is kept", false, false,
       [](CliProgram&, const std::string& folder) {
         Write(folder + "/x.json.partial", "mine");
         return std::string("x.json");
       },
       0,
       [](const std::string& folder, const TRunResult&) {
         EXPECT_EQ(ReadText(folder + "/x.json.partial"), "mine");
         EXPECT_TRUE(IsBackup(ReadText(folder + "/x.json")));
       }},
      // The same for an ordinary user.
      {"a user's file keeps its mode", true, true,
       [&](CliProgram&, const std::string& folder) {
         Write(folder + "/f.json", "old", 0600);
         lchown((folder + "/f.json").c_str(), nobody->Uid, nobody->Gid);
         return std::string("f.json");
       },
       0,
       [&](const std::string& folder, const TRunResult&) {
         const struct stat status = Lstat(folder + "/f.json");
         EXPECT_EQ(status.st_mode & 07777, 0600U);
         EXPECT_EQ(status.st_uid, nobody->Uid);
         EXPECT_TRUE(IsBackup(ReadText(folder + "/f.json")));
         EXPECT_EQ(Entries(folder), std::set<std::string>{"f.json"});
       }},
      {"a user replaces root's file in the user's folder as the user's own", true, true,
       [](CliProgram&, const std::string& folder) {
         Write(folder + "/f.json", "old", 0644);
         return std::string("f.json");
       },
       0,
       [&](const std::string& folder, const TRunResult&) {
         EXPECT_EQ(Lstat(folder + "/f.json").st_uid, nobody->Uid);  // not the user's to give
         EXPECT_TRUE(IsBackup(ReadText(folder + "/f.json")));
       }},
      {"a user's name for standard output is written through", true, true,
       [&](CliProgram&, const std::string& folder) {
         fs::create_symlink("/proc/self/fd/1", folder + "/stdout");
         return std::string("stdout");
       },
       0,
       [](const std::string& folder, const TRunResult&) {
         EXPECT_TRUE(IsBackup(ReadText(folder + "/../out-nobody")));
         EXPECT_TRUE(S_ISLNK(Lstat(folder + "/stdout").st_mode));
       }},
  };

  const std::string whyNotAsNobody = WhyNotAsNobody();
  const std::string whyNoDevices = WhyNoDeviceNodes(Root);
  int index = 0;
  for (const TTargetCase& test : cases) {
    SCOPED_TRACE(test.Name);
    std::string whyNot;
    if (test.NeedsRoot && geteuid() != 0) whyNot = "only root may do what the case needs";
    if (test.AsNobody) whyNot = whyNotAsNobody;
    if (whyNot.empty() && std::string_view(test.Name).find("device") != std::string_view::npos)
      whyNot = whyNoDevices;
    if (!whyNot.empty()) {
      std::cout << "[  SKIPPED ] " << test.Name << ": " << whyNot << '\n';
      continue;
    }
    const std::string folder =
        Folder("case" + std::to_string(index++), test.AsNobody ? nobody : std::nullopt);
    TProgramRun launch;
    launch.Args = {"backup", test.Prepare(*this, folder)};
    launch.AsNobody = test.AsNobody;
    if (test.AsNobody) {
      // Standard output goes to a file of the user's, which the user may open again by name.
      launch.Out = TProgramRun::TOut::File;
      launch.OutFile = folder + "/../out-nobody";
      Write(launch.OutFile, "", 0644);
      lchown(launch.OutFile.c_str(), nobody->Uid, nobody->Gid);
    }
    const TRunResult run = RunProgram(launch, folder);
    EXPECT_EQ(run.Status, test.Status) << run.Err;
    EXPECT_EQ(run.Signal, 0);
    test.Check(folder, run);
    if (peer >= 0) close(peer);
    peer = -1;
  }
}

// --- signals ------------------------------------------------------------------------------------

TEST_F(CliProgram, AFileSizeLimitLeavesTheOldFileAndNoTemporary) {
  const std::string folder = Folder("limit");
  Write(folder + "/f.json", "old");
  TProgramRun launch;
  launch.Args = {"backup", "f.json"};
  launch.FileSizeLimit = 0;  // the shell's "ulimit -f 0"
  const TRunResult run = RunProgram(launch, folder);
  EXPECT_EQ(run.Signal, SIGXFSZ) << run.Status << ' ' << run.Err;
  EXPECT_EQ(ReadText(folder + "/f.json"), "old");
  EXPECT_EQ(Entries(folder), std::set<std::string>{"f.json"});
}

// The backup's temporary exists from before the controller is asked until the backup is in
// place; a signal that comes meanwhile (here: while the tool waits for a controller that does not
// answer) ends the tool as it would have, and takes the temporary with it.
void BackupInterruptedBy(const std::string& file, int number) {
  const rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  TSimPlatform sim;
  TSimInterfaceSpec silent;
  silent.ProductString = u"Glowstep 3.2";
  sim.Plug(silent);
  TTestHost host(&sim);
  host.OnStarted = [number](TMainLoop& loop) { loop.Post([number] { raise(number); }); };
  RunCli({"--timeout", "5000", "backup", file}, host);
}

TEST_F(CliProgram, ASignalDuringABackupLeavesTheOldFileAndNoTemporary) {
  const std::string folder = Folder("signals");
  const std::string file = folder + "/f.json";
  for (const int number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2,
                           SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF}) {
    SCOPED_TRACE(strsignal(number));
    Write(file, "old");
    EXPECT_EXIT(BackupInterruptedBy(file, number), ::testing::KilledBySignal(number), "");
    EXPECT_EQ(ReadText(file), "old");
    EXPECT_EQ(Entries(folder), std::set<std::string>{"f.json"});
  }
}

// --- standard output and error --------------------------------------------------------------

struct TOutputCase {
  const char* Name;
  std::vector<std::string> Args;
  TProgramRun::TOut Out;
  bool ErrToFullDevice;
  bool IgnorePipeSignal;
  int Status;
  int Signal;
  std::string Err;
};

TEST_F(CliProgram, OutputThatCannotBeWrittenExits4WithOneMessage) {
  const std::string folder = Folder("output");
  const std::string whyNoDevices = WhyNoDeviceNodes(folder);
  const std::string full = folder + "/full";
  if (whyNoDevices.empty()) mknod(full.c_str(), S_IFCHR | 0666, kFullDevice);
  const std::string noSpace =
      "glowstep-cli: Standard output cannot be written: No space left on device.\n";
  const std::vector<TOutputCase> cases = {
      {"backup to a full standard output",
       {"backup", "-"},
       TProgramRun::TOut::File,
       false,
       false,
       4,
       0,
       noSpace},
      // With --json the loss is told as JSON, as every failure is.
      {"read to a full standard output",
       {"read", "--json"},
       TProgramRun::TOut::File,
       false,
       false,
       4,
       0,
       "{\"format\":\"glowstep-error\",\"version\":1,\"status\":4,\"error\":\"io\","
       "\"message\":\"Standard output cannot be written: No space left on device.\","
       "\"device\":null}\n"},
      {"write to a full standard output",
       {"write", "on_time=25"},
       TProgramRun::TOut::File,
       false,
       false,
       4,
       0,
       noSpace},
      {"list to a full standard output",
       {"list"},
       TProgramRun::TOut::File,
       false,
       false,
       4,
       0,
       noSpace},
      {"backup to a closed standard output",
       {"backup", "-"},
       TProgramRun::TOut::Closed,
       false,
       false,
       4,
       0,
       "glowstep-cli: Standard output cannot be written: Bad file descriptor.\n"},
      {"nothing for a closed standard output",
       {"backup", "f.json"},
       TProgramRun::TOut::Closed,
       false,
       false,
       0,
       0,
       "Saved the settings of Glowstep 3.2 at sim:hid#1 to f.json.\n"},
      {"a message to a full standard error",
       {"backup", "g.json"},
       TProgramRun::TOut::Capture,
       true,
       false,
       4,
       0,
       ""},
      // The reader went away: the tool ends quietly, as a writer to a closed pipe does.
      {"a reader gone", {"read"}, TProgramRun::TOut::ReaderGone, false, false, -1, SIGPIPE, ""},
      {"a reader gone, the signal ignored",
       {"read"},
       TProgramRun::TOut::ReaderGone,
       false,
       true,
       4,
       0,
       "glowstep-cli: Standard output cannot be written: Broken pipe.\n"},
  };
  for (const TOutputCase& test : cases) {
    SCOPED_TRACE(test.Name);
    const bool needsDevice = test.Out == TProgramRun::TOut::File || test.ErrToFullDevice;
    if (needsDevice && !whyNoDevices.empty()) {
      std::cout << "[  SKIPPED ] " << test.Name << ": " << whyNoDevices << '\n';
      continue;
    }
    TProgramRun launch;
    launch.Args = test.Args;
    launch.Out = test.Out;
    launch.OutFile = full;
    if (test.ErrToFullDevice) launch.ErrFile = full;
    launch.IgnorePipeSignal = test.IgnorePipeSignal;
    const TRunResult run = RunProgram(launch, folder);
    EXPECT_EQ(run.Status, test.Status) << run.Err;
    EXPECT_EQ(run.Signal, test.Signal) << run.Err;
    EXPECT_EQ(run.Err, test.Err);
  }
}

}  // namespace
}  // namespace glowstep::testing
