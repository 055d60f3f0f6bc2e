#include "report/ipfix.h"

#include "config/utf8.h"

namespace vs32::ipfix {

namespace {

constexpr std::uint16_t kTemplateSetId = 2;
constexpr std::uint16_t kOptionsTemplateSetId = 3;
constexpr std::uint16_t kVariableLength = 0xFFFF;
constexpr std::uint16_t kEnterpriseBit = 0x8000;

// Elements of the service's enterprise (ids without the enterprise bit).
constexpr std::uint16_t kSenderCallsign = 1;
constexpr std::uint16_t kReceiverCallsign = 2;
constexpr std::uint16_t kReceiverLocator = 4;
constexpr std::uint16_t kFrequency = 5;
constexpr std::uint16_t kSnr = 6;
constexpr std::uint16_t kDecoderSoftware = 8;
constexpr std::uint16_t kAntennaInformation = 9;
constexpr std::uint16_t kMode = 10;
constexpr std::uint16_t kInformationSource = 11;
// IANA element, no enterprise number.
constexpr std::uint16_t kFlowStartSeconds = 150;

constexpr std::size_t kSetHeaderBytes = 4;

std::size_t Padded(std::size_t n) {
  return (n + 3) & ~std::size_t{3};
}

std::size_t StringFieldBytes(std::string_view text) {
  return 1 + Utf8PrefixBytes(text, kMaxStringBytes);
}

}  // namespace

std::size_t Utf8PrefixBytes(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  // Cut before the character that would straddle the limit.
  std::size_t pos = 0;
  while (pos < maxBytes) {
    const std::size_t length = Utf8At(text, pos).length;
    if (pos + length > maxBytes) break;
    pos += length;
  }
  return pos;
}

std::size_t ReceiverRecordBytes(const ReceiverRecord& r) {
  return StringFieldBytes(r.callsign) + StringFieldBytes(r.locator) + StringFieldBytes(r.software) +
         StringFieldBytes(r.antenna);
}

std::size_t SenderRecordBytes(const SenderRecord& s) {
  return StringFieldBytes(s.callsign) + 4 + 1 + StringFieldBytes(s.mode) + 1 + 4;
}

std::size_t MessageBytes(bool withTemplates, std::size_t receiverBytes, std::size_t senderBytes) {
  std::size_t total = kHeaderBytes + Padded(kSetHeaderBytes + receiverBytes);
  if (withTemplates) total += kTemplateSetsBytes;
  if (senderBytes > 0) total += Padded(kSetHeaderBytes + senderBytes);
  return total;
}

void MessageBuilder::Put16(std::uint16_t v) {
  Put8(static_cast<std::uint8_t>(v >> 8));
  Put8(static_cast<std::uint8_t>(v));
}

void MessageBuilder::Put32(std::uint32_t v) {
  Put16(static_cast<std::uint16_t>(v >> 16));
  Put16(static_cast<std::uint16_t>(v));
}

void MessageBuilder::PutString(std::string_view text) {
  const std::size_t n = Utf8PrefixBytes(text, kMaxStringBytes);
  Put8(static_cast<std::uint8_t>(n));
  for (std::size_t i = 0; i < n; ++i) Put8(static_cast<std::uint8_t>(text[i]));
}

void MessageBuilder::PutField(std::uint16_t element, std::uint16_t length) {
  Put16(element | kEnterpriseBit);
  Put16(length);
  Put32(kEnterpriseNumber);
}

void MessageBuilder::ClosePadding() {
  while (size_ % 4 != 0) Put8(0);
}

void MessageBuilder::SetLength16(std::size_t at, std::size_t value) {
  buffer_[at] = static_cast<std::uint8_t>(value >> 8);
  buffer_[at + 1] = static_cast<std::uint8_t>(value);
}

bool MessageBuilder::Begin(std::uint32_t exportTimeSeconds, std::uint32_t sequence,
                           std::uint32_t domainId, bool withTemplates,
                           const ReceiverRecord& receiver) {
  size_ = 0;
  senderSetStart_ = 0;
  senderCount_ = 0;
  begun_ = false;
  const std::size_t receiverBytes = ReceiverRecordBytes(receiver);
  if (MessageBytes(withTemplates, receiverBytes, 0) >= kMessageLimitBytes) return false;

  Put16(kVersion);
  Put16(0);  // length, filled in by Finish
  Put32(exportTimeSeconds);
  Put32(sequence);
  Put32(domainId);

  if (withTemplates) {
    std::size_t set = size_;
    Put16(kOptionsTemplateSetId);
    Put16(0);
    Put16(kReceiverTemplateId);
    Put16(4);  // field count
    Put16(1);  // scope field count: the receiver callsign
    PutField(kReceiverCallsign, kVariableLength);
    PutField(kReceiverLocator, kVariableLength);
    PutField(kDecoderSoftware, kVariableLength);
    PutField(kAntennaInformation, kVariableLength);
    ClosePadding();
    SetLength16(set + 2, size_ - set);

    set = size_;
    Put16(kTemplateSetId);
    Put16(0);
    Put16(kSenderTemplateId);
    Put16(6);
    PutField(kSenderCallsign, kVariableLength);
    PutField(kFrequency, 4);
    PutField(kSnr, 1);
    PutField(kMode, kVariableLength);
    PutField(kInformationSource, 1);
    Put16(kFlowStartSeconds);
    Put16(4);
    ClosePadding();
    SetLength16(set + 2, size_ - set);
  }

  const std::size_t set = size_;
  Put16(kReceiverTemplateId);
  Put16(0);
  PutString(receiver.callsign);
  PutString(receiver.locator);
  PutString(receiver.software);
  PutString(receiver.antenna);
  ClosePadding();
  SetLength16(set + 2, size_ - set);
  begun_ = true;
  return true;
}

bool MessageBuilder::AddSender(const SenderRecord& sender) {
  if (!begun_) return false;
  const std::size_t recordBytes = SenderRecordBytes(sender);
  const std::size_t open = senderSetStart_ == 0 ? kSetHeaderBytes : 0;
  if (Padded(size_ + open + recordBytes) >= kMessageLimitBytes) return false;
  if (senderSetStart_ == 0) {
    senderSetStart_ = size_;
    Put16(kSenderTemplateId);
    Put16(0);
  }
  PutString(sender.callsign);
  Put32(sender.frequencyHz);
  Put8(static_cast<std::uint8_t>(sender.snrDb));
  PutString(sender.mode);
  Put8(sender.informationSource);
  Put32(sender.flowStartSeconds);
  ++senderCount_;
  return true;
}

std::span<const std::uint8_t> MessageBuilder::Finish() {
  if (!begun_) return {};
  if (senderSetStart_ != 0) {
    ClosePadding();
    SetLength16(senderSetStart_ + 2, size_ - senderSetStart_);
    senderSetStart_ = 0;
  }
  SetLength16(2, size_);
  begun_ = false;
  return {buffer_.data(), size_};
}

}  // namespace vs32::ipfix
