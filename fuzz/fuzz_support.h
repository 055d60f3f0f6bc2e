// Helpers shared by the fuzz targets: inputs as files without touching the disk,
// and a check that stops the run with a message when an invariant breaks.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vs32::fuzz {

// An anonymous in-memory file holding the input; path() opens it again by name,
// so code that takes a path reads exactly these bytes.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) {
    fd_ = ::memfd_create("vs32fuzz", MFD_CLOEXEC);
    if (fd_ < 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Like assert, but also in optimised builds: a broken invariant is a finding.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace vs32::fuzz

#define VS32_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::vs32::fuzz::Fail(#condition, __FILE__, __LINE__))
