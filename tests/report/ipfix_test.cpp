#include "report/ipfix.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ipfix_listener.h"

namespace vs32::ipfix {
namespace {

using test::Bytes;
using test::kWorkedDatagram;
using test::ParseIpfix;
using test::TemplateStore;

Bytes ToBytes(std::span<const std::uint8_t> s) {
  return Bytes(s.begin(), s.end());
}

const ReceiverRecord kWorkedReceiver{"ZZ0ZZZ", "JO65HO", "Example 1.0", "RX +0.0dB on 137500.0Hz"};
const SenderRecord kWorkedSender{"Q1ABC", 137500, -12, "VESTA", 1, 1765000000};

TEST(IpfixMessage, WorkedDatagramIsReproducedByteForByte) {
  ASSERT_EQ(kWorkedDatagram.size(), 196u);
  MessageBuilder builder;
  ASSERT_TRUE(builder.Begin(1765000300, 0, 0x12345678, true, kWorkedReceiver));
  ASSERT_TRUE(builder.AddSender(kWorkedSender));
  EXPECT_EQ(ToBytes(builder.Finish()), kWorkedDatagram);
  EXPECT_EQ(
      MessageBytes(true, ReceiverRecordBytes(kWorkedReceiver), SenderRecordBytes(kWorkedSender)),
      196u);
}

TEST(IpfixMessage, IndependentReaderSeesTemplatesAndRecords) {
  TemplateStore store;
  const test::ParsedMessage m = ParseIpfix(kWorkedDatagram, store);
  ASSERT_TRUE(m.errors.empty()) << m.errors.front();
  ASSERT_EQ(m.templates.size(), 2u);
  EXPECT_TRUE(m.templates[0].options);
  EXPECT_EQ(m.templates[0].scopeCount, 1);
  EXPECT_EQ(m.templates[1].fields.size(), 6u);
  const auto receivers = m.RecordsOf(kReceiverTemplateId);
  const auto senders = m.RecordsOf(kSenderTemplateId);
  ASSERT_EQ(receivers.size(), 1u);
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(receivers[0]->Text("30351.9"), "RX +0.0dB on 137500.0Hz");
  EXPECT_EQ(senders[0]->Unsigned("30351.5"), 137500u);
  EXPECT_EQ(senders[0]->Unsigned("150"), 1765000000u);
}

TEST(IpfixMessage, WithoutTemplatesOnlyDataSetsFollowTheHeader) {
  MessageBuilder builder;
  ASSERT_TRUE(builder.Begin(1, 7, 9, false, kWorkedReceiver));
  ASSERT_TRUE(builder.AddSender(kWorkedSender));
  const Bytes message = ToBytes(builder.Finish());
  EXPECT_EQ(message.size(), 196u - kTemplateSetsBytes);
  // Data sets directly after the header.
  EXPECT_EQ(message[16], 0x99);
  EXPECT_EQ(message[17], 0x92);
  TemplateStore store;
  ParseIpfix(kWorkedDatagram, store);  // templates learnt from an earlier message
  const test::ParsedMessage m = ParseIpfix(message, store);
  EXPECT_TRUE(m.errors.empty());
  EXPECT_TRUE(m.templates.empty());
  EXPECT_EQ(m.sequence, 7u);
  EXPECT_EQ(m.RecordsOf(kSenderTemplateId).size(), 1u);
}

TEST(IpfixMessage, ReceiverOnlyMessageHasNoSenderSet) {
  MessageBuilder builder;
  ASSERT_TRUE(builder.Begin(1, 0, 9, true, kWorkedReceiver));
  const Bytes message = ToBytes(builder.Finish());
  EXPECT_EQ(message.size(), MessageBytes(true, ReceiverRecordBytes(kWorkedReceiver), 0));
  TemplateStore store;
  const test::ParsedMessage m = ParseIpfix(message, store);
  EXPECT_TRUE(m.errors.empty());
  EXPECT_EQ(m.records.size(), 1u);
}

TEST(IpfixMessage, SendersStopBeforeTheSizeLimitAndSizesArePredicted) {
  MessageBuilder builder;
  ASSERT_TRUE(builder.Begin(1, 0, 9, true, kWorkedReceiver));
  std::vector<std::string> calls;
  for (int i = 0; i < 200; ++i)
    calls.push_back(std::string("Q").append(std::to_string(i)).append("LONGERCALL"));
  std::size_t senderBytes = 0;
  int added = 0;
  for (const std::string& call : calls) {
    const SenderRecord s{call, 136000, 5, "VESTA", 1, 1};
    if (!builder.AddSender(s)) break;
    senderBytes += SenderRecordBytes(s);
    ++added;
  }
  ASSERT_GT(added, 10);
  ASSERT_LT(added, 200);
  EXPECT_EQ(builder.senderCount(), added);
  const Bytes message = ToBytes(builder.Finish());
  EXPECT_LT(message.size(), kMessageLimitBytes);
  EXPECT_EQ(message.size() % 4, 0u);
  EXPECT_EQ(message.size(), MessageBytes(true, ReceiverRecordBytes(kWorkedReceiver), senderBytes));
  // The record that was refused would have crossed the limit.
  const SenderRecord next{calls[static_cast<std::size_t>(added)], 136000, 5, "VESTA", 1, 1};
  EXPECT_GE(MessageBytes(true, ReceiverRecordBytes(kWorkedReceiver),
                         senderBytes + SenderRecordBytes(next)),
            kMessageLimitBytes);

  TemplateStore store;
  const test::ParsedMessage m = ParseIpfix(message, store);
  ASSERT_TRUE(m.errors.empty()) << m.errors.front();
  const auto senders = m.RecordsOf(kSenderTemplateId);
  ASSERT_EQ(senders.size(), static_cast<std::size_t>(added));
  EXPECT_EQ(senders.back()->Text("30351.1"), calls[static_cast<std::size_t>(added - 1)]);
  EXPECT_EQ(static_cast<std::int8_t>(senders.back()->Unsigned("30351.6")), 5);
}

TEST(IpfixMessage, NegativeAndExtremeNumbersAreEncodedAsGiven) {
  MessageBuilder builder;
  ASSERT_TRUE(builder.Begin(0xFFFFFFFFu, 0xFFFFFFFFu, 0, true, {"", "", "", ""}));
  ASSERT_TRUE(builder.AddSender({"A", 0xFFFFFFFFu, -128, "", 1, 0x80000000u}));
  TemplateStore store;
  const test::ParsedMessage m = ParseIpfix(ToBytes(builder.Finish()), store);
  ASSERT_TRUE(m.errors.empty());
  EXPECT_EQ(m.exportTime, 0xFFFFFFFFu);
  EXPECT_EQ(m.sequence, 0xFFFFFFFFu);
  const auto senders = m.RecordsOf(kSenderTemplateId);
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0]->Unsigned("30351.5"), 0xFFFFFFFFu);
  EXPECT_EQ(senders[0]->Unsigned("30351.6"), 0x80u);
  EXPECT_EQ(senders[0]->Text("30351.10"), "");
  EXPECT_EQ(senders[0]->Unsigned("150"), 0x80000000u);
  // Four empty strings make a 4-byte receiver record.
  EXPECT_EQ(m.RecordsOf(kReceiverTemplateId)[0]->Text("30351.2"), "");
}

TEST(Utf8Cut, LongStringsAreCutOnCharacterBoundaries) {
  const std::string ascii(300, 'a');
  EXPECT_EQ(Utf8PrefixBytes(ascii, 254), 254u);
  EXPECT_EQ(Utf8PrefixBytes("short", 254), 5u);

  // Two-byte character at 253..254 would straddle the cut.
  EXPECT_EQ(Utf8PrefixBytes(std::string(253, 'a') + "\xC3\xA9" + "z", 254), 253u);
  // Two-byte character at 252..253 fits exactly.
  EXPECT_EQ(Utf8PrefixBytes(std::string(252, 'a') + "\xC3\xA9" + "zz", 254), 254u);
  // Three-byte character at 252..254.
  EXPECT_EQ(Utf8PrefixBytes(std::string(252, 'a') + "\xE2\x82\xAC", 254), 252u);
  // Four-byte character at 251..254.
  EXPECT_EQ(Utf8PrefixBytes(std::string(251, 'a') + "\xF0\x9F\x93\xA1", 254), 251u);
  // Four-byte character at 250..253 fits.
  EXPECT_EQ(Utf8PrefixBytes(std::string(250, 'a') + "\xF0\x9F\x93\xA1" + "z", 254), 254u);
}

TEST(Utf8Cut, BytesThatAreNotUtf8CountAsSingleCharacters) {
  // Latin-1 text: 0xE9 is a lead byte without continuation bytes.
  EXPECT_EQ(Utf8PrefixBytes(std::string(254, 'a') + "\xE9", 254), 254u);
  // Stray continuation bytes across the cut.
  EXPECT_EQ(Utf8PrefixBytes(std::string(253, 'a') + "\x80\x80\x80\x80", 254), 254u);
  EXPECT_EQ(Utf8PrefixBytes(std::string(260, '\x80'), 254), 254u);
  // A Latin-1 byte just before the cut, with no continuation bytes after it, is kept.
  EXPECT_EQ(Utf8PrefixBytes(std::string(253, 'a') + "\xE9" + "bc", 254), 254u);
  // Overlong forms and surrogates are no characters either: byte by byte.
  EXPECT_EQ(Utf8PrefixBytes(std::string(253, 'a') + "\xC0\x80", 254), 254u);
  EXPECT_EQ(Utf8PrefixBytes(std::string(252, 'a') + "\xE0\x80\x80", 254), 254u);
  EXPECT_EQ(Utf8PrefixBytes(std::string(252, 'a') + "\xED\xA0\x80", 254), 254u);
}

TEST(Utf8Cut, MessageCarriesTheCutStringWithItsLength) {
  std::string euros;
  for (int i = 0; i < 100; ++i) euros += "\xE2\x82\xAC";  // 300 bytes
  MessageBuilder builder;
  ASSERT_TRUE(builder.Begin(1, 0, 1, true, {"ZZ0ZZZ", "", "", ""}));
  ASSERT_TRUE(builder.AddSender({euros, 1, 0, "VESTA", 1, 1}));
  TemplateStore store;
  const test::ParsedMessage m = ParseIpfix(ToBytes(builder.Finish()), store);
  ASSERT_TRUE(m.errors.empty());
  const std::string call = m.RecordsOf(kSenderTemplateId)[0]->Text("30351.1");
  EXPECT_EQ(call.size(), 252u);
  EXPECT_EQ(call, euros.substr(0, 252));
}

}  // namespace
}  // namespace vs32::ipfix
