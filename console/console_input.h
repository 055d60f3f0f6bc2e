// Key input and stop signals of the console program.
//
// TerminalKeys puts a terminal on standard input into single-key mode (no line
// editing, no echo, so stray keys do not scribble over the screen) and restores
// it. Ctrl+C still raises SIGINT.
//
// StopSignals turns SIGINT, SIGTERM and SIGHUP into a readable descriptor
// (signalfd): the signals are blocked before any thread starts and are then
// picked up by the main loop between its steps, so no work happens inside a
// signal handler. SIGPIPE is ignored: a closed output pipe is not a reason to die.
#pragma once

#include <signal.h>
#include <termios.h>

#include <chrono>

namespace vs32 {

class StopSignals {
 public:
  // Blocks SIGINT, SIGTERM and SIGHUP in the calling thread (threads started
  // later inherit the mask) and opens the descriptor. Call before any thread
  // is started.
  StopSignals();
  // Closes the descriptor and puts the old signal mask and SIGPIPE handling back.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Readable while a stop signal is pending.
  int fd() const { return fd_; }
  // True once a stop signal has arrived; never waits.
  bool requested();
  // Waits up to `timeout` for a stop signal; true when one has arrived (also
  // an earlier one).
  bool WaitFor(std::chrono::milliseconds timeout);
  // The signal that asked to stop, 0 while none.
  int signalNumber() const { return signal_; }

 private:
  void Drain();

  int fd_ = -1;
  int signal_ = 0;
  bool maskSaved_ = false;
  sigset_t oldMask_{};
  bool pipeSaved_ = false;
  struct sigaction oldPipe_ {};
};

class TerminalKeys {
 public:
  // fd: standard input. When it is a terminal its settings are saved and the
  // terminal is put into single-key mode without echo.
  explicit TerminalKeys(int fd);
  ~TerminalKeys();  // Restore()
  TerminalKeys(const TerminalKeys&) = delete;
  TerminalKeys& operator=(const TerminalKeys&) = delete;

  bool terminal() const { return saved_; }
  // Puts the saved settings back (once; later calls do nothing).
  void Restore();

  // Waits for one key press. Returns at once when the input is not a terminal
  // (nobody could press a key) and when `wakeFd` (a stop signal) becomes
  // readable. True when a key was read.
  bool WaitForKey(int wakeFd);

 private:
  int fd_;
  bool saved_ = false;
  bool restored_ = false;
  termios original_{};
};

}  // namespace vs32
