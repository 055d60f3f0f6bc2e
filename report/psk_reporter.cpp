#include "report/psk_reporter.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

#include "config/ascii_case.h"
#include "config/utf8.h"
#include "report/spot_records.h"

namespace vs32 {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool ValidHostName(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_' || c == ':' || c == '%';
    if (!ok) return false;
  }
  return true;
}

bool ValidPort(std::string_view port) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  return ec == std::errc() && end == port.data() + port.size() && value >= 1 && value <= 65535;
}

// A whole decimal text, such as "136000", as Hz.
bool ParseFrequency(std::string_view text, std::uint32_t& hz) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (!std::isfinite(value) || value < 0 || value > 4294967295.0) return false;
  hz = static_cast<std::uint32_t>(std::llround(value));
  return true;
}

// The report as the spot routine writes it ("%+.1f dB"): rounded half away from zero and
// clamped to a signed byte.
bool ParseReport(std::string_view text, std::int8_t& db) {
  std::size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  if (start < text.size() && text[start] == '+') ++start;
  double value = 0;
  const char* first = text.data() + start;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || std::isnan(value)) return false;
  const std::string_view rest(end, static_cast<std::size_t>(text.data() + text.size() - end));
  if (!rest.empty() && rest.front() != ' ' && rest.front() != 'd') return false;
  const double rounded = std::round(value);
  db = static_cast<std::int8_t>(rounded < -128.0 ? -128.0 : rounded > 127.0 ? 127.0 : rounded);
  return true;
}

void PutLe32(unsigned char* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::size_t Utf8ToUtf16(std::string_view text, std::span<char16_t> out) {
  if (out.empty()) return 0;
  const std::size_t room = out.size() - 1;
  std::size_t n = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Utf8Char decoded = Utf8At(text, pos);
    pos += decoded.length;
    const char32_t c = decoded.value;
    if (c >= 0x10000) {
      if (n + 2 > room) break;
      const char32_t v = c - 0x10000;
      out[n++] = static_cast<char16_t>(0xD800 + (v >> 10));
      out[n++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      if (n + 1 > room) break;
      out[n++] = static_cast<char16_t>(c);
    }
  }
  out[n] = 0;
  return n;
}

std::size_t Utf16ToUtf8(std::u16string_view text, std::span<char> out) {
  if (out.empty()) return 0;
  const std::size_t room = out.size() - 1;
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = kReplacement;
    }
    char bytes[4];
    int length = 0;
    if (c < 0x80) {
      bytes[length++] = static_cast<char>(c);
    } else if (c < 0x800) {
      bytes[length++] = static_cast<char>(0xC0 | (c >> 6));
      bytes[length++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      bytes[length++] = static_cast<char>(0xE0 | (c >> 12));
      bytes[length++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes[length++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      bytes[length++] = static_cast<char>(0xF0 | (c >> 18));
      bytes[length++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      bytes[length++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes[length++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (n + length > room) break;
    for (int k = 0; k < length; ++k) out[n++] = bytes[k];
  }
  out[n] = 0;
  return n;
}

void WriteRecordText(ReporterRecord& record, std::size_t offset, std::size_t chars,
                     std::u16string_view text) {
  if (chars == 0 || offset + 2 * chars > record.size()) return;
  std::size_t n = std::min(text.size(), chars - 1);
  // Never leave the first half of a surrogate pair without its second half.
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] < 0xDC00) --n;
  for (std::size_t i = 0; i < chars; ++i) {
    const char16_t c = i < n ? text[i] : 0;
    record[offset + 2 * i] = static_cast<unsigned char>(c & 0xFF);
    record[offset + 2 * i + 1] = static_cast<unsigned char>(c >> 8);
  }
}

std::size_t ReadRecordText(const ReporterRecord& record, std::size_t offset, std::size_t chars,
                           std::span<char16_t> out) {
  if (offset + 2 * chars > record.size()) return 0;
  std::size_t n = 0;
  while (n < chars && n < out.size()) {
    const auto c =
        static_cast<char16_t>(record[offset + 2 * n] | (record[offset + 2 * n + 1] << 8));
    if (c == 0) break;
    out[n++] = c;
  }
  if (n < out.size()) out[n] = 0;
  return n;
}

void StoreReporterAddress(ReporterRecord& record, std::string_view host, std::string_view port) {
  std::array<char16_t, kRecordHostChars> host16{};
  std::array<char16_t, kRecordPortChars> port16{};
  const std::size_t hostLength = Utf8ToUtf16(host, host16);
  const std::size_t portLength = Utf8ToUtf16(port, port16);
  WriteRecordText(record, kRecordHostOffset, kRecordHostChars, {host16.data(), hostLength});
  WriteRecordText(record, kRecordPortOffset, kRecordPortChars, {port16.data(), portLength});
}

ResolvedAddress ResolveWithGetaddrinfo(const std::string& host, const std::string& port) {
  ResolvedAddress result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  // No AI_ADDRCONFIG: on a machine with only the loopback interface up it would refuse
  // even "127.0.0.1".
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0 || list == nullptr) {
    result.error = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
    if (list != nullptr) freeaddrinfo(list);
    return result;
  }
  // IPv4 first: home networks with a half-working IPv6 route are common, and the service
  // is reachable over both.
  const addrinfo* chosen = list;
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      chosen = a;
      break;
    }
  }
  std::memcpy(&result.address, chosen->ai_addr, chosen->ai_addrlen);
  result.length = chosen->ai_addrlen;
  result.ok = true;
  freeaddrinfo(list);
  return result;
}

// Shared between ReporterInitialize and its resolver thread, which may outlive the wait
// (and the reporter) when the name server does not answer.
struct SpotReporter::ResolveJob {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  ResolvedAddress result;
};

void SpotReporter::FieldText::Set(std::string_view text) {
  length = static_cast<std::uint8_t>(ipfix::Utf8PrefixBytes(text, bytes.size()));
  if (length > 0) std::memcpy(bytes.data(), text.data(), length);
}

SpotReporter::SpotReporter(ReporterOptions options)
    : options_(std::move(options)),
      engine_(std::random_device{}()),
      queue_(kQueueCapacity),
      recent_(kQueueCapacity) {
  SetInformation("Not initialised");
}

SpotReporter::~SpotReporter() {
  std::lock_guard lock(mutex_);
  FlushLocked();
  CloseSocket();
}

std::int64_t SpotReporter::Now() {
  if (options_.clock) return options_.clock();
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::uint32_t SpotReporter::Random() {
  if (options_.random) return options_.random();
  return static_cast<std::uint32_t>(engine_());
}

void SpotReporter::SetInformation(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(information_.data(), information_.size(), format, args);
  va_end(args);
}

void SpotReporter::CloseSocket() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

int SpotReporter::ReporterInitialize(std::u16string_view host, std::u16string_view port) {
  std::lock_guard lock(mutex_);
  const std::int64_t now = Now();
  host = host.substr(0, std::min(host.find(u'\0'), kRecordHostChars - 1));
  port = port.substr(0, std::min(port.find(u'\0'), kRecordPortChars - 1));

  const bool sameAddress = addressKnown_ && host == std::u16string_view(host16_.data()) &&
                           port == std::u16string_view(port16_.data());
  host16_.fill(0);
  port16_.fill(0);
  std::copy(host.begin(), host.end(), host16_.begin());
  std::copy(port.begin(), port.end(), port16_.begin());
  Utf16ToUtf8(host, host_);
  Utf16ToUtf8(port, port_);
  addressKnown_ = true;

  // A new session starts here; spots still queued go out in it.
  CloseSocket();
  if (!ValidHostName(host_.data())) {
    SetInformation("Invalid report host name \"%s\"", host_.data());
    return 1;
  }
  if (!ValidPort(port_.data())) {
    SetInformation("Invalid report port \"%s\"", port_.data());
    return 2;
  }
  if (pendingResolve_) {
    std::lock_guard jobLock(pendingResolve_->mutex);
    if (!pendingResolve_->finished) {
      SetInformation("Still waiting for the name server to resolve %s", host_.data());
      return 3;
    }
  }
  pendingResolve_.reset();
  if (sameAddress && lastResolveFailed_ && now - lastResolveFailure_ >= 0 &&
      now - lastResolveFailure_ < kResolveRetrySeconds) {
    // Keep the earlier reason and say when the next attempt may go.
    std::array<char, 512> reason{};
    std::snprintf(reason.data(), reason.size(), "%s", information_.data());
    const char* const retry = "; next attempt in ";
    if (std::strstr(reason.data(), retry) != nullptr) *std::strstr(reason.data(), retry) = '\0';
    SetInformation("%s%s%lld s", reason.data(), retry,
                   static_cast<long long>(kResolveRetrySeconds - (now - lastResolveFailure_)));
    return 3;
  }

  auto job = std::make_shared<ResolveJob>();
  Resolver resolver = options_.resolver ? options_.resolver : ResolveWithGetaddrinfo;
  try {
    std::thread([job, resolver, h = std::string(host_.data()), p = std::string(port_.data())] {
      ResolvedAddress result;
      try {
        result = resolver(h, p);
      } catch (const std::exception& e) {
        result = ResolvedAddress{};
        result.error = e.what();
      }
      std::lock_guard jobLock(job->mutex);
      job->result = std::move(result);
      job->finished = true;
      job->done.notify_all();
    }).detach();
  } catch (const std::exception& e) {
    SetInformation("Cannot start the name lookup for %s: %s", host_.data(), e.what());
    return 3;
  }

  ResolvedAddress address;
  {
    std::unique_lock jobLock(job->mutex);
    if (!job->done.wait_for(jobLock, options_.resolveTimeout, [&] { return job->finished; })) {
      pendingResolve_ = job;
      lastResolveFailed_ = true;
      lastResolveFailure_ = now;
      SetInformation("No answer from the name server for %s within %lld ms", host_.data(),
                     static_cast<long long>(options_.resolveTimeout.count()));
      return 3;
    }
    address = job->result;
  }
  if (!address.ok) {
    lastResolveFailed_ = true;
    lastResolveFailure_ = now;
    SetInformation("Cannot resolve report host %s: %s", host_.data(), address.error.c_str());
    return 3;
  }
  lastResolveFailed_ = false;

  const int fd =
      ::socket(address.address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    SetInformation("Cannot open a UDP socket: %s", std::strerror(errno));
    return 4;
  }
  // Connected, so that ICMP errors come back as send errors.
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
    SetInformation("Cannot connect a UDP socket to %s port %s: %s", host_.data(), port_.data(),
                   std::strerror(errno));
    ::close(fd);
    return 5;
  }
  socket_ = fd;
  domainId_ = Random();
  sequence_ = 0;
  templatesLeft_ = kTemplateRepeats;
  templateCycleStart_ = now;
  firstSent_ = false;
  nextSendSeconds_ = now;
  SetInformation("Reporting to %s port %s", host_.data(), port_.data());
  return 0;
}

int SpotReporter::Reject(int code) {
  ++counters_.spotsRejected;
  return code;
}

bool SpotReporter::RepeatedCall(std::string_view call, std::int64_t now) {
  RecentCall* slot = nullptr;
  for (RecentCall& entry : recent_) {
    if (entry.used && EqualIgnoringAsciiCase(entry.call.view(), call)) {
      if (now - entry.seconds >= 0 && now - entry.seconds < kRepeatWindowSeconds) return true;
      slot = &entry;
      break;
    }
  }
  if (slot == nullptr) {
    // A free entry, else the one heard longest ago.
    for (RecentCall& entry : recent_) {
      if (!entry.used) {
        slot = &entry;
        break;
      }
      if (slot == nullptr || entry.seconds < slot->seconds) slot = &entry;
    }
  }
  slot->call.Set(call);
  slot->seconds = now;
  slot->used = true;
  return false;
}

void SpotReporter::Enqueue(const QueuedSpot& spot) {
  if (count_ == kQueueCapacity) {
    PopFront(1);
    ++counters_.queueDropped;
  }
  queue_[(head_ + count_) % kQueueCapacity] = spot;
  ++count_;
}

void SpotReporter::PopFront(int count) {
  head_ = (head_ + count) % kQueueCapacity;
  count_ -= count;
}

int SpotReporter::ReporterSeenCallsignSTD(std::span<const char> remote, std::span<const char> local,
                                          int /*flags*/) {
  std::lock_guard lock(mutex_);
  const std::int64_t now = Now();
  if (socket_ < 0) {
    SetInformation("Not initialised: spot not accepted");
    return Reject(1);
  }
  const SpotRecordReader remoteRecord(remote);
  const SpotRecordReader localRecord(local);
  const std::string_view call = remoteRecord.Find("CALL");
  if (call.empty()) {
    SetInformation("Spot without a CALL field: not accepted");
    return Reject(2);
  }
  const std::string_view receiverCall = localRecord.Find("STATION_CALLSIGN");
  if (receiverCall.empty()) {
    SetInformation("Spot without the station's callsign: not accepted");
    return Reject(2);
  }
  QueuedSpot spot;
  spot.call.Set(call);
  if (!ParseFrequency(remoteRecord.Find("FREQ"), spot.frequencyHz)) {
    SetInformation("Spot of %.*s: FREQ is not a frequency in Hz", static_cast<int>(call.size()),
                   call.data());
    return Reject(2);
  }
  if (!ParseReport(remoteRecord.Find("RST_SENT"), spot.snrDb)) {
    SetInformation("Spot of %.*s: RST_SENT is not a report in dB", static_cast<int>(call.size()),
                   call.data());
    return Reject(2);
  }
  spot.mode.Set(remoteRecord.Find("MODE"));
  spot.receiverCall.Set(receiverCall);
  spot.locator.Set(localRecord.Find("MY_GRIDSQUARE"));
  spot.software.Set(localRecord.Find("PROGRAMID"));
  spot.antenna.Set(localRecord.Find("MY_ANTENNA"));
  spot.flowStartSeconds = static_cast<std::uint32_t>(now);

  // Every spot must fit a datagram of its own, templates included.
  const ipfix::ReceiverRecord receiver{spot.receiverCall.view(), spot.locator.view(),
                                       spot.software.view(), spot.antenna.view()};
  const ipfix::SenderRecord sender{
      spot.call.view(), spot.frequencyHz, spot.snrDb, spot.mode.view(), 1, spot.flowStartSeconds};
  if (ipfix::MessageBytes(true, ipfix::ReceiverRecordBytes(receiver),
                          ipfix::SenderRecordBytes(sender)) >= ipfix::kMessageLimitBytes) {
    SetInformation("Spot of %.*s: records too long for one datagram",
                   static_cast<int>(spot.call.length), spot.call.bytes.data());
    return Reject(2);
  }

  if (RepeatedCall(spot.call.view(), now)) {
    ++counters_.repeatsDropped;
    SetInformation("%.*s was reported less than 5 minutes ago: spot dropped",
                   static_cast<int>(spot.call.length), spot.call.bytes.data());
    return 0;
  }
  Enqueue(spot);
  ++counters_.spotsAccepted;
  SetInformation("Spot of %.*s queued", static_cast<int>(spot.call.length), spot.call.bytes.data());
  return 0;
}

int SpotReporter::SpotsForDatagram(bool withTemplates) const {
  std::size_t senderBytes = 0;
  int n = 0;
  for (; n < count_; ++n) {
    const QueuedSpot& s = queue_[(head_ + n) % kQueueCapacity];
    const ipfix::ReceiverRecord receiver{s.receiverCall.view(), s.locator.view(), s.software.view(),
                                         s.antenna.view()};
    const ipfix::SenderRecord sender{s.call.view(),     s.frequencyHz, s.snrDb, s.mode.view(), 1,
                                     s.flowStartSeconds};
    const std::size_t more = senderBytes + ipfix::SenderRecordBytes(sender);
    // The receiver record is that of the newest spot in the datagram.
    if (ipfix::MessageBytes(withTemplates, ipfix::ReceiverRecordBytes(receiver), more) >=
        ipfix::kMessageLimitBytes) {
      break;
    }
    senderBytes = more;
  }
  return n;
}

bool SpotReporter::TemplatesWanted(std::int64_t now) const {
  // A clock set back counts as an elapsed hour, so templates are never held back long.
  return templatesLeft_ > 0 || now - templateCycleStart_ >= kTemplateIntervalSeconds ||
         now < templateCycleStart_;
}

bool SpotReporter::TemplatesDue(std::int64_t now) {
  if (templatesLeft_ == 0 && TemplatesWanted(now)) {
    templatesLeft_ = kTemplateRepeats;
  }
  return templatesLeft_ > 0;
}

SpotReporter::SendResult SpotReporter::SendDatagram(std::int64_t now) {
  const bool withTemplates = TemplatesDue(now);
  const int n = SpotsForDatagram(withTemplates);
  if (n == 0) return SendResult::kBusy;
  const QueuedSpot& newest = queue_[(head_ + n - 1) % kQueueCapacity];
  builder_.Begin(static_cast<std::uint32_t>(now), sequence_, domainId_, withTemplates,
                 {newest.receiverCall.view(), newest.locator.view(), newest.software.view(),
                  newest.antenna.view()});
  for (int i = 0; i < n; ++i) {
    const QueuedSpot& s = queue_[(head_ + i) % kQueueCapacity];
    builder_.AddSender(
        {s.call.view(), s.frequencyHz, s.snrDb, s.mode.view(), 1, s.flowStartSeconds});
  }
  const std::span<const std::uint8_t> message = builder_.Finish();
  const ssize_t sent = ::send(socket_, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent == static_cast<ssize_t>(message.size())) {
    if (withTemplates) {
      if (templatesLeft_ == kTemplateRepeats) templateCycleStart_ = now;
      --templatesLeft_;
    }
    sequence_ += static_cast<std::uint32_t>(1 + n);
    firstSent_ = true;
    PopFront(n);
    counters_.spotsSent += static_cast<std::uint32_t>(n);
    ++counters_.datagramsSent;
    SetInformation("Sent %d spot%s in a datagram of %zu bytes", n, n == 1 ? "" : "s",
                   message.size());
    return SendResult::kSent;
  }
  const int error = sent < 0 ? errno : EMSGSIZE;
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ENOBUFS) {
    return SendResult::kBusy;  // the spots stay queued for the next tickle
  }
  // The service cannot be reached this way (ICMP unreachable and the like): give up the
  // socket, so that the spot routine initialises again on its next spot.
  ++counters_.sendErrors;
  counters_.sendErrorDropped += static_cast<std::uint32_t>(n);
  PopFront(n);
  CloseSocket();
  SetInformation("Sending to %s port %s failed: %s; %d spot%s dropped", host_.data(), port_.data(),
                 std::strerror(error), n, n == 1 ? "" : "s");
  return SendResult::kFailed;
}

void SpotReporter::ReporterTickle() {
  std::lock_guard lock(mutex_);
  if (socket_ < 0 || count_ == 0) return;
  const std::int64_t now = Now();
  // A clock set back must not hold the spots for the time it jumped.
  const bool clockSetBack = nextSendSeconds_ - now > kSendIntervalSeconds + kJitterSeconds;
  if (!firstSent_ || now >= nextSendSeconds_ || clockSetBack) {
    // Due: everything queued, in as many datagrams as it takes.
    bool sentAny = false;
    while (socket_ >= 0 && count_ > 0) {
      const SendResult result = SendDatagram(now);
      if (result != SendResult::kSent) break;
      sentAny = true;
    }
    if (sentAny) {
      nextSendSeconds_ = now + kSendIntervalSeconds + Random() % (kJitterSeconds + 1);
    }
    return;
  }
  // Not due: only datagrams that are full go now.
  while (socket_ >= 0 && count_ > SpotsForDatagram(TemplatesWanted(now))) {
    if (SendDatagram(now) != SendResult::kSent) break;
  }
}

void SpotReporter::FlushLocked() {
  if (socket_ < 0 || count_ == 0) return;
  const auto deadline = std::chrono::steady_clock::now() + options_.flushTimeout;
  const std::int64_t now = Now();
  while (socket_ >= 0 && count_ > 0) {
    const SendResult result = SendDatagram(now);
    if (result == SendResult::kFailed) continue;  // those spots are counted as dropped
    if (result == SendResult::kSent) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{socket_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 50)));
  }
  if (count_ > 0) {
    counters_.queueDropped += static_cast<std::uint32_t>(count_);
    PopFront(count_);
  }
}

void SpotReporter::Flush() {
  std::lock_guard lock(mutex_);
  FlushLocked();
}

void SpotReporter::ReporterUninitialize() {
  std::lock_guard lock(mutex_);
  FlushLocked();
  CloseSocket();
  SetInformation("Uninitialised");
}

void SpotReporter::ReporterGetStatistics(unsigned char* record, std::size_t size) {
  if (record == nullptr || size == 0) return;
  std::lock_guard lock(mutex_);
  ReporterRecord image{};
  const std::size_t used = std::min(size, image.size());
  if (addressKnown_) {
    WriteRecordText(image, kRecordHostOffset, kRecordHostChars, host16_.data());
    WriteRecordText(image, kRecordPortOffset, kRecordPortChars, port16_.data());
  } else {
    // Nothing better known yet: keep the address the front end put there.
    std::memcpy(image.data(), record, std::min(used, kRecordFlagOffset));
  }
  image[kRecordFlagOffset] = socket_ >= 0 ? 1 : 0;
  ReporterCounters c = counters_;
  c.spotsQueued = static_cast<std::uint32_t>(count_);
  const std::uint32_t values[kRecordCounterCount] = {
      c.spotsAccepted, c.spotsSent,     c.repeatsDropped, c.queueDropped, c.sendErrorDropped,
      c.spotsRejected, c.datagramsSent, c.sendErrors,     c.spotsQueued};
  for (int i = 0; i < kRecordCounterCount; ++i) {
    PutLe32(image.data() + kRecordCountersOffset + 4 * i, values[i]);
  }
  std::memcpy(record, image.data(), used);
}

void SpotReporter::ReporterGetInformation(char16_t* buffer, std::size_t chars) {
  if (buffer == nullptr || chars == 0) return;
  std::lock_guard lock(mutex_);
  Utf8ToUtf16(information_.data(), {buffer, chars});
}

ReporterCounters SpotReporter::Counters() const {
  std::lock_guard lock(mutex_);
  ReporterCounters c = counters_;
  c.spotsQueued = static_cast<std::uint32_t>(count_);
  return c;
}

bool SpotReporter::Connected() const {
  std::lock_guard lock(mutex_);
  return socket_ >= 0;
}

std::string SpotReporter::Information() const {
  std::lock_guard lock(mutex_);
  return information_.data();
}

}  // namespace vs32
