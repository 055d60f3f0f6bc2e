// Spot fields come from decodes and from the settings file: the datagram builder
// must turn any texts and numbers into a well-formed message below the size
// limit, as an independent reader sees it, carrying each text cut on a
// character boundary.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "report/ipfix.h"
#include "report/ipfix_listener.h"

namespace {

using vs32::ipfix::kMaxStringBytes;
using vs32::ipfix::Utf8PrefixBytes;

std::string Cut(const std::string& text) {
  return text.substr(0, Utf8PrefixBytes(text, kMaxStringBytes));
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

struct Sender {
  std::string callsign, mode;
  vs32::ipfix::SenderRecord record;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string receiverCall = in.ConsumeRandomLengthString(300);
  const std::string locator = in.ConsumeRandomLengthString(300);
  const std::string software = in.ConsumeRandomLengthString(300);
  const std::string antenna = in.ConsumeRandomLengthString(300);
  const uint32_t exportTime = in.ConsumeIntegral<uint32_t>();
  const uint32_t sequence = in.ConsumeIntegral<uint32_t>();
  const uint32_t domain = in.ConsumeIntegral<uint32_t>();
  const bool templates = in.ConsumeBool();

  // The cut never exceeds the limit and never splits a character of valid UTF-8.
  for (const std::string* text : {&receiverCall, &locator, &software, &antenna}) {
    const size_t cut = Utf8PrefixBytes(*text, kMaxStringBytes);
    VS32_FUZZ_CHECK(cut <= kMaxStringBytes && cut <= text->size());
    if (text->size() <= kMaxStringBytes) VS32_FUZZ_CHECK(cut == text->size());
    if (cut < text->size() && ValidUtf8(*text)) {
      VS32_FUZZ_CHECK((static_cast<unsigned char>((*text)[cut]) & 0xC0) != 0x80);
      VS32_FUZZ_CHECK(cut + 4 > kMaxStringBytes);
    }
  }

  std::vector<Sender> senders(static_cast<size_t>(in.ConsumeIntegralInRange(0, 40)));
  for (Sender& s : senders) {
    s.callsign = in.ConsumeRandomLengthString(300);
    s.mode = in.ConsumeRandomLengthString(20);
    s.record.frequencyHz = in.ConsumeIntegral<uint32_t>();
    s.record.snrDb = in.ConsumeIntegral<int8_t>();
    s.record.informationSource = in.ConsumeIntegral<uint8_t>();
    s.record.flowStartSeconds = in.ConsumeIntegral<uint32_t>();
  }
  for (Sender& s : senders) {
    s.record.callsign = s.callsign;
    s.record.mode = s.mode;
  }

  const vs32::ipfix::ReceiverRecord receiver{receiverCall, locator, software, antenna};
  vs32::ipfix::MessageBuilder builder;
  if (!builder.Begin(exportTime, sequence, domain, templates, receiver)) {
    // Only a receiver record too big for any message may be refused.
    VS32_FUZZ_CHECK(vs32::ipfix::MessageBytes(templates, vs32::ipfix::ReceiverRecordBytes(receiver),
                                              0) >= vs32::ipfix::kMessageLimitBytes);
    return 0;
  }
  size_t senderBytes = 0;
  std::vector<const Sender*> added;
  for (const Sender& s : senders) {
    const size_t bytes = vs32::ipfix::SenderRecordBytes(s.record);
    const bool fits =
        vs32::ipfix::MessageBytes(templates, vs32::ipfix::ReceiverRecordBytes(receiver),
                                  senderBytes + bytes) < vs32::ipfix::kMessageLimitBytes;
    const bool ok = builder.AddSender(s.record);
    VS32_FUZZ_CHECK(ok == fits);
    if (ok) {
      senderBytes += bytes;
      added.push_back(&s);
    }
  }
  VS32_FUZZ_CHECK(builder.senderCount() == static_cast<int>(added.size()));
  const auto message = builder.Finish();
  VS32_FUZZ_CHECK(message.size() < vs32::ipfix::kMessageLimitBytes);
  VS32_FUZZ_CHECK(message.size() ==
                  vs32::ipfix::MessageBytes(templates, vs32::ipfix::ReceiverRecordBytes(receiver),
                                            senderBytes));

  // An independent reader finds the header, the records and the cut texts.
  vs32::test::TemplateStore store;
  if (!templates) {
    // Without templates in this message, the reader needs those of an earlier one.
    vs32::ipfix::MessageBuilder first;
    const vs32::ipfix::ReceiverRecord empty{};
    VS32_FUZZ_CHECK(first.Begin(0, 0, domain, true, empty));
    const auto bytes = first.Finish();
    vs32::test::ParseIpfix(vs32::test::Bytes(bytes.begin(), bytes.end()), store);
  }
  const vs32::test::ParsedMessage parsed =
      vs32::test::ParseIpfix(vs32::test::Bytes(message.begin(), message.end()), store);
  VS32_FUZZ_CHECK(parsed.errors.empty());
  VS32_FUZZ_CHECK(parsed.version == vs32::ipfix::kVersion);
  VS32_FUZZ_CHECK(parsed.length == message.size());
  VS32_FUZZ_CHECK(parsed.exportTime == exportTime && parsed.sequence == sequence &&
                  parsed.domain == domain);
  const auto receivers = parsed.RecordsOf(vs32::ipfix::kReceiverTemplateId);
  VS32_FUZZ_CHECK(receivers.size() == 1);
  VS32_FUZZ_CHECK(receivers[0]->Text("30351.2") == Cut(receiverCall));
  VS32_FUZZ_CHECK(receivers[0]->Text("30351.4") == Cut(locator));
  VS32_FUZZ_CHECK(receivers[0]->Text("30351.8") == Cut(software));
  VS32_FUZZ_CHECK(receivers[0]->Text("30351.9") == Cut(antenna));
  const auto heard = parsed.RecordsOf(vs32::ipfix::kSenderTemplateId);
  VS32_FUZZ_CHECK(heard.size() == added.size());
  for (size_t i = 0; i < heard.size(); ++i) {
    const Sender& s = *added[i];
    VS32_FUZZ_CHECK(heard[i]->Text("30351.1") == Cut(s.callsign));
    VS32_FUZZ_CHECK(heard[i]->Unsigned("30351.5") == s.record.frequencyHz);
    VS32_FUZZ_CHECK(heard[i]->Text("30351.10") == Cut(s.mode));
  }
  return 0;
}
