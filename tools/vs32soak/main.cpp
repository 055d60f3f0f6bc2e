// vs32soak: a long run of the receiver, faster than real time. Synthesised
// audio (noise with one beacon frame every so many minutes, a new callsign each
// time, or noise alone) goes through the sound device's capture entry, the
// receive worker thread and results processing, exactly as a front end wires
// them, with the known-calls filter on and spots counted by a stand-in for the
// spot service. Everything runs on the audio's own clock, so blocking times and
// repeat decodes behave as in days of real time. The worker is stopped and
// started again every few hours of audio. At the end it says how many frames
// were sent and decoded, what became of decodes of calls never sent, how memory
// grew, and whether any decode slot or known-call entry was left over.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio/sound_device.h"
#include "config/band_plan.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "engine/frame_codec.h"
#include "receiver/receiver.h"

using namespace vs32;

namespace {

constexpr const char* kUsage =
    "usage: vs32soak [--hours H] [--station-minutes M] [--restart-hours R] [--snr DB]\n"
    "                [--depth 0|1|2] [--noise-only] [--plain-checks] [--seed N]\n"
    "                [--keep DIR]\n";

constexpr const char* kHelp =
    "Runs the receiver over synthesised audio as fast as the CPU allows: the sound\n"
    "device's capture entry, the receive worker thread and results processing, as\n"
    "the programs wire them. One beacon frame starts every M minutes, each with a\n"
    "callsign of its own (every other one listed in callsloc.txt with a position,\n"
    "the others learnt from their decodes); the worker is stopped and started again\n"
    "every R hours of audio. The known-calls filter is on and spots go to a stand-in\n"
    "for the spot service; results processing runs on the audio's clock. Prints what\n"
    "was decoded and how memory, decode slots and the known-call table developed,\n"
    "then one line on the decodes of calls that were never sent:\n"
    "  phantoms: D decoded, L learnt, S shown, U uploaded\n"
    "\n"
    "Options:\n"
    "  --hours H            hours of audio (default 24)\n"
    "  --station-minutes M  minutes from one frame's start to the next (default 35)\n"
    "  --restart-hours R    hours of audio between worker restarts (default 4)\n"
    "  --snr DB             carrier power over the noise in 2500 Hz (default -20)\n"
    "  --depth D            decoder depth: 0 single attempt, 1 Deep (default),\n"
    "                       2 Ultra Deep\n"
    "  --noise-only         no frames at all: noise alone\n"
    "  --plain-checks       STRICT_FRAME_CHECK, DECODE_AFTER_WARMUP and\n"
    "                       LEARN_SAME_FREQUENCY off: the check bits alone decide\n"
    "  --seed N             noise and phase seed (default 1)\n"
    "  --keep DIR           write the lists and the decode log to DIR and keep them\n"
    "                       (default: a scratch folder, removed at the end)\n"
    "\n"
    "Exit status: 0 when frames kept being decoded (with --noise-only: when no\n"
    "phantom was learnt, shown or uploaded) and nothing leaked, 1 otherwise, 2 usage\n"
    "error.\n";

constexpr int kRate = kWorkingRate;
constexpr double kSymbolSeconds = 8.192;
constexpr double kFrameSeconds = kFrameSymbols * kSymbolSeconds;  // 1957.888 s
constexpr double kFirstFrameSeconds = 60.0;
// A frame is decoded once it fills the history: about 33 minutes after its start.
constexpr double kDecodeLagSeconds = 2100.0;
constexpr double kNoiseSigma = 3000.0;  // 16-bit units

struct Options {
  double hours = 24;
  double stationMinutes = 35;
  double restartHours = 4;
  double snrDb = -20;
  int depth = 1;
  bool noiseOnly = false;
  bool plainChecks = false;
  uint64_t seed = 1;
  std::string keep;
};

bool ParseNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(value);
}

int ParseArguments(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      std::exit(0);
    }
    if (a == "--noise-only" || a == "--plain-checks") {
      (a == "--noise-only" ? o.noiseOnly : o.plainChecks) = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "vs32soak: %s needs a value\n%s", a.c_str(), kUsage);
      return 2;
    }
    const char* v = argv[++i];
    double n = 0;
    if (a == "--keep") {
      o.keep = v;
      continue;
    }
    if (!ParseNumber(v, n)) {
      std::fprintf(stderr, "vs32soak: %s takes a number, not \"%s\"\n%s", a.c_str(), v, kUsage);
      return 2;
    }
    if (a == "--hours" && n > 0 && n <= 24 * 30) {
      o.hours = n;
    } else if (a == "--station-minutes" && n >= 33 && n <= 24 * 60) {
      o.stationMinutes = n;
    } else if (a == "--restart-hours" && n > 0) {
      o.restartHours = n;
    } else if (a == "--snr" && n >= -40 && n <= 20) {
      o.snrDb = n;
    } else if (a == "--depth" && (n == 0 || n == 1 || n == 2)) {
      o.depth = static_cast<int>(n);
    } else if (a == "--seed" && n >= 0) {
      o.seed = static_cast<uint64_t>(n);
    } else {
      std::fprintf(stderr, "vs32soak: %s %s is not accepted\n%s", a.c_str(), v, kUsage);
      return 2;
    }
  }
  return 0;
}

// Resident and peak memory of this process, kB.
struct Memory {
  long rssKb = 0;
  long peakKb = 0;
};
Memory ReadMemory() {
  Memory m;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) m.rssKb = std::atol(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) m.peakKb = std::atol(line.c_str() + 6);
  }
  return m;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The k-th station's callsign: distinct for every frame of a long run.
std::string StationCall(int k) {
  char call[8];
  std::snprintf(call, sizeof call, "Q%dS%c%c", k % 10, 'A' + (k / 10) % 26, 'A' + (k / 260) % 26);
  return call;
}

// One beacon frame: on/off keyed carrier with 50 ms raised-cosine edges.
struct Frame {
  int index = 0;
  std::string call;
  double startSeconds = 0;
  double audioHz = 0;
  char symbols[kFrameSymbols + 1] = {};
};

// Synthesises the audio one second at a time: Gaussian noise plus the frames
// that are on the air.
class Synthesiser {
 public:
  Synthesiser(const Options& o, const std::vector<Frame>& frames)
      : frames_(frames),
        rng_(o.seed),
        amplitude_(kNoiseSigma *
                   std::sqrt(2.0 * std::pow(10.0, o.snrDb / 10.0) * 2500.0 / (kRate / 2.0))) {}

  // Fills one second starting at audio second `second`.
  void Render(long second, std::vector<int16_t>& out) {
    std::normal_distribution<double> noise(0.0, kNoiseSigma);
    for (int i = 0; i < kRate; ++i) mix_[static_cast<size_t>(i)] = noise(rng_);
    const double t0 = static_cast<double>(second);
    for (const Frame& f : frames_) {
      if (t0 + 1 < f.startSeconds - 1 || t0 > f.startSeconds + kFrameSeconds + 1) continue;
      const double step = 2.0 * std::numbers::pi * f.audioHz / kRate;
      for (int i = 0; i < kRate; ++i) {
        const double t = t0 + static_cast<double>(i) / kRate;
        const double env = Envelope(f, t);
        if (env > 0.0) {
          // The phase is a function of time alone, so seconds join seamlessly.
          const double phase =
              std::fmod(step * (static_cast<double>(second) * kRate + i), 2.0 * std::numbers::pi);
          mix_[static_cast<size_t>(i)] += amplitude_ * env * std::sin(phase);
        }
      }
    }
    for (int i = 0; i < kRate; ++i) {
      const double v = std::nearbyint(mix_[static_cast<size_t>(i)]);
      out[static_cast<size_t>(i)] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
  }

 private:
  static double Key(const Frame& f, int s) {
    return (s >= 0 && s < kFrameSymbols && f.symbols[s] == '1') ? 1.0 : 0.0;
  }
  static double Ramp(double tau) {  // 0 at -25 ms, 1 at +25 ms
    if (tau <= -0.025) return 0.0;
    if (tau >= 0.025) return 1.0;
    return 0.5 * (1.0 - std::cos(std::numbers::pi * (tau + 0.025) / 0.05));
  }
  static double Envelope(const Frame& f, double t) {
    const double u = (t - f.startSeconds) / kSymbolSeconds;
    const int s = static_cast<int>(std::floor(u));
    const double tau = t - (f.startSeconds + s * kSymbolSeconds);
    const double here = Key(f, s);
    if (tau < 0.025) return Key(f, s - 1) + (here - Key(f, s - 1)) * Ramp(tau);
    if (tau > kSymbolSeconds - 0.025) {
      return here + (Key(f, s + 1) - here) * Ramp(tau - kSymbolSeconds);
    }
    return here;
  }

  const std::vector<Frame>& frames_;
  std::mt19937_64 rng_;
  double amplitude_;
  std::vector<double> mix_ = std::vector<double>(kRate);
};

// Counts the reported decodes by callsign, and what became of calls that were
// never sent.
class CountingOutput : public ResultsOutput {
 public:
  explicit CountingOutput(const std::set<std::string>& sent) : sent_(sent) {}
  void Decode(const DecodeReport& report) override {
    ++decodes;
    ++byCall[report.call];
    // An unmatched call (new, blocked as a repeat, or heard elsewhere) may add
    // an entry to the table.
    if (!report.known) ++unmatched;
    if (sent_.count(report.call) == 0) {
      ++phantomDecoded;
      if (report.known) ++phantomLearnt;
      if (!report.hidden) ++phantomShown;
    }
  }
  void WriteFailed(std::string_view reason) override {
    ++writeFailures;
    std::fprintf(stderr, "vs32soak: write failed: %.*s\n", static_cast<int>(reason.size()),
                 reason.data());
  }
  long decodes = 0;
  long unmatched = 0;
  long phantomDecoded = 0;
  long phantomLearnt = 0;  // accepted as known: listed, shown and spotted from now on
  long phantomShown = 0;
  long writeFailures = 0;
  std::map<std::string, int> byCall;

 private:
  const std::set<std::string>& sent_;
};

// Stands in for the spot service: counts what would have been uploaded.
class CountingSpots : public SpotSender {
 public:
  CountingSpots(const std::set<std::string>& sent, std::string myCall)
      : sent_(sent), myCall_(std::move(myCall)) {}
  bool Send(std::string_view call, std::string_view, float, float) override {
    if (call == myCall_) return true;  // the station's own report
    ++spots;
    if (sent_.count(std::string(call)) == 0) ++phantoms;
    return true;
  }
  void Tickle() override {}
  long spots = 0;
  long phantoms = 0;

 private:
  const std::set<std::string>& sent_;
  std::string myCall_;
};

struct QuietEvents : ReceiverEvents {
  std::atomic<int> warnings{0};
  void Warning(const char* text, const char*) override {
    ++warnings;
    std::fprintf(stderr, "vs32soak: warning: %s\n", text);
  }
};

// The audio's clock: second 0 of the audio is this many seconds since 1970.
constexpr long kAudioEpoch = 1700000000;

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int bad = ParseArguments(argc, argv, o)) return bad;

  // The station schedule: a new callsign every frame, a frequency that walks
  // through the band, every other call listed with a position.
  const long totalSeconds = std::lround(o.hours * 3600);
  std::vector<Frame> frames;
  for (int k = 0; !o.noiseOnly; ++k) {
    Frame f;
    f.index = k;
    f.call = StationCall(k);
    f.startSeconds = kFirstFrameSeconds + k * o.stationMinutes * 60;
    if (f.startSeconds + kFrameSeconds > static_cast<double>(totalSeconds)) break;
    f.audioHz = 1460.0 + std::fmod(k * 7.31, 80.0);
    int scrambled[kMessageBits];
    EncodeFrame(CallsignFieldForm(f.call), f.symbols, scrambled);
    frames.push_back(f);
  }
  std::set<std::string> sent;
  for (const Frame& f : frames) sent.insert(f.call);

  std::filesystem::path folder;
  if (!o.keep.empty()) {
    folder = o.keep;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
  } else {
    std::string scratch = (std::filesystem::temp_directory_path() / "vs32soak-XXXXXX").string();
    if (!mkdtemp(scratch.data())) {
      std::perror("vs32soak: scratch folder");
      return 1;
    }
    folder = scratch;
  }
  {
    std::ofstream callsloc(folder / kCallsLocFile);
    for (const Frame& f : frames) {
      if (f.index % 2 == 0) callsloc << f.call << " JO65HO\n";
    }
  }

  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  settings.myCall = "ZZ0ZZZ";
  settings.myLocator = "IO91WM";
  settings.logFilePath = "my_detected.txt";
  settings.logHeader = DefaultLogHeader(Program::kConsole, settings.myCall, settings.myLocator);
  // As a station runs: only known calls shown, spots uploaded.
  settings.useKnownCallsList = true;
  settings.uploadSpots = true;
  settings.deepDecoder = o.depth >= 1;
  settings.ultraDeepDecoder = o.depth >= 2;
  settings.strictFrameCheck = !o.plainChecks;
  settings.decodeAfterWarmup = !o.plainChecks;
  settings.learnSameFrequency = !o.plainChecks;

  QuietEvents events;
  SoundDevice sound(ForwardWarnings(&events));
  CountingOutput output(sent);
  CountingSpots spots(sent, settings.myCall);
  ResultsOptions resultsOptions;
  resultsOptions.folder = folder;
  Receiver receiver(Program::kConsole, settings, output, &events, resultsOptions);
  const int listed = receiver.LoadLists(folder);
  receiver.SetSpotSender(&spots);
  receiver.AttachSound(sound);
  // Blocks and results are stamped with audio time: second `runStart + blocks` of the audio.
  std::atomic<long> runStartSecond{0};
  receiver.SetClock(
      [&] { return static_cast<double>(kAudioEpoch + runStartSecond.load() + receiver.blocks()); });
  auto audioNow = [&] { return receiver.Now(); };
  KnownCallTable& knownCalls = receiver.knownCalls();
  DecodeSlotTable& slots = receiver.decodeSlots();
  receiver.results().EnsureLog();

  std::printf(
      "vs32soak: %.1f h of audio, a frame every %.0f min (%zu frames), restart every "
      "%.1f h, %.1f dB SNR, depth %d, files in %s\n",
      o.hours, o.stationMinutes, frames.size(), o.restartHours, o.snrDb, o.depth, folder.c_str());
  std::fflush(stdout);

  const Memory atStart = ReadMemory();
  Synthesiser synth(o, frames);
  std::vector<int16_t> block(kRate);
  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = CpuSeconds();
  const long restartEvery = std::max(1L, std::lround(o.restartHours * 3600));
  Memory first{};
  int maxPending = 0;
  int maxKnown = knownCalls.size();
  int runs = 0;
  std::vector<std::pair<double, double>> runSpans;  // audio seconds of each run

  auto tickResults = [&] {
    receiver.ResultsTick(receiver.chain().inputLevel());
    maxPending = std::max(maxPending, slots.PendingCount());
    maxKnown = std::max(maxKnown, knownCalls.size());
  };
  auto waitUntilConsumed = [&](long blocksInRun) {
    while (receiver.blocks() < blocksInRun) {
      tickResults();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };

  long runStart = 0;
  int lastTicked = 0;
  for (long second = 0; second < totalSeconds; ++second) {
    if (second == runStart) {
      runStartSecond = runStart;
      sound.openInputBuffers(kRate, 16, 1, kRate);
      receiver.Start();
      ++runs;
    }
    synth.Render(second, block);
    sound.deliverCaptured(block.data(), block.size());
    // Stay well ahead of the worker, so that it never waits for audio, but
    // never 16 seconds (that would drop audio).
    while (sound.filledCount() >= 12) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Results processing as a front end runs it, once per second of audio the
    // worker has processed.
    if (audioNow() != lastTicked) {
      lastTicked = audioNow();
      tickResults();
    }
    if (second == 3600) first = ReadMemory();
    if ((second + 1) % 3600 == 0) {
      std::printf("  %ld h of audio, %ld decodes\n", (second + 1) / 3600, output.decodes);
      std::fflush(stdout);
    }
    const bool runEnds = (second + 1 - runStart) % restartEvery == 0 || second + 1 == totalSeconds;
    if (runEnds) {
      // Let the worker finish what it was given, report what is pending, and
      // start the next run afresh (a run starts with empty histories and slots).
      waitUntilConsumed(second + 1 - runStart);
      receiver.Stop();  // and reports what is pending
      runSpans.emplace_back(static_cast<double>(runStart), static_cast<double>(second + 1));
      runStart = second + 1;
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
      const Memory m = ReadMemory();
      std::printf("  run %d ended at %.2f h of audio: %ld decodes so far, RSS %ld kB, %.0f s\n",
                  runs, static_cast<double>(second + 1) / 3600, output.decodes, m.rssKb, elapsed);
      std::fflush(stdout);
    }
  }
  if (first.rssKb == 0) first = ReadMemory();
  const Memory last = ReadMemory();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  const double cpu = CpuSeconds() - cpuStart;

  // Which frames could be decoded: those that ended, with time to spare, inside
  // one run.
  int decodable = 0, decoded = 0, decodedLate = 0;
  std::vector<std::string> missed;
  for (const Frame& f : frames) {
    bool inside = false;
    for (const auto& [from, to] : runSpans) {
      inside = inside || (f.startSeconds >= from && f.startSeconds + kDecodeLagSeconds <= to);
    }
    const bool heard = output.byCall.count(f.call) > 0;
    decoded += heard;
    if (inside) {
      ++decodable;
      if (!heard) missed.push_back(f.call);
    } else {
      decodedLate += heard;
    }
  }
  long unexpected = 0;
  for (const auto& [call, count] : output.byCall) {
    const bool sent =
        std::any_of(frames.begin(), frames.end(), [&](const Frame& f) { return f.call == call; });
    if (!sent) unexpected += count;
  }
  // Each unmatched decode adds at most one entry; nothing else may grow the table.
  const int mostKnown =
      static_cast<int>(std::min<long>(listed + output.unmatched, KnownCallTable::kMaxUsed));

  std::printf("audio: %.2f h in %.0f s wall, %.0f s CPU (%.0fx real time)\n",
              static_cast<double>(totalSeconds) / 3600, wall, cpu,
              static_cast<double>(totalSeconds) / std::max(wall, 1e-9));
  std::printf("runs: %d (worker restarted %d times)\n", runs, runs - 1);
  std::printf(
      "frames: %zu sent, %d decodable within a run, %d decoded (%d of them across a "
      "restart), %zu missed\n",
      frames.size(), decodable, decoded, decodedLate, missed.size());
  for (const std::string& call : missed) std::printf("  missed: %s\n", call.c_str());
  std::printf("decodes reported: %ld (%ld of calls never sent)\n", output.decodes, unexpected);
  std::printf(
      "memory: RSS %ld kB before the first run, %ld kB after 1 h of audio, %ld kB at the "
      "end (%+ld kB since 1 h), peak %ld kB\n",
      atStart.rssKb, first.rssKb, last.rssKb, last.rssKb - first.rssKb, last.peakKb);
  std::printf("decode slots: at most %d in use, %d left at the end\n", maxPending,
              slots.PendingCount());
  std::printf(
      "known calls: %d listed, %d at most, %d at the end (%d or fewer expected: %ld "
      "unmatched decodes)\n",
      listed, maxKnown, knownCalls.size(), mostKnown, output.unmatched);
  std::printf("spots: %ld uploaded to the stand-in\n", spots.spots);
  std::printf("warnings: %d, write failures: %ld\n", events.warnings.load(), output.writeFailures);

  if (o.keep.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  // Healthy: nearly every decodable frame came out, nothing was left in the
  // slot table, the known-call table holds exactly the listed and learnt calls,
  // and memory did not creep up (a few MB of allocator noise allowed).
  std::printf("phantoms: %ld decoded, %ld learnt, %ld shown, %ld uploaded\n", output.phantomDecoded,
              output.phantomLearnt, output.phantomShown, spots.phantoms);
  const bool keptDecoding = o.noiseOnly
                                ? output.phantomLearnt + output.phantomShown + spots.phantoms == 0
                                : decodable > 0 && decoded * 10 >= decodable * 9;
  const bool noLeaks = slots.PendingCount() == 0 && knownCalls.size() <= mostKnown &&
                       last.rssKb - first.rssKb < 16 * 1024;
  std::printf("result: %s\n", keptDecoding && noLeaks ? "healthy" : "NOT healthy");
  return keptDecoding && noLeaks ? 0 : 1;
}
