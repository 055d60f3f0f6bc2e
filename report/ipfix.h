// IPFIX (RFC 7011) messages as the spot service takes them: a 16-byte header, the two
// templates, one receiver record and any number of sender records, all big-endian.
//
// Message layout: header | options template set (0x9992) | template set (0x9993) |
// receiver data set | sender data set. Every set is padded with zero bytes to a multiple
// of 4. Variable-length strings are one length byte (0..254) and the bytes, cut on a
// UTF-8 character boundary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vs32::ipfix {

constexpr std::uint16_t kVersion = 0x000A;
constexpr std::size_t kHeaderBytes = 16;
// A message must stay below this size (whole datagram payload).
constexpr std::size_t kMessageLimitBytes = 1400;
// Longest string a variable-length field can carry.
constexpr std::size_t kMaxStringBytes = 254;
constexpr std::uint32_t kEnterpriseNumber = 30351;
constexpr std::uint16_t kReceiverTemplateId = 0x9992;
constexpr std::uint16_t kSenderTemplateId = 0x9993;
// Both template sets together, padding included.
constexpr std::size_t kTemplateSetsBytes = 44 + 52;

// The receiving station: one per message.
struct ReceiverRecord {
  std::string_view callsign;
  std::string_view locator;
  std::string_view software;
  std::string_view antenna;
};

// One heard station.
struct SenderRecord {
  std::string_view callsign;
  std::uint32_t frequencyHz = 0;
  std::int8_t snrDb = 0;
  std::string_view mode;
  std::uint8_t informationSource = 1;  // 1: extracted automatically
  std::uint32_t flowStartSeconds = 0;  // seconds since 1970
};

// Number of leading bytes of text that fit into maxBytes without splitting a UTF-8
// character. Bytes that are not valid UTF-8 count as single characters.
std::size_t Utf8PrefixBytes(std::string_view text, std::size_t maxBytes);

// Encoded size of one record (without set header or padding).
std::size_t ReceiverRecordBytes(const ReceiverRecord& record);
std::size_t SenderRecordBytes(const SenderRecord& record);

// Size of a whole message with one receiver record of receiverBytes and sender records
// of senderBytes in total (0: no sender set), padding included.
std::size_t MessageBytes(bool withTemplates, std::size_t receiverBytes, std::size_t senderBytes);

// Builds one message in a fixed buffer; nothing is allocated.
class MessageBuilder {
 public:
  // Starts a message: header, templates when asked for, and the receiver data set.
  // Returns false (and leaves an empty message) when even that would not stay below
  // the message limit.
  bool Begin(std::uint32_t exportTimeSeconds, std::uint32_t sequence, std::uint32_t domainId,
             bool withTemplates, const ReceiverRecord& receiver);
  // Appends a sender record; returns false and writes nothing when the message would
  // no longer stay below the limit.
  bool AddSender(const SenderRecord& sender);
  // Pads the open set, fills in the lengths and returns the finished message.
  std::span<const std::uint8_t> Finish();

  int senderCount() const { return senderCount_; }
  std::size_t size() const { return size_; }

 private:
  void Put8(std::uint8_t v) { buffer_[size_++] = v; }
  void Put16(std::uint16_t v);
  void Put32(std::uint32_t v);
  void PutString(std::string_view text);
  void PutField(std::uint16_t element, std::uint16_t length);
  void ClosePadding();
  void SetLength16(std::size_t at, std::size_t value);

  std::array<std::uint8_t, kMessageLimitBytes> buffer_{};
  std::size_t size_ = 0;
  std::size_t senderSetStart_ = 0;  // 0: no sender set open
  int senderCount_ = 0;
  bool begun_ = false;
};

}  // namespace vs32::ipfix
