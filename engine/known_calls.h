// The known-call table: stations from callsloc.txt and known_list.txt (read
// with the list-file rules of config/list_files.h) plus the callsigns learnt from decodes. The
// decoder's correlation stages compare received frames with the reference frames kept here.
#pragma once

#include <array>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <span>
#include <string_view>

#include "engine/frame_codec.h"

namespace vs32 {

struct KnownCall {
  char callsign[7] = {};           // at most 6 characters, NUL-terminated
  char locator[7] = {};            // empty when unknown
  int referenceSymbols[240] = {};  // +1 for symbol '1', -1 otherwise (239 used)
  int scrambledMessage[52] = {};   // 0/1 (51 used)
  double distanceKm = -1;          // great-circle distance from home; -1 when unknown
  int heardCount = 0;              // decodes of this call accepted so far
  int lastHeard = 0;               // seconds since 1970 of the last accepted decode
  // Radio frequency (Hz) where a call learnt from a decode was last heard; 0 for
  // a call from the list files, which is accepted at any frequency.
  double heardFrequencyHz = 0;
};

// 1000 slots; at most 999 are in use, the slot after the last used one is scratch.
//
// Threads: the main thread loads, appends and cleans up; the worker's decoder
// reads. Appends write the entry completely, then publish it by raising `count`
// (release); readers load `count` with acquire. Anything that moves or removes
// entries (clean-up, reload) holds `mutex`, and so does a reader that walks the
// table, so a reader never sees a half-moved entry.
struct KnownCallTable {
  static constexpr int kSlots = 1000;
  static constexpr int kMaxUsed = 999;

  std::array<KnownCall, kSlots> entries{};
  std::atomic<int> count{0};
  mutable std::mutex mutex;

  int size() const { return count.load(std::memory_order_acquire); }
};

// Fills `entry` for a callsign (cut to 6 characters, stored as given) with its
// reference frame, built from the callsign's field form so that it matches what
// the station sends. heardCount and lastHeard become 0.
void FillKnownCall(KnownCall& entry, std::string_view callsign, std::string_view locator,
                   double distanceKm);

// True when the entry has no known position (distance -1 or not a number).
bool HasNoPosition(const KnownCall& entry);

// Replaces the whole table by `entries` (at most kMaxUsed are taken) under the
// mutex. Main thread.
void ReplaceKnownCalls(KnownCallTable& table, std::span<const KnownCall> entries);

// Adds a callsign learnt from a decode: empty locator, distance -1, heard once at
// `nowSeconds` on `frequencyHz` (radio frequency, Hz). Below kMaxUsed entries it is published at
// index count (written completely, then count raised with release). A full table reuses the entry
// without a position that was heard once and longest ago (overwritten under the
// mutex); when there is none, the call goes to the scratch slot, which is never
// searched. Returns the index written. Main thread.
int AppendLearntCall(KnownCallTable& table, std::string_view callsign, int nowSeconds,
                     double frequencyHz = 0);

// Removes every entry without a position, keeping the order of the others, under
// the mutex. Returns the number removed. Main thread.
int RemoveCallsWithoutPosition(KnownCallTable& table);

// Rebuilds the table from callsloc.txt, then known_list.txt (at most 999 entries,
// always starting empty). A callsloc.txt line without a locator is taken like a
// known_list.txt line (no position). Distances are from `myLocator`. Returns the
// number of entries. Main thread; the table's mutex is held while entries move.
int LoadKnownCalls(KnownCallTable& table, std::string_view myLocator,
                   const std::filesystem::path& folder = {});

// Deletes known_list.txt and removes every entry without a position from the
// table. Returns the number removed (shown as "<n> items deleted").
int CleanUpKnownList(KnownCallTable& table, const std::filesystem::path& folder = {});

}  // namespace vs32
