#include "report/psk_reporter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ipfix_listener.h"
#include "report/spot_records.h"

namespace vs32 {
namespace {

using test::Bytes;
using test::ParsedMessage;
using test::UdpListener;

constexpr std::uint16_t kReceiverSet = 0x9992;
constexpr std::uint16_t kSenderSet = 0x9993;

// name, NUL, value, NUL, ..., NUL
std::string Record(std::initializer_list<std::pair<std::string, std::string>> fields) {
  std::string r;
  for (const auto& [name, value] : fields) {
    r += name;
    r.push_back('\0');
    r += value;
    r.push_back('\0');
  }
  r.push_back('\0');
  return r;
}

std::string Remote(const std::string& call, const std::string& report = "-12.0 dB",
                   const std::string& freq = "136000") {
  return Record({{"CALL", call}, {"MODE", "VESTA"}, {"FREQ", freq}, {"RST_SENT", report}});
}

std::string Local(const std::string& antenna = "RX -12.0dB on 136000.0Hz",
                  const std::string& call = "ZZ0ZZZ") {
  return Record({{"STATION_CALLSIGN", call},
                 {"MY_GRIDSQUARE", "JO65HO"},
                 {"PROGRAMID", "Vs32RxC v1.4"},
                 {"MY_ANTENNA", antenna}});
}

std::span<const char> Span(const std::string& s) {
  return {s.data(), s.size()};
}

// "Q<number><suffix>" (appended piecewise: GCC 12 warns falsely on literal + string).
std::string Call(int number, const char* suffix = "") {
  std::string call = "Q";
  call += std::to_string(number);
  call += suffix;
  return call;
}

std::string Utf8(const char16_t* text) {
  std::array<char, 1024> out{};
  Utf16ToUtf8(text, out);
  return out.data();
}

class ReporterTest : public ::testing::Test {
 protected:
  void SetUp() override { Make({}); }

  void Make(ReporterOptions options) {
    reporter_.reset();
    options.clock = [this] { return now_; };
    options.random = [this] {
      if (randoms_.empty()) return 0u;
      const std::uint32_t v = randoms_.front();
      randoms_.pop_front();
      return v;
    };
    reporter_ = std::make_unique<SpotReporter>(std::move(options));
  }

  int Init() { return reporter_->ReporterInitialize(u"127.0.0.1", listener_.Port16()); }

  int Spot(const std::string& call, const std::string& report = "-12.0 dB",
           const std::string& antenna = "RX -12.0dB on 136000.0Hz") {
    const std::string remote = Remote(call, report);
    const std::string local = Local(antenna);
    return reporter_->ReporterSeenCallsignSTD(Span(remote), Span(local), 1);
  }

  // Every datagram that arrives now, parsed in session order.
  std::vector<ParsedMessage> Datagrams(int quietMs = 50) {
    std::vector<ParsedMessage> out;
    for (const Bytes& d : listener_.ReceiveAll(quietMs)) {
      out.push_back(test::ParseIpfix(d, store_));
      EXPECT_TRUE(out.back().errors.empty()) << out.back().errors.front();
      EXPECT_LT(d.size(), 1400u);
    }
    return out;
  }

  static std::vector<std::string> Calls(const ParsedMessage& m) {
    std::vector<std::string> calls;
    for (const auto* r : m.RecordsOf(kSenderSet)) calls.push_back(r->Text("30351.1"));
    return calls;
  }

  std::int64_t now_ = 1765000000;
  std::deque<std::uint32_t> randoms_;
  UdpListener listener_;
  test::TemplateStore store_;
  std::unique_ptr<SpotReporter> reporter_;
};

// ---- the datagram ------------------------------------------------------------------

TEST_F(ReporterTest, WorkedDatagramArrivesByteForByte) {
  randoms_ = {0x12345678};
  ASSERT_EQ(Init(), 0);
  const std::string remote =
      Record({{"CALL", "Q1ABC"}, {"MODE", "VESTA"}, {"FREQ", "137500"}, {"RST_SENT", "-12.0 dB"}});
  const std::string local = Record({{"STATION_CALLSIGN", "ZZ0ZZZ"},
                                    {"MY_GRIDSQUARE", "JO65HO"},
                                    {"PROGRAMID", "Example 1.0"},
                                    {"MY_ANTENNA", "RX +0.0dB on 137500.0Hz"}});
  ASSERT_EQ(reporter_->ReporterSeenCallsignSTD(Span(remote), Span(local), 1), 0);
  now_ = 1765000300;
  reporter_->ReporterTickle();
  const auto d = listener_.Receive();
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(*d, test::kWorkedDatagram);
}

TEST_F(ReporterTest, ReportIsRoundedHalfAwayFromZeroAndClamped) {
  ASSERT_EQ(Init(), 0);
  const std::vector<std::pair<std::string, int>> cases = {
      {"-12.5 dB", -13},  {"+12.5 dB", 13},   {"+0.4 dB", 0},      {"-0.5 dB", -1},
      {"+127.4 dB", 127}, {"+300.0 dB", 127}, {"-300.0 dB", -128}, {"-128.4 dB", -128}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ASSERT_EQ(Spot(Call(static_cast<int>(i), "AA"), cases[i].first), 0) << cases[i].first;
  }
  reporter_->ReporterTickle();
  const auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  const auto senders = msgs[0].RecordsOf(kSenderSet);
  ASSERT_EQ(senders.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(static_cast<std::int8_t>(senders[i]->Unsigned("30351.6")), cases[i].second)
        << cases[i].first;
    EXPECT_EQ(senders[i]->Unsigned("30351.5"), 136000u);
    EXPECT_EQ(senders[i]->Text("30351.10"), "VESTA");
    EXPECT_EQ(senders[i]->Unsigned("30351.11"), 1u);
    EXPECT_EQ(senders[i]->Unsigned("150"), static_cast<std::uint64_t>(now_));
  }
}

TEST_F(ReporterTest, ReceiverRecordIsThatOfTheNewestSpot) {
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q1AAA", "-3.0 dB", "RX -3.0dB on 137000.0Hz"), 0);
  now_ += 5;
  ASSERT_EQ(Spot("Q1BBB", "-9.0 dB", "RX -9.0dB on 137010.5Hz"), 0);
  reporter_->ReporterTickle();
  const auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  const auto receivers = msgs[0].RecordsOf(kReceiverSet);
  ASSERT_EQ(receivers.size(), 1u);
  EXPECT_EQ(receivers[0]->Text("30351.9"), "RX -9.0dB on 137010.5Hz");
  EXPECT_EQ(receivers[0]->Text("30351.2"), "ZZ0ZZZ");
  EXPECT_EQ(receivers[0]->Text("30351.4"), "JO65HO");
  EXPECT_EQ(receivers[0]->Text("30351.8"), "Vs32RxC v1.4");
  EXPECT_EQ(Calls(msgs[0]), (std::vector<std::string>{"Q1AAA", "Q1BBB"}));
}

TEST_F(ReporterTest, LongTextsAreCutOnCharacterBoundaries) {
  ASSERT_EQ(Init(), 0);
  std::string euros;
  for (int i = 0; i < 100; ++i) euros += "\xE2\x82\xAC";
  ASSERT_EQ(Spot("Q1ABC", "-1.0 dB", euros), 0);
  reporter_->ReporterTickle();
  const auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].RecordsOf(kReceiverSet)[0]->Text("30351.9"), euros.substr(0, 252));
}

// ---- pacing ------------------------------------------------------------------------

TEST_F(ReporterTest, FirstDatagramAtFirstTickleThenOneEveryFiveMinutesPlusJitter) {
  randoms_ = {0xABCD, 17};  // domain, then the jitter of the first interval
  ASSERT_EQ(Init(), 0);
  reporter_->ReporterTickle();  // nothing queued: nothing sent
  EXPECT_TRUE(Datagrams().empty());

  const std::int64_t start = now_;
  ASSERT_EQ(Spot("Q1AAA"), 0);
  reporter_->ReporterTickle();
  auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]), std::vector<std::string>{"Q1AAA"});

  now_ = start + 10;
  ASSERT_EQ(Spot("Q1BBB"), 0);
  for (std::int64_t t : {start + 20, start + 300, start + 316}) {
    now_ = t;
    reporter_->ReporterTickle();
    EXPECT_TRUE(Datagrams().empty()) << "sent at +" << (t - start);
  }
  now_ = start + 317;
  reporter_->ReporterTickle();
  msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]), std::vector<std::string>{"Q1BBB"});
  EXPECT_EQ(msgs[0].exportTime, static_cast<std::uint32_t>(start + 317));
  EXPECT_EQ(reporter_->Counters().spotsSent, 2u);
}

TEST_F(ReporterTest, IdleTimeDoesNotDelayTheNextSpot) {
  randoms_ = {1, 0};
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q1AAA"), 0);
  reporter_->ReporterTickle();
  ASSERT_EQ(Datagrams().size(), 1u);
  now_ += 3000;  // long quiet
  ASSERT_EQ(Spot("Q1BBB"), 0);
  reporter_->ReporterTickle();
  EXPECT_EQ(Datagrams().size(), 1u);
}

TEST_F(ReporterTest, ClockSetBackDoesNotHoldTheSpots) {
  randoms_ = {1, 30};
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q1AAA"), 0);
  reporter_->ReporterTickle();
  ASSERT_EQ(Datagrams().size(), 1u);
  now_ -= 7200;
  ASSERT_EQ(Spot("Q1BBB"), 0);
  reporter_->ReporterTickle();
  const auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]), std::vector<std::string>{"Q1BBB"});
}

TEST_F(ReporterTest, FullDatagramsGoBeforeTheIntervalTheRestWaits) {
  randoms_ = {1, 0};
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q0START"), 0);
  reporter_->ReporterTickle();
  ASSERT_EQ(Datagrams().size(), 1u);

  now_ += 10;
  for (int i = 0; i < 150; ++i) ASSERT_EQ(Spot(Call(1000 + i, "XYZ")), 0);
  now_ += 10;
  reporter_->ReporterTickle();
  auto msgs = Datagrams();
  ASSERT_GE(msgs.size(), 1u);
  std::size_t early = 0;
  for (const auto& m : msgs) {
    early += Calls(m).size();
    EXPECT_GT(Calls(m).size(), 40u);  // only full datagrams
  }
  EXPECT_LT(early, 150u);
  const std::uint32_t left = reporter_->Counters().spotsQueued;
  EXPECT_EQ(left, 150u - early);

  now_ += 300;
  reporter_->ReporterTickle();
  msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]).size(), left);
  EXPECT_EQ(Calls(msgs[0]).back(), "Q1149XYZ");
}

TEST_F(ReporterTest, SameCallWithinFiveMinutesIsDroppedButAccepted) {
  randoms_ = {1, 0, 0, 0};
  ASSERT_EQ(Init(), 0);
  const std::int64_t start = now_;
  ASSERT_EQ(Spot("Q1ABC"), 0);
  now_ = start + 100;
  EXPECT_EQ(Spot("Q1ABC"), 0);
  now_ = start + 299;
  EXPECT_EQ(Spot("q1abc"), 0);  // callsigns compare without regard to case
  ASSERT_EQ(Spot("Q2XYZ"), 0);
  reporter_->ReporterTickle();
  auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]), (std::vector<std::string>{"Q1ABC", "Q2XYZ"}));
  ReporterCounters c = reporter_->Counters();
  EXPECT_EQ(c.repeatsDropped, 2u);
  EXPECT_EQ(c.spotsAccepted, 2u);

  now_ = start + 300;  // the window counts from the spot that was taken
  EXPECT_EQ(Spot("Q1ABC"), 0);
  EXPECT_EQ(reporter_->Counters().spotsAccepted, 3u);
  now_ = start + 900;
  reporter_->ReporterTickle();
  msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]), std::vector<std::string>{"Q1ABC"});
}

TEST_F(ReporterTest, QueueKeepsTheNewest2048Spots) {
  ASSERT_EQ(Init(), 0);
  const int total = SpotReporter::kQueueCapacity + 5;
  for (int i = 0; i < total; ++i) ASSERT_EQ(Spot(Call(10000 + i)), 0);
  ReporterCounters c = reporter_->Counters();
  EXPECT_EQ(c.queueDropped, 5u);
  EXPECT_EQ(c.spotsQueued, static_cast<std::uint32_t>(SpotReporter::kQueueCapacity));

  reporter_->ReporterTickle();  // first datagram due: everything goes, in full datagrams
  const auto msgs = Datagrams(300);
  ASSERT_GT(msgs.size(), 10u);
  std::vector<std::string> calls;
  std::uint32_t expectedSequence = 0;
  for (const auto& m : msgs) {
    EXPECT_EQ(m.sequence, expectedSequence);
    EXPECT_EQ(m.domain, msgs[0].domain);
    const auto senders = m.RecordsOf(kSenderSet);
    expectedSequence += static_cast<std::uint32_t>(1 + senders.size());
    for (const std::string& call : Calls(m)) calls.push_back(call);
  }
  ASSERT_EQ(calls.size(), static_cast<std::size_t>(SpotReporter::kQueueCapacity));
  EXPECT_EQ(calls.front(), "Q10005");
  EXPECT_EQ(calls.back(), Call(10000 + total - 1));
  EXPECT_EQ(reporter_->Counters().spotsQueued, 0u);
}

// ---- templates, sequence, domain ---------------------------------------------------

TEST_F(ReporterTest, TemplatesInTheFirstThreeDatagramsThenThreeEachHour) {
  randoms_ = {0x5151};
  ASSERT_EQ(Init(), 0);
  const std::int64_t start = now_;
  std::vector<bool> withTemplates;
  std::vector<std::uint32_t> sequences;
  auto sendOne = [&](int i) {
    ASSERT_EQ(Spot(Call(100 + i)), 0);
    reporter_->ReporterTickle();
    const auto msgs = Datagrams();
    ASSERT_EQ(msgs.size(), 1u) << "datagram " << i;
    withTemplates.push_back(!msgs[0].templates.empty());
    sequences.push_back(msgs[0].sequence);
    EXPECT_EQ(msgs[0].domain, 0x5151u);
    if (!msgs[0].templates.empty()) {
      EXPECT_EQ(msgs[0].templates.size(), 2u);
    }
    now_ += 331;  // past every interval, whatever the jitter
  };
  for (int i = 0; i < 10; ++i) sendOne(i);
  EXPECT_EQ(withTemplates,
            (std::vector<bool>{true, true, true, false, false, false, false, false, false, false}));
  for (std::uint32_t i = 0; i < sequences.size(); ++i) EXPECT_EQ(sequences[i], 2 * i);
  now_ = start + SpotReporter::kTemplateIntervalSeconds;  // an hour after the first
  withTemplates.clear();
  for (int i = 10; i < 15; ++i) sendOne(i);
  EXPECT_EQ(withTemplates, (std::vector<bool>{true, true, true, false, false}));
}

TEST_F(ReporterTest, NewSessionAfterInitialize) {
  randoms_ = {0x1111, 0, 0x2222, 0};
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q1AAA"), 0);
  reporter_->ReporterTickle();
  auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].domain, 0x1111u);

  reporter_->ReporterUninitialize();
  now_ += 400;
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q1BBB"), 0);
  reporter_->ReporterTickle();  // the first datagram of a session goes at once
  msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].domain, 0x2222u);
  EXPECT_EQ(msgs[0].sequence, 0u);
  EXPECT_FALSE(msgs[0].templates.empty());
}

// ---- shutdown ----------------------------------------------------------------------

TEST_F(ReporterTest, UninitializeSendsWhatIsQueuedAtOnce) {
  randoms_ = {1, 0};
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q1AAA"), 0);
  reporter_->ReporterTickle();
  ASSERT_EQ(Datagrams().size(), 1u);
  now_ += 10;
  ASSERT_EQ(Spot("Q1BBB"), 0);  // not due for another five minutes
  const auto before = std::chrono::steady_clock::now();
  reporter_->ReporterUninitialize();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  const auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]), std::vector<std::string>{"Q1BBB"});
  EXPECT_FALSE(reporter_->Connected());
  EXPECT_NE(Spot("Q1CCC"), 0);  // not initialised any more
}

TEST_F(ReporterTest, DestructionSendsWhatIsQueued) {
  ASSERT_EQ(Init(), 0);
  ASSERT_EQ(Spot("Q1AAA"), 0);
  reporter_.reset();
  const auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(Calls(msgs[0]), std::vector<std::string>{"Q1AAA"});
}

// ---- failures ----------------------------------------------------------------------

TEST_F(ReporterTest, FailedResolutionIsANonzeroResultWithAMessage) {
  std::atomic<int> calls{0};
  ReporterOptions options;
  options.resolver = [&calls](const std::string& host, const std::string&) {
    ++calls;
    ResolvedAddress r;
    r.error = "Name or service not known (" + host + ")";
    return r;
  };
  Make(std::move(options));
  EXPECT_NE(reporter_->ReporterInitialize(u"nowhere.invalid", u"4739"), 0);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_NE(reporter_->Information().find("nowhere.invalid"), std::string::npos);
  EXPECT_NE(reporter_->Information().find("Name or service not known"), std::string::npos);
  EXPECT_FALSE(reporter_->Connected());
  EXPECT_NE(Spot("Q1AAA"), 0);

  // A retry right away does not ask the name server again.
  now_ += 5;
  EXPECT_NE(reporter_->ReporterInitialize(u"nowhere.invalid", u"4739"), 0);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_NE(reporter_->Information().find("next attempt in 55 s"), std::string::npos)
      << reporter_->Information();
  now_ += SpotReporter::kResolveRetrySeconds;
  EXPECT_NE(reporter_->ReporterInitialize(u"nowhere.invalid", u"4739"), 0);
  EXPECT_EQ(calls.load(), 2);
  // Another address is tried at once.
  EXPECT_NE(reporter_->ReporterInitialize(u"elsewhere.invalid", u"4739"), 0);
  EXPECT_EQ(calls.load(), 3);
}

TEST_F(ReporterTest, NameServerThatDoesNotAnswerIsGivenUpAfterTheTimeout) {
  ReporterOptions options;
  options.resolveTimeout = std::chrono::milliseconds(300);
  options.resolver = [](const std::string&, const std::string&) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return ResolvedAddress{};
  };
  Make(std::move(options));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_NE(reporter_->ReporterInitialize(u"slow.example", u"4739"), 0);
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_NE(reporter_->Information().find("No answer"), std::string::npos);
  // The hanging lookup is not started a second time.
  const auto again = std::chrono::steady_clock::now();
  EXPECT_NE(reporter_->ReporterInitialize(u"slow.example", u"4739"), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(100));
}

TEST_F(ReporterTest, DefaultResolutionTimeoutIsAboutTwoSeconds) {
  ReporterOptions options;
  options.resolver = [](const std::string&, const std::string&) {
    std::this_thread::sleep_for(std::chrono::seconds(4));
    return ResolvedAddress{};
  };
  Make(std::move(options));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_NE(reporter_->ReporterInitialize(u"slow.example", u"4739"), 0);
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(waited, std::chrono::milliseconds(1900));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
}

TEST_F(ReporterTest, MalformedHostOrPortIsRefusedWithoutLookingItUp) {
  std::atomic<int> calls{0};
  ReporterOptions options;
  options.resolver = [&calls](const std::string&, const std::string&) {
    ++calls;
    return ResolvedAddress{};
  };
  Make(std::move(options));
  EXPECT_NE(reporter_->ReporterInitialize(u"no such host", u"4739"), 0);
  EXPECT_NE(reporter_->Information().find("Invalid report host"), std::string::npos);
  EXPECT_NE(reporter_->ReporterInitialize(u"", u"4739"), 0);
  EXPECT_NE(reporter_->ReporterInitialize(u"h\u00e9te", u"4739"), 0);
  for (const char16_t* port : {u"", u"0", u"65536", u"47a9", u"-1"}) {
    EXPECT_NE(reporter_->ReporterInitialize(u"127.0.0.1", port), 0) << Utf8(port);
    EXPECT_NE(reporter_->Information().find("Invalid report port"), std::string::npos);
  }
  EXPECT_EQ(calls.load(), 0);
}

TEST_F(ReporterTest, RealResolverTakesNumericAddresses) {
  // A numeric address is parsed locally: no name server is asked.
  EXPECT_EQ(Init(), 0);
  EXPECT_TRUE(reporter_->Connected());
  EXPECT_NE(reporter_->Information().find("127.0.0.1"), std::string::npos);
}

TEST_F(ReporterTest, ClosedPortLeadsToASendErrorThatClosesTheSocket) {
  UdpListener closed;
  const std::u16string port = closed.Port16();
  closed.Close();  // nobody listens there now: the host answers with ICMP port unreachable
  randoms_.clear();
  ASSERT_EQ(reporter_->ReporterInitialize(u"127.0.0.1", port), 0);

  int spots = 0;
  for (int attempt = 0; attempt < 20 && reporter_->Connected(); ++attempt) {
    ASSERT_EQ(Spot(Call(200 + attempt)), 0);
    ++spots;
    reporter_->ReporterTickle();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    now_ += 400;
  }
  ASSERT_FALSE(reporter_->Connected());
  const ReporterCounters c = reporter_->Counters();
  EXPECT_EQ(c.sendErrors, 1u);
  EXPECT_EQ(c.sendErrorDropped, 1u);
  EXPECT_EQ(c.spotsSent + c.sendErrorDropped, static_cast<std::uint32_t>(spots));
  EXPECT_NE(reporter_->Information().find("refused"), std::string::npos)
      << reporter_->Information();

  ReporterRecord record{};
  reporter_->ReporterGetStatistics(record.data(), record.size());
  EXPECT_EQ(record[kRecordFlagOffset], 0);
  // Further calls neither crash nor pretend to succeed.
  reporter_->ReporterTickle();
  EXPECT_NE(Spot("Q1LATE"), 0);
}

TEST_F(ReporterTest, UnusableRecordsAreNotAccepted) {
  EXPECT_NE(Spot("Q1AAA"), 0);  // not initialised yet
  ASSERT_EQ(Init(), 0);
  const std::string local = Local();
  auto seen = [&](const std::string& remote, const std::string& l) {
    return reporter_->ReporterSeenCallsignSTD(Span(remote), Span(l), 1);
  };
  EXPECT_NE(seen(Record({{"MODE", "VESTA"}, {"FREQ", "136000"}, {"RST_SENT", "-1.0 dB"}}), local),
            0);
  EXPECT_NE(seen(Record({{"CALL", ""}, {"FREQ", "136000"}, {"RST_SENT", "-1.0 dB"}}), local), 0);
  EXPECT_NE(seen(Remote("Q1AAA", "-1.0 dB", "136 kHz"), local), 0);
  EXPECT_NE(seen(Remote("Q1AAA", "-1.0 dB", "-5"), local), 0);
  EXPECT_NE(seen(Remote("Q1AAA", "-1.0 dB", "99999999999"), local), 0);
  EXPECT_NE(seen(Remote("Q1AAA", "loud"), local), 0);
  EXPECT_NE(seen(Remote("Q1AAA", "nan dB"), local), 0);
  EXPECT_NE(seen(Remote("Q1AAA"), Record({{"MY_GRIDSQUARE", "JO65HO"}})), 0);
  EXPECT_NE(seen(Remote("Q1AAA"), ""), 0);
  EXPECT_NE(seen("", local), 0);
  // A spot too long for any datagram.
  const std::string big(254, 'x');
  EXPECT_NE(seen(Record({{"CALL", big}, {"MODE", big}, {"FREQ", "1"}, {"RST_SENT", "0"}}),
                 Record({{"STATION_CALLSIGN", big},
                         {"MY_GRIDSQUARE", big},
                         {"PROGRAMID", big},
                         {"MY_ANTENNA", big}})),
            0);
  EXPECT_NE(reporter_->Information().find("too long"), std::string::npos);
  EXPECT_EQ(reporter_->Counters().spotsAccepted, 0u);
  EXPECT_EQ(reporter_->Counters().spotsRejected, 12u);
}

TEST_F(ReporterTest, ArbitraryBytesNeverCrashAndNeverReadPastTheBuffer) {
  ASSERT_EQ(Init(), 0);
  std::mt19937 rng(7);
  const char* names[] = {"CALL", "MODE", "FREQ", "RST_SENT", "STATION_CALLSIGN", "MY_ANTENNA"};
  for (int round = 0; round < 3000; ++round) {
    // Exactly-sized heap buffers, so that a read past the end would be caught by ASan.
    const std::size_t n1 = rng() % 64, n2 = rng() % 64;
    std::unique_ptr<char[]> a(new char[n1 + 1]), b(new char[n2 + 1]);
    std::string pieces;
    for (std::size_t i = 0; i < n1; ++i) {
      a[i] = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
      if (rng() % 16 == 0) {
        const char* name = names[rng() % 6];
        for (std::size_t k = 0; name[k] != 0 && i < n1; ++k) a[i++] = name[k];
      }
    }
    for (std::size_t i = 0; i < n2; ++i) b[i] = static_cast<char>(rng() % 3 == 0 ? 0 : rng());
    reporter_->ReporterSeenCallsignSTD({a.get(), n1}, {b.get(), n2}, round);
    now_ += 1;
  }
  // Every call is accounted for exactly once.
  const ReporterCounters c = reporter_->Counters();
  EXPECT_EQ(c.spotsAccepted + c.repeatsDropped + c.spotsRejected, 3000u);
  reporter_->ReporterTickle();
  Datagrams(200);  // whatever went out must parse and stay under the limit
}

// ---- statistics and information ----------------------------------------------------

TEST_F(ReporterTest, StatisticsRecordLayout) {
  ReporterRecord record{};
  StoreReporterAddress(record, "127.0.0.1", std::to_string(listener_.port()));
  // Before any initialisation the address the front end stored stays.
  reporter_->ReporterGetStatistics(record.data(), record.size());
  EXPECT_EQ(record[0], '1');
  EXPECT_EQ(record[1], 0);
  EXPECT_EQ(record[kRecordFlagOffset], 0);

  std::array<char16_t, kRecordHostChars> host{};
  std::array<char16_t, kRecordPortChars> port{};
  ReadRecordText(record, kRecordHostOffset, kRecordHostChars, host);
  ReadRecordText(record, kRecordPortOffset, kRecordPortChars, port);
  ASSERT_EQ(reporter_->ReporterInitialize(host.data(), port.data()), 0);
  ASSERT_EQ(Spot("Q1AAA"), 0);

  record.fill(0xEE);
  reporter_->ReporterGetStatistics(record.data(), record.size());
  const std::string expectedHost = "127.0.0.1";
  for (std::size_t i = 0; i < expectedHost.size(); ++i) {
    EXPECT_EQ(record[2 * i], expectedHost[i]);
    EXPECT_EQ(record[2 * i + 1], 0);
  }
  EXPECT_EQ(record[2 * expectedHost.size()], 0);
  EXPECT_EQ(record[511], 0);  // the rest of the field is cleared
  const std::string expectedPort = std::to_string(listener_.port());
  for (std::size_t i = 0; i < expectedPort.size(); ++i) {
    EXPECT_EQ(record[512 + 2 * i], expectedPort[i]);
    EXPECT_EQ(record[512 + 2 * i + 1], 0);
  }
  EXPECT_EQ(record[kRecordFlagOffset], 1);
  auto counter = [&](int index) {
    const std::size_t at = kRecordCountersOffset + 4 * static_cast<std::size_t>(index);
    return record[at] | record[at + 1] << 8 | record[at + 2] << 16 | record[at + 3] << 24;
  };
  EXPECT_EQ(counter(0), 1);  // accepted
  EXPECT_EQ(counter(8), 1);  // queued
  EXPECT_EQ(record[663], 0);

  // A shorter buffer is filled only as far as it goes.
  std::array<unsigned char, 700> bigger{};
  bigger.fill(0x55);
  reporter_->ReporterGetStatistics(bigger.data(), 600);
  EXPECT_EQ(bigger[kRecordFlagOffset], 1);
  EXPECT_EQ(bigger[600], 0x55);

  reporter_->ReporterUninitialize();
  reporter_->ReporterGetStatistics(record.data(), record.size());
  EXPECT_EQ(record[kRecordFlagOffset], 0);
  EXPECT_EQ(record[0], '1');  // still the address in use
}

TEST_F(ReporterTest, InformationIsCutToTheCallersBuffer) {
  reporter_->ReporterInitialize(u"no such host", u"4739");
  std::array<char16_t, kInformationChars> full{};
  reporter_->ReporterGetInformation(full.data(), full.size());
  EXPECT_EQ(Utf8(full.data()), reporter_->Information());
  std::array<char16_t, 8> small{};
  small.fill(u'#');
  reporter_->ReporterGetInformation(small.data(), 5);
  EXPECT_EQ(std::u16string(small.data()), u"Inva");
  EXPECT_EQ(small[5], u'#');
  reporter_->ReporterGetInformation(nullptr, 10);  // ignored
}

// ---- texts -------------------------------------------------------------------------

TEST(ReporterText, Utf8AndUtf16ConvertBothWays) {
  const std::string text = "Q1\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xA1";  // é € and a 4-byte one
  std::array<char16_t, 16> wide{};
  ASSERT_EQ(Utf8ToUtf16(text, wide), 6u);
  EXPECT_EQ(wide[2], 0x00E9);
  EXPECT_EQ(wide[3], 0x20AC);
  EXPECT_EQ(wide[4], 0xD83D);
  EXPECT_EQ(wide[5], 0xDCE1);
  std::array<char, 32> back{};
  EXPECT_EQ(Utf16ToUtf8({wide.data(), 6}, back), text.size());
  EXPECT_EQ(std::string(back.data()), text);

  // Cut without splitting a surrogate pair.
  std::array<char16_t, 6> tight{};
  EXPECT_EQ(Utf8ToUtf16(text, tight), 4u);
  EXPECT_EQ(tight[4], 0);
  // Invalid bytes and lone surrogates become U+FFFD.
  std::array<char16_t, 8> bad{};
  ASSERT_EQ(Utf8ToUtf16("a\xFF\xC3", bad), 3u);
  EXPECT_EQ(bad[1], 0xFFFD);
  EXPECT_EQ(bad[2], 0xFFFD);
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(Utf16ToUtf8(lone, back), 5u);
  EXPECT_EQ(std::string(back.data()),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(ReporterText, RecordFieldsAreNulTerminatedAndBounded) {
  ReporterRecord record{};
  record.fill(0xAA);
  StoreReporterAddress(record, std::string(300, 'h'), "4739");
  std::array<char16_t, kRecordHostChars + 1> host{};
  EXPECT_EQ(ReadRecordText(record, kRecordHostOffset, kRecordHostChars, host), 255u);
  EXPECT_EQ(record[510], 0);
  EXPECT_EQ(record[511], 0);
  EXPECT_EQ(record[512], '4');
  EXPECT_EQ(record[kRecordFlagOffset], 0xAA);  // other bytes untouched

  StoreReporterAddress(record,
                       "b\xC3\xBC"
                       "cher.example",
                       "4739");
  EXPECT_EQ(record[2], 0xFC);  // ü in UTF-16LE
  EXPECT_EQ(record[3], 0x00);
}

// ---- spot record reader ------------------------------------------------------------

TEST(SpotRecordReader, FindsFieldsInOrder) {
  const std::string r = Record({{"CALL", "Q1ABC"}, {"MODE", ""}, {"CALL", "second"}});
  const SpotRecordReader reader(Span(r));
  EXPECT_EQ(reader.Find("CALL"), "Q1ABC");
  EXPECT_TRUE(reader.Has("MODE"));
  EXPECT_EQ(reader.Find("MODE"), "");
  EXPECT_FALSE(reader.Has("FREQ"));
  EXPECT_FALSE(reader.Has("call"));
  EXPECT_EQ(reader.FieldCount(), 3);
  EXPECT_TRUE(reader.Terminated());
}

TEST(SpotRecordReader, StopsCleanlyAtTheEndOfTheBytes) {
  // Value without its NUL: the pair is incomplete and not seen.
  const std::string cut("CALL\0Q1ABC\0MODE\0VES", 19);
  const SpotRecordReader a(Span(cut));
  EXPECT_EQ(a.FieldCount(), 1);
  EXPECT_EQ(a.Find("MODE"), "");
  EXPECT_FALSE(a.Terminated());
  // Name without a value.
  const std::string noValue("CALL\0", 5);
  EXPECT_EQ(SpotRecordReader(Span(noValue)).FieldCount(), 0);
  EXPECT_FALSE(SpotRecordReader(Span(noValue)).Has("CALL"));
  // No NUL at all, and nothing at all.
  const std::string noNul(40, 'A');
  EXPECT_EQ(SpotRecordReader(Span(noNul)).FieldCount(), 0);
  EXPECT_EQ(SpotRecordReader({}).FieldCount(), 0);
  EXPECT_FALSE(SpotRecordReader({}).Terminated());
  // Fields after the terminating NUL do not belong to the record.
  const std::string after("A\0x\0\0B\0y\0\0", 10);
  EXPECT_EQ(SpotRecordReader(Span(after)).FieldCount(), 1);
  EXPECT_FALSE(SpotRecordReader(Span(after)).Has("B"));
}

}  // namespace
}  // namespace vs32
