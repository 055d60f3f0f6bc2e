// Vs32RxC under a service manager: the test plays systemd's part on a
// NOTIFY_SOCKET of its own and sees READY=1 with a status line, watchdog pings
// while audio comes through a pipe, none once the pipe stalls, and STOPPING=1
// when the pipe ends.
#include "console/service_notify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "console/pipe_process.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A unix datagram socket bound to a path, as systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return bound_; }

  struct Message {
    Clock::time_point at;
    std::string text;
  };
  // Collects what arrives within `duration`.
  void Collect(std::chrono::milliseconds duration) {
    const auto end = Clock::now() + duration;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) messages.push_back({Clock::now(), std::string(buf, static_cast<size_t>(n))});
    }
  }
  int Count(const std::string& what, Clock::time_point from, Clock::time_point to) const {
    int n = 0;
    for (const auto& m : messages)
      n += m.at >= from && m.at < to && m.text.find(what) != std::string::npos;
    return n;
  }

  std::vector<Message> messages;

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST(ServiceNotify, ReadyStatusPingsWhileAudioComesNoneWhenItStallsStoppingAtItsEnd) {
  if (!ServiceNotify::Available()) GTEST_SKIP() << "built without libsystemd (libsystemd-dev)";
  test::TempDir dir;
  NotifySocket socket(dir / "notify");
  ASSERT_TRUE(socket.bound());
  test::WriteFile(dir / "station.INI",
                  "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n[PSKREPORTER]\nUPLOAD_SPOT=0\n");
  test::PipeProcess p;
  // A watchdog of one second: a ping every half second while blocks come.
  ASSERT_TRUE(p.Start({test::BuiltProgram("Vs32RxC"), "--input", "-", "--rate", "12000"},
                      dir.path().string(),
                      {"VS32_INI=" + (dir / "station.INI").string(),
                       "NOTIFY_SOCKET=" + (dir / "notify").string(), "WATCHDOG_USEC=1000000"}));
  // Three seconds of live-paced audio: one second of samples every 0.3 s.
  const size_t second = 12000 * 2;
  const auto feeding = Clock::now();
  p.Feed(std::string(8 * second, '\0'), false, second, 300ms);
  socket.Collect(3000ms);
  const auto stalled = Clock::now();
  // The pipe stays open but brings nothing.
  socket.Collect(3000ms);
  ASSERT_FALSE(socket.messages.empty()) << p.err();
  EXPECT_NE(socket.messages.front().text.find("READY=1"), std::string::npos);
  EXPECT_NE(socket.messages.front().text.find("\nSTATUS="), std::string::npos);
  EXPECT_NE(socket.messages.front().text.find(" known calls"), std::string::npos)
      << socket.messages.front().text;
  EXPECT_GE(socket.Count("WATCHDOG=1", feeding, stalled), 3);
  // A second for the last blocks to go through, then silence.
  EXPECT_EQ(socket.Count("WATCHDOG=1", stalled + 1000ms, Clock::now()), 0);

  p.StopFeeding();
  p.CloseInput();
  EXPECT_EQ(p.WaitExit(15s), 0) << p.err();
  socket.Collect(200ms);
  ASSERT_FALSE(socket.messages.empty());
  EXPECT_NE(socket.messages.back().text.find("STOPPING=1"), std::string::npos);
}

}  // namespace
}  // namespace vs32
