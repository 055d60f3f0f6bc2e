#include "console/console_input.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace vs32 {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

StopSignals::StopSignals() {
  const sigset_t set = StopSet();
  maskSaved_ = pthread_sigmask(SIG_BLOCK, &set, &oldMask_) == 0;
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  pipeSaved_ = ::sigaction(SIGPIPE, &ignore, &oldPipe_) == 0;
}

StopSignals::~StopSignals() {
  if (fd_ >= 0) ::close(fd_);
  if (pipeSaved_) ::sigaction(SIGPIPE, &oldPipe_, nullptr);
  if (maskSaved_) {
    // A signal still pending would strike as soon as it is unblocked; take
    // it off first, it has been answered already.
    const sigset_t set = StopSet();
    sigset_t pending;
    timespec zero{};
    while (sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
            sigismember(&pending, SIGHUP) == 1)) {
      if (sigtimedwait(&set, nullptr, &zero) < 0) break;
    }
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
  }
}

void StopSignals::Drain() {
  if (fd_ < 0) return;
  signalfd_siginfo info;
  for (;;) {
    const ssize_t n = ::read(fd_, &info, sizeof info);
    if (n == static_cast<ssize_t>(sizeof info)) {
      if (signal_ == 0) signal_ = static_cast<int>(info.ssi_signo);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

bool StopSignals::requested() {
  Drain();
  return signal_ != 0;
}

bool StopSignals::WaitFor(std::chrono::milliseconds timeout) {
  if (requested()) return true;
  if (fd_ < 0) {
    ::usleep(static_cast<useconds_t>(timeout.count() * 1000));
    return requested();
  }
  pollfd p{fd_, POLLIN, 0};
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno == EINTR) continue;
    break;
  }
  return requested();
}

TerminalKeys::TerminalKeys(int fd) : fd_(fd) {
  if (!::isatty(fd_) || ::tcgetattr(fd_, &original_) != 0) return;
  saved_ = true;
  termios keys = original_;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  ::tcsetattr(fd_, TCSANOW, &keys);
}

TerminalKeys::~TerminalKeys() {
  Restore();
}

void TerminalKeys::Restore() {
  if (!saved_ || restored_) return;
  restored_ = true;
  ::tcsetattr(fd_, TCSANOW, &original_);
}

bool TerminalKeys::WaitForKey(int wakeFd) {
  if (!saved_ || restored_) return false;
  pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  const nfds_t count = wakeFd >= 0 ? 2 : 1;
  for (;;) {
    const int r = ::poll(p, count, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (count == 2 && (p[1].revents & POLLIN)) return false;
    if (p[0].revents & POLLIN) {
      char key;
      const ssize_t n = ::read(fd_, &key, 1);
      if (n < 0 && errno == EINTR) continue;
      return n == 1;
    }
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
  }
}

}  // namespace vs32
