// Backup files on disk: read with a size limit, and written so that what stood at the name is
// never lost, half written or replaced when it was not a file.
#pragma once

#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "cli/controller_session.h"

namespace glowstep {

// The text of the backup at `path` ("-": `standardInput`). ECliFailure Usage when it cannot be
// read, is a directory, or is larger than kMaxBackupSize (found out by reading one byte more and
// no further).
std::string ReadBackupText(const std::string& path, std::istream& standardInput);

// The refusals of a backup's destination, the same on every system.
ECliFailure BackupIsADirectory(const std::string& path);
ECliFailure BackupCannotBeWritten(const std::string& path, const std::string& reason);

// Where a backup is written. What stands at the name decides how:
//  - a regular file, or nothing yet: a temporary file made beside it under a fresh random name
//    (never an existing name, never through a link) takes the text, is flushed to the disk and
//    renamed over the name, so the name holds the old content or the new, never a part. A file
//    replaced keeps its permissions and, where this user may give them, its owner and group
//    (on Windows the system's replace keeps its attributes and security).
//  - a symbolic link: followed; what it leads to is written by these rules.
//  - anything else that is not a directory (a device, a FIFO, a socket, a name that stands for a
//    file already open such as /dev/stdout): written through in place, never replaced. A file
//    already open is written after what it holds.
//  - a directory: refused.
// The temporary goes on every failure, and with the program when a signal it can catch ends it
// meanwhile (on Windows: Ctrl+C, Ctrl+Break and closing the console).
class TBackupDestination {
 public:
  // Opens `path` (made before any device is asked, so a bad name costs nothing). ECliFailure
  // Usage for a directory, Io when it cannot be opened or the temporary cannot be made.
  static std::unique_ptr<TBackupDestination> Open(const std::string& path);

  TBackupDestination(const TBackupDestination&) = delete;
  TBackupDestination& operator=(const TBackupDestination&) = delete;
  // Without a Commit the temporary goes and what stood at the name stays.
  virtual ~TBackupDestination() = default;

  // Writes `text` and puts it in place. ECliFailure Io when that fails; the old content stays.
  virtual void Commit(std::string_view text) = 0;

 protected:
  TBackupDestination() = default;
};

}  // namespace glowstep
