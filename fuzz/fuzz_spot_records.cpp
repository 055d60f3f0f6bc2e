// The spot records travel as NUL-separated name/value pairs in fixed buffers.
// The reader must stay inside whatever bytes it is given; what the spot routine
// composes must read back field for field; and the reporting component must
// take or refuse any pair of records without reading past them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "report/psk_reporter.h"
#include "report/send_spot.h"
#include "report/spot_records.h"

namespace {

void ReadArbitrary(const std::vector<char>& bytes) {
  const vs32::SpotRecordReader reader{std::span<const char>(bytes.data(), bytes.size())};
  int visited = 0;
  size_t textBytes = 0;
  reader.ForEach([&](std::string_view name, std::string_view value) {
    ++visited;
    VS32_FUZZ_CHECK(!name.empty());
    // Both views lie inside the given bytes.
    VS32_FUZZ_CHECK(name.data() >= bytes.data() &&
                    name.data() + name.size() <= bytes.data() + bytes.size());
    VS32_FUZZ_CHECK(value.data() >= bytes.data() &&
                    value.data() + value.size() <= bytes.data() + bytes.size());
    VS32_FUZZ_CHECK(reader.Has(name));
    textBytes += name.size() + value.size() + 2;
  });
  VS32_FUZZ_CHECK(visited == reader.FieldCount());
  VS32_FUZZ_CHECK(textBytes <= bytes.size());
  if (reader.Terminated()) VS32_FUZZ_CHECK(textBytes < bytes.size());
}

void ComposeAndReadBack(FuzzedDataProvider& in) {
  std::vector<std::pair<std::string, std::string>> fields;
  const int count = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    std::string name = in.ConsumeRandomLengthString(40);
    std::string value = in.ConsumeRandomLengthString(300);
    fields.emplace_back(std::move(name), std::move(value));
  }
  // The composer takes a fixed list; six slots, the unused ones left out.
  std::vector<vs32::SpotField> view;
  for (const auto& [name, value] : fields) view.emplace_back(name, value);
  vs32::SpotRecordBuffer buffer;
  bool composed = false;
  switch (view.size()) {
    case 0:
      composed = vs32::ComposeSpotRecord({}, buffer);
      break;
    case 1:
      composed = vs32::ComposeSpotRecord({view[0]}, buffer);
      break;
    case 2:
      composed = vs32::ComposeSpotRecord({view[0], view[1]}, buffer);
      break;
    case 3:
      composed = vs32::ComposeSpotRecord({view[0], view[1], view[2]}, buffer);
      break;
    case 4:
      composed = vs32::ComposeSpotRecord({view[0], view[1], view[2], view[3]}, buffer);
      break;
    case 5:
      composed = vs32::ComposeSpotRecord({view[0], view[1], view[2], view[3], view[4]}, buffer);
      break;
    default:
      composed =
          vs32::ComposeSpotRecord({view[0], view[1], view[2], view[3], view[4], view[5]}, buffer);
      break;
  }
  if (!composed) {
    // A refused record leaves nothing behind that could be sent by mistake.
    for (char c : buffer) VS32_FUZZ_CHECK(c == 0);
    return;
  }
  const vs32::SpotRecordReader reader{std::span<const char>(buffer.data(), buffer.size())};
  VS32_FUZZ_CHECK(reader.Terminated());
  // Fields read back in order, as long as no empty name ended the record early.
  size_t i = 0;
  reader.ForEach([&](std::string_view name, std::string_view value) {
    VS32_FUZZ_CHECK(i < fields.size());
    VS32_FUZZ_CHECK(name == fields[i].first);
    VS32_FUZZ_CHECK(value == fields[i].second);
    ++i;
  });
  size_t expected = 0;
  while (expected < fields.size() && !fields[expected].first.empty()) ++expected;
  VS32_FUZZ_CHECK(i == expected);
}

// One reporting component for the whole run, "connected" to the discard port on
// the loopback address; spots are only queued here, never sent.
// It is never destroyed, so nothing is flushed to the network at exit.
vs32::SpotReporter& Reporter() {
  static vs32::SpotReporter* reporter = [] {
    vs32::ReporterOptions options;
    options.clock = [] { return std::int64_t{1700000000}; };
    options.random = [] { return std::uint32_t{4}; };
    options.resolver = [](const std::string& host, const std::string& port) {
      return vs32::ResolveWithGetaddrinfo(host, port);
    };
    options.flushTimeout = std::chrono::milliseconds(0);
    auto* r = new vs32::SpotReporter(options);
    if (r->ReporterInitialize(u"127.0.0.1", u"9") != 0) std::abort();
    return r;
  }();
  return *reporter;
}

void OfferToReporter(const std::vector<char>& remote, const std::vector<char>& local) {
  vs32::SpotReporter& reporter = Reporter();
  const vs32::ReporterCounters before = reporter.Counters();
  const int result =
      reporter.ReporterSeenCallsignSTD(std::span<const char>(remote.data(), remote.size()),
                                       std::span<const char>(local.data(), local.size()), 1);
  const vs32::ReporterCounters after = reporter.Counters();
  if (result == 0) {
    VS32_FUZZ_CHECK(after.spotsAccepted + after.repeatsDropped >
                    before.spotsAccepted + before.repeatsDropped);
  } else {
    VS32_FUZZ_CHECK(after.spotsRejected == before.spotsRejected + 1);
  }
  VS32_FUZZ_CHECK(after.spotsQueued <= vs32::SpotReporter::kQueueCapacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size copies, so that any read past the end is caught.
  const std::vector<char> whole(data, data + size);
  ReadArbitrary(whole);

  FuzzedDataProvider in(data, size);
  const size_t split = in.ConsumeIntegralInRange<size_t>(0, in.remaining_bytes());
  const std::vector<uint8_t> first = in.ConsumeBytes<uint8_t>(split);
  const std::vector<uint8_t> second = in.ConsumeRemainingBytes<uint8_t>();
  const std::vector<char> remote(first.begin(), first.end());
  const std::vector<char> local(second.begin(), second.end());
  OfferToReporter(remote, local);

  FuzzedDataProvider again(data, size);
  ComposeAndReadBack(again);
  return 0;
}
