// Spot upload while the spot server cannot be reached: its port answers with
// ICMP errors, its name does not resolve, or the name server does not answer.
// Three hours of results ticks (a known station decoded every ten minutes, the
// station's own report every twenty) run against a fake clock. No tick may
// stall the main loop, spots that cannot go are dropped and counted, and the
// reporter never tries again in a burst.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/known_calls.h"
#include "report/ipfix_listener.h"
#include "report/psk_reporter.h"
#include "report/results.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kStart = 1700000000;  // a multiple of 20 and of 400
constexpr int kHours = 3;
constexpr int kChannel = 615;

// Resolver calls, counted where a resolver thread that outlives its test can
// still reach them.
std::atomic<int> resolverCalls{0};

class Lines : public ResultsOutput {
 public:
  void Decode(const DecodeReport& report) override { marks.push_back(report.uploadMark); }
  std::vector<char> marks;
};

struct Outcome {
  std::chrono::microseconds longestTick{0};
  ReporterCounters counters;
  std::vector<char> marks;
};

// Runs the results ticks of kHours hours, one per second of the fake clock.
Outcome RunTicks(ReporterOptions options, const std::string& host, const std::string& port) {
  auto now = std::make_shared<std::atomic<std::int64_t>>(kStart);
  options.clock = [now] { return now->load(); };
  options.random = [] { return std::uint32_t{0}; };
  options.flushTimeout = std::chrono::milliseconds(0);
  SpotReporter reporter(options);
  ReporterRecord record{};
  StoreReporterAddress(record, host, port);

  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  settings.myCall = "Q9XYZ";
  settings.myLocator = "JO01AA";
  settings.uploadSpots = true;
  settings.useKnownCallsList = false;
  settings.callBlockSeconds = 0;
  auto known = std::make_unique<KnownCallTable>();
  FillKnownCall(known->entries[0], "QA1ABC", "JO65HO", 800.0);
  known->count.store(1);
  ChannelMask mask{};
  mask[kChannel] = 1;
  auto slots = std::make_unique<DecodeSlotTable>();
  Lines lines;
  ReporterSpotSender sender(reporter, record, settings, Program::kConsole);
  ResultsOptions resultsOptions;
  resultsOptions.writeFiles = false;
  ResultsProcessor results(Program::kConsole, settings, *known, mask, *slots, lines, &sender,
                           resultsOptions);
  std::vector<double> spectrum(DecodeSlotTable::kChannels, 1.0);
  spectrum[kChannel] = 50.0;

  Outcome out;
  std::uint32_t datagrams = 0;
  for (std::int64_t t = kStart; t < kStart + kHours * 3600; ++t) {
    now->store(t);
    if ((t - kStart) % 600 == 0) {
      slots->AcceptDecode(kChannel, 2, "QA1ABC", 15.0f, 1, static_cast<int>(t - 9), spectrum.data(),
                          5, false);
    }
    const auto before = Clock::now();
    results.Tick(static_cast<int>(t), 0.5f);
    out.longestTick =
        std::max(out.longestTick,
                 std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before));
    const ReporterCounters c = reporter.Counters();
    if (c.datagramsSent != datagrams) {
      // Give an ICMP error time to come back before the next send.
      datagrams = c.datagramsSent;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  out.counters = reporter.Counters();
  out.marks = lines.marks;
  return out;
}

// Sends tried in kHours hours when at most one datagram goes every five minutes.
constexpr std::uint32_t kPacedSends = kHours * 3600 / 300 + 1;

TEST(SpotServerFault, PortAnsweringWithIcmpErrors) {
  test::UdpListener closed;
  const std::string port = std::to_string(closed.port());
  closed.Close();  // nobody listens: the host answers with "port unreachable"
  const Outcome o = RunTicks({}, "127.0.0.1", port);

  EXPECT_LT(o.longestTick,
            std::chrono::milliseconds(1000));  // well under a 2 s lookup, with room for load
  ASSERT_EQ(o.marks.size(), static_cast<size_t>(kHours * 6));
  // The errors close the socket; the spots of the failed datagrams are counted
  // as dropped, and sending goes on at the usual pace, not faster.
  EXPECT_GE(o.counters.sendErrors, 2u);
  EXPECT_GE(o.counters.sendErrorDropped, o.counters.sendErrors);
  EXPECT_LE(o.counters.datagramsSent + o.counters.sendErrors, kPacedSends);
  EXPECT_LE(o.counters.spotsSent + o.counters.sendErrorDropped + o.counters.queueDropped +
                o.counters.spotsQueued,
            o.counters.spotsAccepted);
}

TEST(SpotServerFault, NameThatDoesNotResolve) {
  resolverCalls = 0;
  ReporterOptions options;
  options.resolver = [](const std::string&, const std::string&) {
    ++resolverCalls;
    ResolvedAddress failed;
    failed.error = "Name or service not known";
    return failed;
  };
  const Outcome o = RunTicks(std::move(options), "report.invalid", "4739");

  EXPECT_LT(o.longestTick,
            std::chrono::milliseconds(1000));  // well under a 2 s lookup, with room for load
  // Every decode is shown with the failure mark; the spots are counted as
  // refused, nothing is queued for later.
  ASSERT_EQ(o.marks.size(), static_cast<size_t>(kHours * 6));
  for (char mark : o.marks) EXPECT_EQ(mark, 'x');
  EXPECT_EQ(o.counters.spotsAccepted, 0u);
  EXPECT_GE(o.counters.spotsRejected, static_cast<std::uint32_t>(kHours * 6));
  EXPECT_EQ(o.counters.datagramsSent, 0u);
  // The name is asked for at most once a minute, not once per spot and tick.
  EXPECT_GE(resolverCalls.load(), 1);
  EXPECT_LE(resolverCalls.load(), kHours * 60 + 1);
  EXPECT_LE(resolverCalls.load(), kHours * (6 + 3) + 1);
}

TEST(SpotServerFault, NameServerThatDoesNotAnswer) {
  resolverCalls = 0;
  ReporterOptions options;
  options.resolveTimeout = std::chrono::milliseconds(100);
  options.resolver = [](const std::string&, const std::string&) {
    ++resolverCalls;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ResolvedAddress failed;
    failed.error = "Temporary failure in name resolution";
    return failed;
  };
  const Outcome o = RunTicks(std::move(options), "report.example", "4739");

  // A tick waits for the name server at most the resolution timeout, and a
  // lookup still under way is not started again.
  EXPECT_LT(o.longestTick, std::chrono::milliseconds(100 + 400));
  for (char mark : o.marks) EXPECT_EQ(mark, 'x');
  EXPECT_EQ(o.counters.datagramsSent, 0u);
  EXPECT_LE(resolverCalls.load(), kHours * 60 + 1);
  // Let the last lookup finish before its counter goes away with the process.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

}  // namespace
}  // namespace vs32
