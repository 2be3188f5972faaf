#include "cli/backup_file.h"

#include <filesystem>
#include <fstream>

#include "cli/escaped_text.h"
#include "cli/settings_document.h"

namespace glowstep {

namespace {

std::string Named(const std::string& path) {
  return path == "-" ? std::string("The backup on standard input")
                     : "The backup file " + Escaped(path);
}

}  // namespace

ECliFailure BackupIsADirectory(const std::string& path) {
  return {TExitStatus::Usage, Named(path) + " is a directory."};
}

ECliFailure BackupCannotBeWritten(const std::string& path, const std::string& reason) {
  return {TExitStatus::Io, Named(path) + " cannot be written: " + reason + "."};
}

std::string ReadBackupText(const std::string& path, std::istream& standardInput) {
  std::ifstream file;
  std::istream* stream = &standardInput;
  if (path != "-") {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) throw BackupIsADirectory(path);
    file.open(path, std::ios::binary);
    if (!file) throw ECliFailure(TExitStatus::Usage, Named(path) + " cannot be read.");
    stream = &file;
  }
  // One byte more than a backup may have tells a larger file from one at the limit.
  std::string text(kMaxBackupSize + 1, '\0');
  stream->read(text.data(), static_cast<std::streamsize>(text.size()));
  if (stream->bad()) throw ECliFailure(TExitStatus::Usage, Named(path) + " cannot be read.");
  text.resize(static_cast<std::size_t>(stream->gcount()));
  if (text.size() > kMaxBackupSize) {
    throw ECliFailure(TExitStatus::Usage,
                      Named(path) + " is larger than " + std::to_string(kMaxBackupSize / 1024) +
                          " KiB: it is not a backup (a backup is under 1 KiB).");
  }
  return text;
}

}  // namespace glowstep
