// The backup's destination on Windows: see backup_file.h for the rules. A file is replaced with
// the system's own replace (ReplaceFileW keeps the old file's attributes and security), from a
// temporary that GetTempFileNameW makes under a name of its own in the same folder.
#include "base/windows_api.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "cli/backup_file.h"
#include "hid/hid_backend.h"

namespace glowstep {

namespace {

std::string Reason(DWORD error) {
  std::string text = ErrorCodeText(error);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// Paths come from the command line in the system's 8-bit code page.
std::wstring Wide(const std::string& text) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::wstring FolderOf(const std::wstring& path) {
  const auto separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return L".";
  return path.substr(0, separator + 1);
}

bool WriteAll(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
    if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
    text.remove_prefix(written);
  }
  return true;
}

// --- The temporary and the console's end -----------------------------------------------------
//
// Ctrl+C, Ctrl+Break and closing the console end the program from a thread of the system's; the
// handler marks the temporary for deletion (it goes when the program's handle closes) and lets
// the system go on ending the program.

std::mutex TemporaryLock;
std::wstring TemporaryPath;  // empty: none

BOOL WINAPI RemoveTemporaryOnEnd(DWORD /*event*/) {
  std::lock_guard lock(TemporaryLock);
  if (!TemporaryPath.empty()) DeleteFileW(TemporaryPath.c_str());
  TemporaryPath.clear();
  return FALSE;
}

class TReplacement final : public TBackupDestination {
 public:
  // `attributes`: those of the file replaced, none for a new name.
  TReplacement(std::string path, std::wstring target, std::optional<DWORD> attributes)
      : Path_(std::move(path)), Target_(std::move(target)), Attributes_(attributes) {
    SetConsoleCtrlHandler(RemoveTemporaryOnEnd, TRUE);
    std::vector<wchar_t> name(MAX_PATH + 1, L'\0');
    {
      std::lock_guard lock(TemporaryLock);
      if (GetTempFileNameW(FolderOf(Target_).c_str(), L"gls", 0, name.data()) == 0) {
        const DWORD error = GetLastError();
        SetConsoleCtrlHandler(RemoveTemporaryOnEnd, FALSE);
        throw BackupCannotBeWritten(Path_, Reason(error));
      }
      TemporaryPath = name.data();
    }
    File_ = CreateFileW(name.data(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, TRUNCATE_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (File_ == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      Discard();
      throw BackupCannotBeWritten(Path_, Reason(error));
    }
  }

  ~TReplacement() override {
    if (File_ != INVALID_HANDLE_VALUE) CloseHandle(File_);
    Discard();
  }

  void Commit(std::string_view text) override {
    DWORD error = 0;
    if (!WriteAll(File_, text) || !FlushFileBuffers(File_)) error = GetLastError();
    CloseHandle(std::exchange(File_, INVALID_HANDLE_VALUE));
    if (error == 0) {
      std::lock_guard lock(TemporaryLock);
      // The system's replace keeps the old file's security; its visible attributes are kept here.
      constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
      if (Attributes_ && (*Attributes_ & kKept) != 0)
        SetFileAttributesW(TemporaryPath.c_str(), *Attributes_ & kKept);
      const bool moved =
          Attributes_
              ? ReplaceFileW(Target_.c_str(), TemporaryPath.c_str(), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                             nullptr, nullptr) != 0
              : MoveFileExW(TemporaryPath.c_str(), Target_.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
      if (moved) {
        TemporaryPath.clear();
      } else {
        error = GetLastError();
      }
    }
    Discard();
    if (error != 0) throw BackupCannotBeWritten(Path_, Reason(error));
  }

 private:
  void Discard() {
    {
      std::lock_guard lock(TemporaryLock);
      if (!TemporaryPath.empty()) DeleteFileW(TemporaryPath.c_str());
      TemporaryPath.clear();
    }
    SetConsoleCtrlHandler(RemoveTemporaryOnEnd, FALSE);
  }

  std::string Path_;
  std::wstring Target_;
  std::optional<DWORD> Attributes_;
  HANDLE File_ = INVALID_HANDLE_VALUE;
};

// A device (NUL, CON, a serial port) or a pipe: written through the handle already open.
class TWriteThrough final : public TBackupDestination {
 public:
  TWriteThrough(std::string path, HANDLE file) : Path_(std::move(path)), File_(file) {}
  ~TWriteThrough() override {
    if (File_ != INVALID_HANDLE_VALUE) CloseHandle(File_);
  }

  void Commit(std::string_view text) override {
    const DWORD error = WriteAll(File_, text) ? 0 : GetLastError();
    CloseHandle(std::exchange(File_, INVALID_HANDLE_VALUE));
    if (error != 0) throw BackupCannotBeWritten(Path_, Reason(error));
  }

 private:
  std::string Path_;
  HANDLE File_;
};

}  // namespace

std::unique_ptr<TBackupDestination> TBackupDestination::Open(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw BackupIsADirectory(path);
  }
  // Opened once, as a pipe's server sees one client: the handle is kept for what is not a file.
  // The open follows links.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
      return std::make_unique<TReplacement>(path, wide, std::nullopt);
    throw BackupCannotBeWritten(path, Reason(error));
  }
  if (GetFileType(file) != FILE_TYPE_DISK) return std::make_unique<TWriteThrough>(path, file);
  // A file: what the name leads to is replaced.
  BY_HANDLE_FILE_INFORMATION information{};
  GetFileInformationByHandle(file, &information);
  std::vector<wchar_t> target(32768, L'\0');
  const DWORD length =
      GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()),
                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (length == 0 || length >= target.size()) throw BackupCannotBeWritten(path, Reason(error));
  return std::make_unique<TReplacement>(path, std::wstring(target.data(), length),
                                        information.dwFileAttributes);
}

}  // namespace glowstep
