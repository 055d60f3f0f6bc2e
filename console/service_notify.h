// Tells a service manager (systemd) how the receiver is doing, through
// sd_notify: READY=1 once the receive worker runs, STATUS= with the status
// line, and watchdog pings only while the worker keeps getting audio blocks,
// so that a unit's WatchdogSec= restarts a receiver whose input has stalled.
// Without NOTIFY_SOCKET, or in a build without libsystemd, nothing is sent.
#pragma once

#include <chrono>
#include <string>

namespace vs32 {

class ServiceNotify {
 public:
  using Clock = std::chrono::steady_clock;

  // Reads the watchdog interval the manager asks for (WATCHDOG_USEC).
  ServiceNotify();

  // False in a build without libsystemd: every call does nothing.
  static bool Available();

  void Ready(const std::string& status);
  void Status(const std::string& status);
  // Every pass of the main loop with the worker's block count: a ping every
  // half watchdog interval, when blocks have come since the last ping.
  void Poll(Clock::time_point now, long blocks);
  // Stopping: STOPPING=1 with the reason.
  void Stopping(const std::string& status);

  // Zero when the manager wants no pings.
  std::chrono::microseconds watchdogInterval() const { return interval_; }

 private:
  void Send(const std::string& state);

  std::chrono::microseconds interval_{0};
  Clock::time_point nextPing_{};
  long blocksAtPing_ = -1;
};

}  // namespace vs32
