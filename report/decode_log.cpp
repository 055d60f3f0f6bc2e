#include "report/decode_log.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vs32 {

namespace {

constexpr int kHeaderLineEnds = 3;  // header line, empty line, column header line

std::string Reason(const std::filesystem::path& path, std::string_view what, int code) {
  std::string text = path.string();
  text += ": ";
  text += what;
  if (code != 0) {
    text += ": ";
    text += std::strerror(code);
  }
  return text;
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Writes everything, retrying short writes and interrupted calls. False with errno set.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Header line, empty line and column header line.
bool WriteHeaderBlock(int fd, std::string_view title, std::string_view columns) {
  return WriteAll(fd, title) && WriteAll(fd, "\n\n") && WriteAll(fd, columns) && WriteAll(fd, "\n");
}

bool WriteLine(int fd, std::string_view line) {
  return WriteAll(fd, line) && WriteAll(fd, "\n");
}

// Makes a freshly created file's content durable and closes it. False with errno set.
bool SyncAndClose(int fd) {
  const bool synced = ::fsync(fd) == 0;
  const int syncError = errno;
  const bool closed = ::close(fd) == 0;
  if (!synced) errno = syncError;
  return synced && closed;
}

// Creates a missing file exclusively and fills it through `fill`; a file that
// could not be written completely is removed again. False with errno set.
template <typename Fill>
bool CreateExclusive(const std::filesystem::path& path, Fill fill) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  if (!fill(fd)) {
    const int code = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = code;
    return false;
  }
  if (!SyncAndClose(fd)) {
    const int code = errno;
    ::unlink(path.c_str());
    errno = code;
    return false;
  }
  return true;
}

// Closes a file descriptor when the scope ends.
class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Copies `in` to `out`, putting "<line>\n" right after the third line end.
// Returns 1 when the line went in, 0 when the input ended before its third line
// end, -1 on a read or write failure (errno set).
int CopyWithInsert(int in, int out, std::string_view line) {
  std::array<char, 65536> buffer;
  int lineEnds = 0;
  bool inserted = false;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    std::string_view chunk(buffer.data(), static_cast<size_t>(n));
    if (!inserted) {
      size_t pos = 0;
      while (lineEnds < kHeaderLineEnds) {
        const size_t end = chunk.find('\n', pos);
        if (end == std::string_view::npos) break;
        ++lineEnds;
        pos = end + 1;
      }
      if (lineEnds == kHeaderLineEnds) {
        if (!WriteAll(out, chunk.substr(0, pos)) || !WriteLine(out, line)) return -1;
        chunk.remove_prefix(pos);
        inserted = true;
      }
    }
    if (!WriteAll(out, chunk)) return -1;
  }
  return inserted ? 1 : 0;
}

}  // namespace

std::string_view DecodeLogColumns(Program program) {
  return program == Program::kConsole ? kConsoleLogColumns : kWindowedLogColumns;
}

LogCreation EnsureDecodeLog(const std::filesystem::path& path, std::string_view logHeader,
                            Program program, std::string* error) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISREG(info.st_mode)) return LogCreation::kExists;
    SetError(error, Reason(path, "not a regular file", 0));
    return LogCreation::kFailed;
  }
  if (errno != ENOENT) {
    SetError(error, Reason(path, "cannot look at the decode log", errno));
    return LogCreation::kFailed;
  }
  const std::string_view columns = DecodeLogColumns(program);
  if (!CreateExclusive(path, [&](int fd) { return WriteHeaderBlock(fd, logHeader, columns); })) {
    SetError(error, Reason(path, "cannot create the decode log", errno));
    return LogCreation::kFailed;
  }
  return LogCreation::kCreated;
}

bool AppendTextLine(const std::filesystem::path& path, std::string_view line, std::string* error) {
  // O_NONBLOCK: a pipe in place of the file must not stall the main loop.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    SetError(error, Reason(path, "cannot open for appending", errno));
    return false;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISCHR(info.st_mode))) {
    ::close(fd);
    SetError(error, Reason(path, "not a regular file", 0));
    return false;
  }
  const bool written = WriteLine(fd, line);
  const int code = errno;
  if (!written && S_ISREG(info.st_mode)) {
    // A full disk must not leave part of the line behind: it would read back as
    // another decode or callsign.
    const int truncated = ::ftruncate(fd, info.st_size);
    (void)truncated;
  }
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    SetError(error, Reason(path, "cannot append", written ? errno : code));
    return false;
  }
  return true;
}

bool InsertDecodeLogLine(const std::filesystem::path& path, std::string_view logName,
                         std::string_view line, std::string* error) {
  // A log reached through a symbolic link is rewritten where the link points.
  std::filesystem::path target = path;
  struct stat linkInfo;
  if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved) {
      target = resolved;
      ::free(resolved);
    }
  }

  // O_NONBLOCK: a pipe in place of the log must not stall the main loop.
  const int in = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) {
    if (errno != ENOENT) {
      SetError(error, Reason(path, "cannot read the decode log", errno));
      return false;
    }
    // No old log: nothing to protect, write the new one in place.
    const bool created = CreateExclusive(target, [&](int fd) {
      return WriteHeaderBlock(fd, logName, kWindowedLogColumns) && WriteLine(fd, line);
    });
    if (!created) SetError(error, Reason(path, "cannot create the decode log", errno));
    return created;
  }
  FdCloser inCloser(in);

  struct stat info;
  if (::fstat(in, &info) != 0) {
    SetError(error, Reason(path, "cannot look at the decode log", errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    SetError(error, Reason(path, "not a regular file", 0));
    return false;
  }

  std::filesystem::path folder = target.parent_path();
  std::string temporary = (folder / target.filename()).string() + ".tmpXXXXXX";
  const int out = ::mkstemp(temporary.data());
  if (out < 0) {
    SetError(error, Reason(path, "cannot create a temporary file beside the decode log", errno));
    return false;
  }
  FdCloser outCloser(out);

  auto fail = [&](std::string_view what, int code) {
    ::close(outCloser.release());
    ::unlink(temporary.c_str());
    SetError(error, Reason(path, what, code));
    return false;
  };

  const int copied = CopyWithInsert(in, out, line);
  if (copied < 0) return fail("cannot copy the decode log", errno);
  if (copied == 0) {
    // Too short to hold a header block: start the log afresh, leaving none of
    // the old bytes behind.
    if (::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0 ||
        !WriteHeaderBlock(out, logName, kWindowedLogColumns) || !WriteLine(out, line)) {
      return fail("cannot write the decode log", errno);
    }
  }

  // The new log keeps the old one's permissions (and owner, where allowed).
  if (::fchmod(out, info.st_mode & 07777) != 0) return fail("cannot set permissions", errno);
  if (::fchown(out, info.st_uid, info.st_gid) != 0) {
    // Only a privileged process may give a file away; the owner is then ours.
  }
  if (!SyncAndClose(outCloser.release())) {
    const int code = errno;
    ::unlink(temporary.c_str());
    SetError(error, Reason(path, "cannot write the decode log", code));
    return false;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    SetError(error, Reason(path, "cannot replace the decode log", code));
    return false;
  }
  // Make the rename itself durable; a failure here leaves a complete log either way.
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

std::string UtcText(time_t t) {
  tm u{};
  gmtime_r(&t, &u);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", u.tm_year + 1900, u.tm_mon + 1,
                u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec);
  return buf;
}

}  // namespace vs32
