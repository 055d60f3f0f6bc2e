// Runs a program in a pseudo-terminal for the console tests: the child gets a
// new session with the terminal as its controlling terminal and as standard
// input, output and error; the test reads what it draws (into a VtScreen),
// types keys, sends signals and waits for its exit.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "console/vt_screen.h"

namespace vs32::test {

class PtyProcess {
 public:
  static constexpr int kRows = 24;
  static constexpr int kColumns = 80;

  PtyProcess() : screen_(kRows, kColumns) {}
  ~PtyProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  // Starts argv[0] with the arguments, in folder `cwd`, with the extra
  // environment entries "NAME=value" (TERM is xterm). False when the terminal
  // or the process could not be made.
  bool Start(const std::vector<std::string>& argv, const std::string& cwd,
             const std::vector<std::string>& env) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return false;
    const char* name = ::ptsname(master_);
    if (name == nullptr) return false;
    slaveName_ = name;
    // Kept open by the test so that the terminal's settings can be read after
    // the program has ended.
    slave_ = ::open(slaveName_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return false;
    winsize size{};
    size.ws_row = kRows;
    size.ws_col = kColumns;
    ::ioctl(slave_, TIOCSWINSZ, &size);
    ::tcgetattr(slave_, &initial_);

    std::vector<std::string> environment = env;
    environment.push_back("TERM=xterm");
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      ::setsid();
      const int tty = ::open(slaveName_.c_str(), O_RDWR);
      if (tty < 0) ::_exit(126);
      ::ioctl(tty, TIOCSCTTY, 0);
      ::dup2(tty, 0);
      ::dup2(tty, 1);
      ::dup2(tty, 2);
      if (tty > 2) ::close(tty);
      if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
      for (const auto& e : environment) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    return true;
  }

  // Reads what the program writes until `done` holds or `timeout` has passed.
  // True when `done` held.
  bool WaitFor(const std::function<bool(const VtScreen&)>& done,
               std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (done(screen_)) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      Pump(static_cast<int>(std::min<long>(left.count(), 100)));
    }
  }
  // Reads for `duration`, whatever comes.
  void ReadFor(std::chrono::milliseconds duration) {
    WaitFor([](const VtScreen&) { return false; }, duration);
  }

  // Waits until the screen row (1-based) contains `text`.
  bool WaitForRow(int row, const std::string& text, std::chrono::milliseconds timeout) {
    return WaitFor([&](const VtScreen& s) { return s.Row(row).find(text) != std::string::npos; },
                   timeout);
  }

  void Type(const std::string& keys) {
    ssize_t ignored = ::write(master_, keys.data(), keys.size());
    (void)ignored;
  }
  void Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);  // never -1: that would reach every process
  }
  // Hangs the terminal up, as closing a terminal window does.
  void HangUp() {
    ::close(master_);
    master_ = -1;
  }

  // True while the program has not ended.
  bool Running() {
    if (exited_) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) Reap(status);
    return !exited_;
  }

  // Waits for the program to end, reading its output meanwhile. Returns the
  // exit status, or -1 when it ended by a signal, or -2 on timeout.
  int WaitExit(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
      if (std::chrono::steady_clock::now() >= end) return -2;
      if (master_ >= 0) {
        Pump(20);
      } else {
        ::usleep(20000);
      }
    }
    if (master_ >= 0) Pump(50);  // what was still buffered
    return status_;
  }

  const VtScreen& screen() const { return screen_; }
  const std::string& output() const { return output_; }
  // The terminal's settings now, and as they were before the program started.
  termios CurrentModes() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
  }
  const termios& InitialModes() const { return initial_; }
  pid_t pid() const { return pid_; }

 private:
  void Pump(int timeoutMs) {
    if (master_ < 0) {
      ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
      return;
    }
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return;
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) {
      output_.append(buf, static_cast<size_t>(n));
      screen_.Feed(std::string_view(buf, static_cast<size_t>(n)));
    } else {
      ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    }
  }
  void Reap(int status) {
    exited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
  termios initial_{};
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  VtScreen screen_;
  std::string output_;
};

}  // namespace vs32::test
