#include "report/send_spot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

#include "ipfix_listener.h"

namespace vs32 {
namespace {

using test::UdpListener;

std::string Bytes(const SpotRecordBuffer& b) {
  return std::string(b.data(), b.size());
}

// The expected record: the given bytes, then zeros to the end of the buffer.
std::string Padded(const std::string& head) {
  std::string s = head;
  s.resize(kSpotRecordBytes, '\0');
  return s;
}

SpotSettings Windowed() {
  SpotSettings s;
  s.uploading = true;
  s.myCall = "ZZ0ZZZ";
  s.myLocator = "JO65HO";
  s.program = SpotProgram::kWindowed;
  return s;
}

SpotSettings Console() {
  SpotSettings s = Windowed();
  s.program = SpotProgram::kConsole;
  return s;
}

// ---- record layout -----------------------------------------------------------------

TEST(SpotRecords, WindowedLocalRecordByteForByte) {
  SpotRecordBuffer out;
  out.fill('#');
  ASSERT_TRUE(ComposeLocalRecord(Windowed(), 137412.1875f, -7.25f, out));
  const std::string expected(
      "STATION_CALLSIGN\0ZZ0ZZZ\0MY_GRIDSQUARE\0JO65HO\0PROGRAMID\0Vs32Rx v1.4\0"
      "MY_ANTENNA\0RX -7.2dB on 137412.2Hz\0\0",
      103);
  EXPECT_EQ(Bytes(out), Padded(expected));
}

TEST(SpotRecords, ConsoleLocalRecordCarriesModeAndFrequencyPairs) {
  SpotSettings s = Console();
  s.useCorrelator = true;
  SpotRecordBuffer out;
  ASSERT_TRUE(ComposeLocalRecord(s, 137500.0f, 0.0f, out));
  const std::string expected(
      "STATION_CALLSIGN\0ZZ0ZZZ\0MY_GRIDSQUARE\0JO65HO\0PROGRAMID\0Vs32RxC v1.4+correlator\0"
      "MODE\0VESTA\0FREQ\0"
      "136000\0MY_ANTENNA\0RX +0.0dB on 137500.0Hz\0\0",
      136);
  EXPECT_EQ(Bytes(out), Padded(expected));
}

TEST(SpotRecords, ProgramIdentifiers) {
  SpotRecordBuffer out;
  SpotSettings s = Windowed();
  s.useCorrelator = true;
  ASSERT_TRUE(ComposeLocalRecord(s, 1.0f, 0.0f, out));
  EXPECT_EQ(SpotRecordReader(out).Find("PROGRAMID"), "Vs32Rx v1.4+correlator");
  s = Console();
  ASSERT_TRUE(ComposeLocalRecord(s, 1.0f, 0.0f, out));
  EXPECT_EQ(SpotRecordReader(out).Find("PROGRAMID"), "Vs32RxC v1.4");
  EXPECT_EQ(SpotRecordReader(out).Find("MODE"), "VESTA");
  ASSERT_TRUE(ComposeLocalRecord(Windowed(), 1.0f, 0.0f, out));
  EXPECT_FALSE(SpotRecordReader(out).Has("MODE"));
  EXPECT_FALSE(SpotRecordReader(out).Has("FREQ"));
}

TEST(SpotRecords, RemoteRecordAlwaysReports136000) {
  SpotRecordBuffer out;
  ASSERT_TRUE(ComposeRemoteRecord("Q1ABC", -12.0f, out));
  const std::string expected(
      "CALL\0Q1ABC\0MODE\0VESTA\0FREQ\0"
      "136000\0RST_SENT\0-12.0 dB\0\0",
      51);
  EXPECT_EQ(Bytes(out), Padded(expected));
  ASSERT_TRUE(ComposeRemoteRecord("Q1ABC", 3.04f, out));
  EXPECT_EQ(SpotRecordReader(out).Find("RST_SENT"), "+3.0 dB");
}

TEST(SpotRecords, EmptyLastValueStillEndsInTwoNuls) {
  SpotRecordBuffer out;
  ASSERT_TRUE(ComposeSpotRecord({{"CALL", "Q1ABC"}, {"MY_ANTENNA", ""}}, out));
  EXPECT_EQ(Bytes(out), Padded(std::string("CALL\0Q1ABC\0MY_ANTENNA\0\0\0", 24)));
  const SpotRecordReader reader(out);
  EXPECT_EQ(reader.FieldCount(), 2);
  EXPECT_TRUE(reader.Has("MY_ANTENNA"));
  // No fields at all: just the final NUL.
  ASSERT_TRUE(ComposeSpotRecord({}, out));
  EXPECT_EQ(Bytes(out), Padded(""));
}

TEST(SpotRecords, NumbersFormatAsPrintfInTheCLocale) {
  // The records are built without printf, so that a user's locale (decimal comma) cannot
  // reach them; they must still read exactly as "%+.1f" and "%.1f" would in "C".
  const float values[] = {0.0f,    -0.0f,      -0.04f,  0.05f,     0.25f, 2.25f,     -2.25f,
                          -12.35f, 99.95f,     -128.5f, 137500.0f, 1e-9f, 1e7f,      136050.45f,
                          3.4e38f, 1234.5678f, -0.05f,  0.15f,     0.35f, 123456.75f};
  SpotRecordBuffer out;
  for (float v : values) {
    char report[64], antenna[128];
    std::snprintf(report, sizeof report, "%+.1f dB", v);
    std::snprintf(antenna, sizeof antenna, "RX %+.1fdB on %.1fHz", v, v);
    ASSERT_TRUE(ComposeRemoteRecord("Q1ABC", v, out));
    EXPECT_EQ(SpotRecordReader(out).Find("RST_SENT"), report);
    ASSERT_TRUE(ComposeLocalRecord(Windowed(), v, v, out));
    EXPECT_EQ(SpotRecordReader(out).Find("MY_ANTENNA"), antenna);
  }
}

TEST(SpotRecords, RecordThatDoesNotFitItsBufferIsRefused) {
  SpotSettings s = Windowed();
  SpotRecordBuffer out;
  ASSERT_TRUE(ComposeLocalRecord(s, 136000.0f, 0.0f, out));
  // Bytes used with the call "ZZ0ZZZ": every NUL up to the second final one.
  std::size_t used = kSpotRecordBytes;
  while (used > 0 && out[used - 1] == '\0') --used;
  used += 2;
  const std::size_t room = kSpotRecordBytes - used;

  std::string call = "ZZ0ZZZ" + std::string(room, 'A');  // exactly 1024 bytes
  s.myCall = call;
  ASSERT_TRUE(ComposeLocalRecord(s, 136000.0f, 0.0f, out));
  EXPECT_EQ(out[kSpotRecordBytes - 1], '\0');
  EXPECT_EQ(out[kSpotRecordBytes - 2], '\0');
  EXPECT_NE(out[kSpotRecordBytes - 3], '\0');
  EXPECT_TRUE(SpotRecordReader(out).Terminated());

  call += "A";  // one byte too many
  s.myCall = call;
  EXPECT_FALSE(ComposeLocalRecord(s, 136000.0f, 0.0f, out));
  EXPECT_EQ(Bytes(out), Padded(""));  // nothing half-written is left behind

  EXPECT_FALSE(ComposeRemoteRecord(std::string(2000, 'Q'), 0.0f, out));
}

TEST(SpotRecords, TabOrNulInsideAValueIsRefused) {
  SpotRecordBuffer out;
  EXPECT_FALSE(ComposeRemoteRecord("Q1\tABC", 0.0f, out));
  EXPECT_FALSE(ComposeRemoteRecord(std::string("Q1\0ABC", 6), 0.0f, out));
  SpotSettings s = Windowed();
  s.myLocator = "JO65\tHO";
  EXPECT_FALSE(ComposeLocalRecord(s, 1.0f, 0.0f, out));
}

// ---- the spot routine --------------------------------------------------------------

class SendSpotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReporterOptions options;
    options.clock = [this] { return now_; };
    options.random = [] { return 0x00C0FFEEu; };
    options.resolver = [this](const std::string& host, const std::string& port) {
      ++resolves_;
      return ResolveWithGetaddrinfo(host, port);
    };
    reporter_ = std::make_unique<SpotReporter>(std::move(options));
    StoreReporterAddress(record_, "127.0.0.1", std::to_string(listener_.port()));
  }

  std::vector<test::ParsedMessage> Datagrams() {
    std::vector<test::ParsedMessage> out;
    for (const auto& d : listener_.ReceiveAll(200)) {
      out.push_back(test::ParseIpfix(d, store_));
      EXPECT_TRUE(out.back().errors.empty());
    }
    return out;
  }

  std::int64_t now_ = 1765000000;
  std::atomic<int> resolves_{0};
  UdpListener listener_;
  test::TemplateStore store_;
  ReporterRecord record_{};
  std::unique_ptr<SpotReporter> reporter_;
};

TEST_F(SendSpotTest, SpotTravelsToTheServiceWithItsRecords) {
  SpotSettings s = Console();
  s.useCorrelator = true;
  // The flag is 0: the routine initialises from the address in the record.
  EXPECT_TRUE(SendSpot(*reporter_, record_, s, "Q1ABC", " ", 136050.5f, -12.34f));
  EXPECT_EQ(resolves_.load(), 1);
  reporter_->ReporterTickle();
  const auto msgs = Datagrams();
  ASSERT_EQ(msgs.size(), 1u);
  const auto receivers = msgs[0].RecordsOf(0x9992);
  const auto senders = msgs[0].RecordsOf(0x9993);
  ASSERT_EQ(receivers.size(), 1u);
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(receivers[0]->Text("30351.2"), "ZZ0ZZZ");
  EXPECT_EQ(receivers[0]->Text("30351.4"), "JO65HO");
  EXPECT_EQ(receivers[0]->Text("30351.8"), "Vs32RxC v1.4+correlator");
  EXPECT_EQ(receivers[0]->Text("30351.9"), "RX -12.3dB on 136050.5Hz");
  EXPECT_EQ(senders[0]->Text("30351.1"), "Q1ABC");
  EXPECT_EQ(senders[0]->Unsigned("30351.5"), 136000u);
  EXPECT_EQ(static_cast<std::int8_t>(senders[0]->Unsigned("30351.6")), -12);
  EXPECT_EQ(senders[0]->Text("30351.10"), "VESTA");
  EXPECT_EQ(senders[0]->Unsigned("150"), 1765000000u);

  // The record now shows an open socket: no second initialisation.
  now_ += 1000;
  EXPECT_TRUE(SendSpot(*reporter_, record_, s, "Q2XYZ", " ", 137000.0f, 1.0f));
  EXPECT_EQ(resolves_.load(), 1);
  EXPECT_EQ(record_[kRecordFlagOffset], 1);
}

TEST_F(SendSpotTest, NothingReachesTheReporterWhileUploadIsOffOrARecordingPlays) {
  SpotSettings off = Windowed();
  off.uploading = false;
  EXPECT_FALSE(SendSpot(*reporter_, record_, off, "Q1ABC", " ", 136000.0f, 0.0f));
  SpotSettings wav = Windowed();
  wav.wavInput = true;
  EXPECT_FALSE(SendSpot(*reporter_, record_, wav, "Q1ABC", " ", 136000.0f, 0.0f));
  EXPECT_EQ(resolves_.load(), 0);
  EXPECT_FALSE(reporter_->Connected());
  EXPECT_EQ(reporter_->Information(), "Not initialised");
  const ReporterCounters c = reporter_->Counters();
  EXPECT_EQ(c.spotsAccepted + c.spotsRejected + c.repeatsDropped, 0u);
}

TEST_F(SendSpotTest, OversizedRecordIsNotSent) {
  SpotSettings s = Windowed();
  const std::string longCall(1100, 'Z');
  s.myCall = longCall;
  EXPECT_FALSE(SendSpot(*reporter_, record_, s, "Q1ABC", " ", 136000.0f, 0.0f));
  EXPECT_FALSE(
      SendSpot(*reporter_, record_, Windowed(), std::string(1100, 'Q'), " ", 136000.0f, 0.0f));
  const ReporterCounters c = reporter_->Counters();
  EXPECT_EQ(c.spotsAccepted + c.spotsRejected + c.repeatsDropped, 0u);
}

TEST_F(SendSpotTest, FailedInitialisationMeansNoSpot) {
  StoreReporterAddress(record_, "no such host", "4739");
  EXPECT_FALSE(SendSpot(*reporter_, record_, Windowed(), "Q1ABC", " ", 136000.0f, 0.0f));
  EXPECT_NE(ReporterMessage(*reporter_).find("not accepted"), std::string::npos);
  reporter_->ReporterInitialize(u"no such host", u"4739");
  EXPECT_EQ(ReporterMessage(*reporter_), "Invalid report host name \"no such host\"");
  // The record still holds the address to try next time.
  std::array<char16_t, kRecordHostChars> host{};
  reporter_->ReporterGetStatistics(record_.data(), record_.size());
  ReadRecordText(record_, kRecordHostOffset, kRecordHostChars, host);
  EXPECT_EQ(std::u16string(host.data()), u"no such host");
}

TEST_F(SendSpotTest, RepeatWithinFiveMinutesStillCountsAsSent) {
  EXPECT_TRUE(SendSpot(*reporter_, record_, Windowed(), "Q1ABC", " ", 136000.0f, 0.0f));
  now_ += 60;
  EXPECT_TRUE(SendSpot(*reporter_, record_, Windowed(), "Q1ABC", " ", 136000.0f, 0.0f));
  EXPECT_EQ(reporter_->Counters().repeatsDropped, 1u);
}

TEST_F(SendSpotTest, InitialiseAgainAfterTheSocketWasLost) {
  EXPECT_TRUE(SendSpot(*reporter_, record_, Windowed(), "Q1ABC", " ", 136000.0f, 0.0f));
  reporter_->ReporterUninitialize();  // as after a send error: flag 0
  EXPECT_TRUE(SendSpot(*reporter_, record_, Windowed(), "Q2XYZ", " ", 136000.0f, 0.0f));
  EXPECT_EQ(resolves_.load(), 2);
  EXPECT_TRUE(reporter_->Connected());
}

}  // namespace
}  // namespace vs32
