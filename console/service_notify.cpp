#include "console/service_notify.h"

#ifdef VS32_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace vs32 {

ServiceNotify::ServiceNotify() {
#ifdef VS32_HAVE_SYSTEMD
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0) interval_ = std::chrono::microseconds(usec);
#endif
}

bool ServiceNotify::Available() {
#ifdef VS32_HAVE_SYSTEMD
  return true;
#else
  return false;
#endif
}

void ServiceNotify::Send([[maybe_unused]] const std::string& state) {
#ifdef VS32_HAVE_SYSTEMD
  sd_notify(0, state.c_str());
#endif
}

void ServiceNotify::Ready(const std::string& status) {
  Send("READY=1\nSTATUS=" + status);
}

void ServiceNotify::Status(const std::string& status) {
  Send("STATUS=" + status);
}

void ServiceNotify::Stopping(const std::string& status) {
  Send("STOPPING=1\nSTATUS=" + status);
}

void ServiceNotify::Poll(Clock::time_point now, long blocks) {
  if (interval_.count() <= 0 || now < nextPing_) return;
  nextPing_ = now + interval_ / 2;
  // The first pass only takes the count: a ping needs blocks that came since.
  if (blocksAtPing_ >= 0 && blocks > blocksAtPing_) Send("WATCHDOG=1");
  blocksAtPing_ = blocks;
}

}  // namespace vs32
