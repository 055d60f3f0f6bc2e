#include "engine/known_calls.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "config/list_files.h"
#include "config/locator.h"

namespace vs32 {

namespace {

void CopyText(char (&target)[7], std::string_view text) {
  const size_t length = std::min<size_t>(text.size(), 6);
  size_t i = 0;
  for (; i < length && text[i] != '\0'; ++i) target[i] = text[i];
  for (; i < 7; ++i) target[i] = '\0';
}

void LoadCallFile(const std::filesystem::path& path, bool withLocators, const GeoPoint& home,
                  std::vector<KnownCall>& entries) {
  ForEachListLine(path, [&](std::string_view text) {
    if (entries.size() >= static_cast<size_t>(KnownCallTable::kMaxUsed)) return false;
    CallLine line;
    if (!ParseCallLine(text, line)) return true;
    double distanceKm = -1;
    if (withLocators && !line.locator.empty()) {
      const GeoPoint station = LocatorToLatLon(line.locator);
      distanceKm = DistanceKm(station.longitude, station.latitude, home.longitude, home.latitude);
    } else {
      line.locator.clear();
    }
    entries.emplace_back();
    FillKnownCall(entries.back(), line.callsign, line.locator, distanceKm);
    return true;
  });
}

}  // namespace

void FillKnownCall(KnownCall& entry, std::string_view callsign, std::string_view locator,
                   double distanceKm) {
  CopyText(entry.callsign, callsign);
  CopyText(entry.locator, locator);

  char symbols[kFrameSymbols + 1] = {};
  int scrambled[kMessageBits] = {};
  EncodeFrame(CallsignFieldForm(entry.callsign), symbols, scrambled);
  for (int k = 0; k < kFrameSymbols; ++k) entry.referenceSymbols[k] = symbols[k] == '1' ? 1 : -1;
  entry.referenceSymbols[kFrameSymbols] = 0;
  for (int k = 0; k < kMessageBits; ++k) entry.scrambledMessage[k] = scrambled[k];
  entry.scrambledMessage[kMessageBits] = 0;

  entry.distanceKm = distanceKm;
  entry.heardCount = 0;
  entry.lastHeard = 0;
  entry.heardFrequencyHz = 0;
}

bool HasNoPosition(const KnownCall& entry) {
  return entry.distanceKm == -1 || std::isnan(entry.distanceKm);
}

void ReplaceKnownCalls(KnownCallTable& table, std::span<const KnownCall> entries) {
  const size_t used = std::min<size_t>(entries.size(), KnownCallTable::kMaxUsed);
  std::lock_guard lock(table.mutex);
  for (size_t i = 0; i < used; ++i) table.entries[i] = entries[i];
  table.count.store(static_cast<int>(used), std::memory_order_release);
}

int AppendLearntCall(KnownCallTable& table, std::string_view callsign, int nowSeconds,
                     double frequencyHz) {
  const int used = table.count.load(std::memory_order_relaxed);
  if (used < KnownCallTable::kMaxUsed) {
    KnownCall& entry = table.entries[used];
    FillKnownCall(entry, callsign, "", -1);
    entry.heardCount = 1;
    entry.lastHeard = nowSeconds;
    entry.heardFrequencyHz = frequencyHz;
    table.count.store(used + 1, std::memory_order_release);
    return used;
  }

  // Full: the best entry to give up is one the table learnt from a single
  // decode long ago and that has no position (so no correlation uses it).
  int oldest = -1;
  for (int i = 0; i < KnownCallTable::kMaxUsed; ++i) {
    const KnownCall& entry = table.entries[i];
    if (HasNoPosition(entry) && entry.heardCount == 1 &&
        (oldest < 0 || entry.lastHeard < table.entries[oldest].lastHeard)) {
      oldest = i;
    }
  }
  // Build the entry aside so that the mutex is held only for the copy.
  KnownCall fresh;
  FillKnownCall(fresh, callsign, "", -1);
  fresh.heardCount = 1;
  fresh.lastHeard = nowSeconds;
  fresh.heardFrequencyHz = frequencyHz;
  if (oldest >= 0) {
    std::lock_guard lock(table.mutex);
    table.entries[oldest] = fresh;
    return oldest;
  }
  table.entries[KnownCallTable::kMaxUsed] = fresh;
  return KnownCallTable::kMaxUsed;
}

int RemoveCallsWithoutPosition(KnownCallTable& table) {
  std::lock_guard lock(table.mutex);
  const int used = table.count.load(std::memory_order_relaxed);
  int kept = 0;
  for (int i = 0; i < used; ++i) {
    if (HasNoPosition(table.entries[i])) continue;
    if (kept != i) table.entries[kept] = table.entries[i];
    ++kept;
  }
  table.count.store(kept, std::memory_order_release);
  return used - kept;
}

int LoadKnownCalls(KnownCallTable& table, std::string_view myLocator,
                   const std::filesystem::path& folder) {
  const GeoPoint home = LocatorToLatLon(myLocator);
  std::vector<KnownCall> entries;
  entries.reserve(KnownCallTable::kMaxUsed);
  LoadCallFile(folder / kCallsLocFile, true, home, entries);
  LoadCallFile(folder / kKnownListFile, false, home, entries);
  ReplaceKnownCalls(table, entries);
  return static_cast<int>(entries.size());
}

int CleanUpKnownList(KnownCallTable& table, const std::filesystem::path& folder) {
  // unlink, not remove: a folder of that name is left alone.
  ::unlink((folder / kKnownListFile).c_str());
  return RemoveCallsWithoutPosition(table);
}

}  // namespace vs32
