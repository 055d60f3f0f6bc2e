// Faults for the fault tests: a full disk (a file size limit, which binds root
// too), an unprivileged user (for whom read-only really is read-only), and a
// child process to hold them, so that neither reaches the test runner and a
// hang ends as a result instead of a stuck test.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace vs32::test {

// Runs `setUp`, then `body`, in a child process and returns the text the body
// returned. "set-up failed" when setUp returned false; "hung" when the child
// had not finished after `seconds`; "child failed" when it ended otherwise.
inline std::string InChild(const std::function<bool()>& setUp,
                           const std::function<std::string()>& body, unsigned seconds = 20) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::alarm(seconds);
    const std::string said = setUp() ? body() : "set-up failed";
    const char* p = said.data();
    size_t left = said.size();
    while (left > 0) {
      const ssize_t n = ::write(fds[1], p, left);
      if (n <= 0) ::_exit(2);
      p += n;
      left -= static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string said;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
    said.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return "hung";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return said;
}

// No set-up.
inline bool NoFault() {
  return true;
}

// Files may not grow beyond `bytes`: a write past it fails with EFBIG ("File
// too large") instead of raising SIGXFSZ.
inline bool LimitFileSize(rlim_t bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// Drops root for the user "nobody"; no change for an unprivileged runner.
inline bool BecomeNobody() {
  return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
}

// Number of entries in a folder (temporary files left behind show up here).
inline size_t FilesIn(const std::filesystem::path& folder) {
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(folder);
       it != std::filesystem::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

}  // namespace vs32::test
