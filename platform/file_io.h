// The station's file layer: every write to the settings file and the report goes through
// these hooks, so tests can make any open, write, fsync, rename or close fail.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

struct FileOps {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, size_t size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*close)(int fd);
};

// The hooks in use; tests replace single members and restore them with ResetFileOps().
FileOps& Files();
void ResetFileOps();

// Replaces the file's whole content so that a crash leaves the old or the new content:
// a temporary file in the same directory, write, fsync, rename, fsync of the directory.
// An existing file that is not writable is refused. Returns false on any failure, with the
// old file as it was and no temporary file left behind.
bool ReplaceFileAtomically(const std::string& path, const std::string& content);

// Appends bytes with a single write to a file opened for append (created when missing), then
// fsync. Returns false when it cannot be opened or the bytes did not all reach the disk.
enum class AppendResult { kAppended, kCannotOpen, kWriteFailed };
AppendResult AppendDurably(const std::string& path, const void* data, size_t size);

}  // namespace platform
