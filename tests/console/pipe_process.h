// Runs a program with pipes on its standard input, output and error, as a
// shell pipeline or a service manager does: the test feeds its input (audio)
// from a thread, reads both output streams apart, sends signals and waits for
// its exit.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vs32::test {

class PipeProcess {
 public:
  PipeProcess() = default;
  ~PipeProcess() {
    StopFeeding();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    for (int fd : {in_.load(), out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  PipeProcess(const PipeProcess&) = delete;
  PipeProcess& operator=(const PipeProcess&) = delete;

  // Starts argv[0] in `cwd` with the extra environment entries "NAME=value".
  bool Start(const std::vector<std::string>& argv, const std::string& cwd,
             const std::vector<std::string>& env) {
    // A program that ends while being fed must not take the test with it.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      return false;
    }
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
      for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    return true;
  }

  // Writes `bytes` to the program's input from a thread, then closes the
  // input when `close` (the end of the audio), else keeps it open (a source
  // that stalls). A program that stops reading leaves the thread blocked
  // until StopFeeding.
  // `chunk` bytes at a time with `gap` between them (the pace of live audio);
  // by default as fast as the program reads.
  void Feed(std::string bytes, bool close, size_t chunk = 65536,
            std::chrono::milliseconds gap = std::chrono::milliseconds(0)) {
    feeder_ = std::thread([this, bytes = std::move(bytes), close, chunk, gap] {
      size_t at = 0;
      while (at < bytes.size() && !stopFeeding_) {
        pollfd p{in_, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const size_t end = std::min(bytes.size(), (at / chunk + 1) * chunk);
        const ssize_t n = ::write(in_, bytes.data() + at, end - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
        if (at % chunk == 0 && gap.count() > 0) std::this_thread::sleep_for(gap);
      }
      fed_ = at;
      if (close) CloseInput();
    });
  }
  void StopFeeding() {
    stopFeeding_ = true;
    if (feeder_.joinable()) feeder_.join();
  }
  void CloseInput() {
    const int fd = in_.exchange(-1);
    if (fd >= 0) ::close(fd);
  }
  size_t fed() const { return fed_; }

  // Reads both outputs until `done(out, err)` holds or `timeout` has passed.
  bool WaitFor(const std::function<bool(const std::string&, const std::string&)>& done,
               std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (done(out_text_, err_text_)) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      Pump(50);
    }
  }
  void ReadFor(std::chrono::milliseconds duration) {
    WaitFor([](const std::string&, const std::string&) { return false; }, duration);
  }

  void Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);  // never -1: that would reach every process
  }

  // Waits for the exit, reading meanwhile: the exit status, -1 when ended by
  // a signal, -2 on timeout.
  int WaitExit(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        Pump(0);
        while (Pump(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() >= end) return -2;
      Pump(20);
    }
  }

  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }

 private:
  // True when something was read.
  bool Pump(int timeoutMs) {
    pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(p, 2, timeoutMs) <= 0) return false;
    bool any = false;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? out_text_ : err_text_).append(buf, static_cast<size_t>(n));
        any = true;
      }
    }
    if (!any) ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    return any;
  }

  pid_t pid_ = -1;
  std::atomic<int> in_{-1};
  int out_ = -1;
  int err_ = -1;
  std::thread feeder_;
  std::atomic<bool> stopFeeding_{false};
  std::atomic<size_t> fed_{0};
  std::string out_text_;
  std::string err_text_;
};

}  // namespace vs32::test
