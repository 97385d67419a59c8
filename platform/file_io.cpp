#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

int DefaultOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

FileOps g_ops;

bool WriteAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = Files().write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

FileOps& Files() {
  static bool initialised = false;
  if (!initialised) {
    ResetFileOps();
    initialised = true;
  }
  return g_ops;
}

void ResetFileOps() { g_ops = FileOps{&DefaultOpen, &::write, &::fsync, &::rename, &::close}; }

bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (::access(path.c_str(), W_OK) != 0) return false;
    mode = st.st_mode & 07777;
  }
  const std::string temp = path + ".tmp";
  const int fd = Files().open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content.data(), content.size()) && Files().fsync(fd) == 0;
  if (Files().close(fd) != 0) ok = false;
  if (ok && Files().rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dir = Files().open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dir >= 0) {
    Files().fsync(dir);
    Files().close(dir);
  }
  return true;
}

AppendResult AppendDurably(const std::string& path, const void* data, size_t size) {
  const int fd = Files().open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return AppendResult::kCannotOpen;
  struct stat before {};
  const bool sized = ::fstat(fd, &before) == 0;
  bool ok = WriteAll(fd, static_cast<const char*>(data), size) && Files().fsync(fd) == 0;
  // A record cut short (disk full) is taken back, so no reader ever meets half a record.
  if (!ok && sized && ::ftruncate(fd, before.st_size) == 0) ::fsync(fd);
  if (Files().close(fd) != 0) ok = false;
  return ok ? AppendResult::kAppended : AppendResult::kWriteFailed;
}

}  // namespace platform
