// The spot reporting component: takes the spot routine's records and sends them to the
// spot service as IPFIX messages over one connected UDP socket.
//
// Pacing, as the service asks: the first datagram goes out at the first tickle after a
// spot is queued; after that at most one datagram every 5 minutes plus 0-30 s of random
// jitter, more only when the queued spots do not fit into one. Each callsign is sent at
// most once per 5 minutes; at most 2048 spots wait (the oldest go first). Templates ride
// in the first three datagrams of a session and in three consecutive ones every hour.
//
// Every call comes from the front end's main thread; a mutex guards against misuse. The
// only call that may wait is ReporterInitialize (name resolution, bounded by a timeout);
// sends never block.
#pragma once

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/ipfix.h"

namespace vs32 {

// The statistics record shared with the front end (664 bytes).
constexpr std::size_t kReporterRecordBytes = 664;
constexpr std::size_t kRecordHostOffset = 0;  // host name, UTF-16LE, NUL-terminated
constexpr std::size_t kRecordHostChars = 256;
constexpr std::size_t kRecordPortOffset = 512;  // port, UTF-16LE, NUL-terminated
constexpr std::size_t kRecordPortChars = 32;
constexpr std::size_t kRecordFlagOffset = 576;  // 1 while a socket is open
// Counters, little-endian 32-bit, in the order of ReporterCounters.
constexpr std::size_t kRecordCountersOffset = 580;
// Size of the message buffer the front ends pass to ReporterGetInformation.
constexpr std::size_t kInformationChars = 256;

using ReporterRecord = std::array<unsigned char, kReporterRecordBytes>;

// What happened to the spots of this object's lifetime.
struct ReporterCounters {
  std::uint32_t spotsAccepted = 0;     // queued for sending
  std::uint32_t spotsSent = 0;         // left in a datagram
  std::uint32_t repeatsDropped = 0;    // same callsign within 5 minutes
  std::uint32_t queueDropped = 0;      // pushed out of a full queue, or unsent at shutdown
  std::uint32_t sendErrorDropped = 0;  // in a datagram whose send failed
  std::uint32_t spotsRejected = 0;     // not accepted (not initialised, bad record)
  std::uint32_t datagramsSent = 0;
  std::uint32_t sendErrors = 0;
  std::uint32_t spotsQueued = 0;  // waiting now
};
constexpr int kRecordCounterCount = 9;

// Text conversions for the record. Both write at most out.size() - 1 units and a NUL
// terminator, never split a character, and return the number of units written (without
// the NUL). Invalid input becomes U+FFFD.
std::size_t Utf8ToUtf16(std::string_view text, std::span<char16_t> out);
std::size_t Utf16ToUtf8(std::u16string_view text, std::span<char> out);

// Writes text (UTF-16LE, cut to chars - 1 characters, NUL-terminated, the rest of the
// field zeroed) into the record field at offset.
void WriteRecordText(ReporterRecord& record, std::size_t offset, std::size_t chars,
                     std::u16string_view text);
// Reads the NUL-terminated field at offset into out (at most chars units); returns the
// number of units read.
std::size_t ReadRecordText(const ReporterRecord& record, std::size_t offset, std::size_t chars,
                           std::span<char16_t> out);
// Start-up: puts the configured host and port (UTF-8) into the record.
void StoreReporterAddress(ReporterRecord& record, std::string_view host, std::string_view port);

// Name resolution result: one address to connect to, or a reason in words.
struct ResolvedAddress {
  bool ok = false;
  sockaddr_storage address{};
  socklen_t length = 0;
  std::string error;
};
// Resolves host and port (numeric service) for a UDP socket.
using Resolver = std::function<ResolvedAddress(const std::string& host, const std::string& port)>;
ResolvedAddress ResolveWithGetaddrinfo(const std::string& host, const std::string& port);

struct ReporterOptions {
  // Wall clock in seconds since 1970; empty: the system clock.
  std::function<std::int64_t()> clock;
  // Random 32-bit values (observation domain, jitter); empty: a seeded generator.
  std::function<std::uint32_t()> random;
  // Empty: getaddrinfo.
  Resolver resolver;
  // Longest wait for the resolver in ReporterInitialize.
  std::chrono::milliseconds resolveTimeout{2000};
  // Longest wait for sending what is queued on ReporterUninitialize and destruction.
  std::chrono::milliseconds flushTimeout{1000};
};

class SpotReporter {
 public:
  static constexpr int kQueueCapacity = 2048;
  static constexpr std::int64_t kSendIntervalSeconds = 300;
  static constexpr std::uint32_t kJitterSeconds = 30;  // 0..30 added to each interval
  static constexpr std::int64_t kRepeatWindowSeconds = 300;
  static constexpr std::int64_t kTemplateIntervalSeconds = 3600;
  static constexpr int kTemplateRepeats = 3;
  // After a failed resolution, a new attempt for the same address within this time
  // fails at once, so that a spot routine that re-initialises on every spot does not
  // stall the main loop again and again while the name server is unreachable.
  static constexpr std::int64_t kResolveRetrySeconds = 60;

  explicit SpotReporter(ReporterOptions options = {});
  // Sends what is queued (waiting at most the flush timeout) and closes the socket.
  ~SpotReporter();
  SpotReporter(const SpotReporter&) = delete;
  SpotReporter& operator=(const SpotReporter&) = delete;

  // Resolves host (bounded wait) and opens the socket; starts a new session (new
  // observation domain, sequence 0, templates). 0 on success, nonzero on failure with
  // the reason available through ReporterGetInformation. Queued spots are kept.
  int ReporterInitialize(std::u16string_view host, std::u16string_view port);
  // Takes a spot: remote record (CALL, MODE, FREQ, RST_SENT) and local record
  // (STATION_CALLSIGN, MY_GRIDSQUARE, PROGRAMID, MY_ANTENNA), each NUL-separated, read
  // only within the given bytes. 0 when the spot is accepted for sending, including a
  // repeat that the 5-minute rule drops; nonzero when not initialised or the records
  // are unusable. flags is accepted and not interpreted.
  int ReporterSeenCallsignSTD(std::span<const char> remote, std::span<const char> local, int flags);
  // Sends what pacing allows. Never waits.
  void ReporterTickle();
  // Fills record (size bytes, at most 664 used) with the current view: host, port, flag,
  // counters. Host and port stay as the caller put them until an initialisation was tried.
  void ReporterGetStatistics(unsigned char* record, std::size_t size);
  // The last message in words, UTF-16, NUL-terminated, cut to chars - 1 units.
  void ReporterGetInformation(char16_t* buffer, std::size_t chars);
  // Sends what is queued (waiting at most the flush timeout) and closes the socket.
  void ReporterUninitialize();

  // Program exit: sends what is queued, waiting at most the flush timeout; the socket
  // stays open.
  void Flush();

  ReporterCounters Counters() const;
  bool Connected() const;
  // The last message as UTF-8.
  std::string Information() const;

 private:
  // A string as a datagram carries it: at most 254 bytes, cut on a UTF-8 boundary.
  struct FieldText {
    std::array<char, ipfix::kMaxStringBytes> bytes{};
    std::uint8_t length = 0;
    void Set(std::string_view text);
    std::string_view view() const { return {bytes.data(), length}; }
  };
  struct QueuedSpot {
    FieldText call, mode, receiverCall, locator, software, antenna;
    std::uint32_t frequencyHz = 0;
    std::int8_t snrDb = 0;
    std::uint32_t flowStartSeconds = 0;
  };
  struct RecentCall {
    FieldText call;
    std::int64_t seconds = 0;
    bool used = false;
  };
  struct ResolveJob;
  enum class SendResult { kSent, kBusy, kFailed };

  std::int64_t Now();
  std::uint32_t Random();
  void SetInformation(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void CloseSocket();
  int Reject(int code);
  bool RepeatedCall(std::string_view call, std::int64_t now);
  void Enqueue(const QueuedSpot& spot);
  void PopFront(int count);
  int SpotsForDatagram(bool withTemplates) const;
  bool TemplatesWanted(std::int64_t now) const;
  bool TemplatesDue(std::int64_t now);
  SendResult SendDatagram(std::int64_t now);
  void FlushLocked();

  ReporterOptions options_;
  std::mt19937 engine_;
  mutable std::mutex mutex_;

  // Address as last given to ReporterInitialize.
  bool addressKnown_ = false;
  std::array<char16_t, kRecordHostChars> host16_{};
  std::array<char16_t, kRecordPortChars> port16_{};
  std::array<char, 4 * kRecordHostChars> host_{};
  std::array<char, 4 * kRecordPortChars> port_{};
  std::shared_ptr<ResolveJob> pendingResolve_;
  bool lastResolveFailed_ = false;
  std::int64_t lastResolveFailure_ = 0;

  // Session.
  int socket_ = -1;
  std::uint32_t domainId_ = 0;
  std::uint32_t sequence_ = 0;
  int templatesLeft_ = 0;
  std::int64_t templateCycleStart_ = 0;
  bool firstSent_ = false;
  std::int64_t nextSendSeconds_ = 0;

  // Queue: a ring of kQueueCapacity spots, allocated once.
  std::vector<QueuedSpot> queue_;
  int head_ = 0;
  int count_ = 0;
  std::vector<RecentCall> recent_;

  ReporterCounters counters_;
  std::array<char, 512> information_{};
  ipfix::MessageBuilder builder_;
};

}  // namespace vs32
