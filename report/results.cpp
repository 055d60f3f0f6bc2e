#include "report/results.h"

#include <time.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>

#include "config/ascii_case.h"
#include "config/band_plan.h"
#include "report/send_spot.h"

namespace vs32 {

namespace {

// How far (Hz) a learnt call's second hearing may lie from its first.
constexpr double kLearnToleranceHz = 2.0;

// Numbers formatted while this lives use the "C" locale's decimal point, whatever
// locale the front end (a Qt program, say) has set for the process.
class NumericLocaleScope {
 public:
  explicit NumericLocaleScope(locale_t locale)
      : previous_(locale ? uselocale(locale) : locale_t{}) {}
  ~NumericLocaleScope() {
    if (previous_) uselocale(previous_);
  }
  NumericLocaleScope(const NumericLocaleScope&) = delete;
  NumericLocaleScope& operator=(const NumericLocaleScope&) = delete;

 private:
  locale_t previous_;
};

// A fixed-size text built by printf-style appends; what does not fit is cut.
template <size_t N>
class FixedText {
 public:
  void Append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (length_ >= N - 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text_.data() + length_, N - length_, format, args);
    va_end(args);
    if (n > 0) length_ = std::min(N - 1, length_ + static_cast<size_t>(n));
  }
  std::string_view view() const { return {text_.data(), length_}; }
  const char* c_str() const { return text_.data(); }

 private:
  std::array<char, N> text_{};
  size_t length_ = 0;
};

bool ValidChannel(int channel) {
  return channel >= 0 && channel < kChannels;
}

// Whole kilometres, truncated down; -1 when the distance is unknown.
int WholeKm(double distanceKm) {
  if (!(distanceKm >= 0) || !std::isfinite(distanceKm)) return -1;
  return static_cast<int>(std::floor(distanceKm));
}

}  // namespace

bool ReporterSpotSender::Send(std::string_view call, std::string_view locator, float frequencyHz,
                              float reportDb) {
  SpotSettings spot;
  spot.uploading = settings_.uploadSpots;
  spot.wavInput = false;  // results processing never hands over a recording's decode
  spot.myCall = settings_.myCall;
  spot.myLocator = settings_.myLocator;
  spot.useCorrelator = settings_.useCorrelator;
  spot.program = program_ == Program::kConsole ? SpotProgram::kConsole : SpotProgram::kWindowed;
  return SendSpot(reporter_, record_, spot, call, locator, frequencyHz, reportDb);
}

void ReporterSpotSender::Tickle() {
  reporter_.ReporterTickle();
}

ResultsProcessor::ResultsProcessor(Program program, const ReceiverSettings& settings,
                                   KnownCallTable& knownCalls, ChannelMask& alwaysDecodeMask,
                                   DecodeSlotTable& slots, ResultsOutput& output, SpotSender* spots,
                                   ResultsOptions options)
    : program_(program),
      settings_(settings),
      knownCalls_(knownCalls),
      alwaysDecodeMask_(alwaysDecodeMask),
      slots_(slots),
      output_(output),
      spots_(spots),
      options_(std::move(options)),
      cLocale_(newlocale(LC_ALL_MASK, "C", locale_t{})) {}

ResultsProcessor::~ResultsProcessor() {
  if (cLocale_) freelocale(cLocale_);
}

LogCreation ResultsProcessor::EnsureLog(std::string* error) const {
  if (!options_.writeFiles) return LogCreation::kExists;
  return EnsureDecodeLog(InFolder(settings_.logFilePath), settings_.logHeader, program_, error);
}

std::string_view ResultsProcessor::Columns() const {
  return DecodeLogColumns(program_);
}

void ResultsProcessor::Tick(int nowSeconds, float inputLevel, bool wavInput) {
  if (spots_ && settings_.uploadSpots && nowSeconds % kTickleSeconds == 0) {
    // A reporter failure must not stop the results, nor the keep-alive.
    // The own-station report carries the live input level; a recording's level
    // says nothing about the station.
    if (nowSeconds % kSelfSpotSeconds == 0 && inputLevel > 0 && !wavInput) {
      try {
        const double frequencyHz = settings_.dialHz + settings_.bandStartHz + 50;
        const double levelDb = 20.0 * std::log10(static_cast<double>(inputLevel));
        spots_->Send(settings_.myCall, settings_.myLocator, static_cast<float>(frequencyHz),
                     static_cast<float>(levelDb));
      } catch (const std::exception&) {
      }
    }
    try {
      spots_->Tickle();
    } catch (const std::exception&) {
    }
  }
  ProcessPending(nowSeconds, false);
}

void ResultsProcessor::Flush(int nowSeconds) {
  ProcessPending(nowSeconds, true);
}

void ResultsProcessor::ProcessPending(int nowSeconds, bool all) {
  for (int i = 0; i < DecodeSlotTable::kSlots; ++i) {
    DecodeSlot slot;
    const bool taken = all ? slots_.TakeAny(i, slot) : slots_.TakeIfQuiet(i, nowSeconds, slot);
    if (!taken) continue;
    try {
      Process(slot, nowSeconds);
    } catch (const std::exception& e) {
      // The slot is already free; the next ones must still be reported.
      output_.WriteFailed(e.what());
    }
  }
}

std::filesystem::path ResultsProcessor::InFolder(const std::filesystem::path& name) const {
  return options_.folder.empty() ? name : options_.folder / name;
}

void ResultsProcessor::Process(DecodeSlot slot, int nowSeconds) {
  slot.call[sizeof slot.call - 1] = '\0';
  NumericLocaleScope numbers(cLocale_);
  const bool console = program_ == Program::kConsole;
  const int channel = slot.channel;

  // 1. Decode mark.
  char mark = ' ';
  if (slot.result == 1) {
    mark = '?';
    if (slot.attempts == 0) mark = 'c';
    if (slot.attempts == -1) mark = 'd';
  }

  // 2. Line head.
  const time_t now = nowSeconds;
  struct tm utc {};
  gmtime_r(&now, &utc);
  const unsigned year = static_cast<unsigned>(utc.tm_year + 1900);
  const unsigned month = static_cast<unsigned>(utc.tm_mon + 1);
  const unsigned day = static_cast<unsigned>(utc.tm_mday);
  const unsigned hour = static_cast<unsigned>(utc.tm_hour);
  const unsigned minute = static_cast<unsigned>(utc.tm_min);
  const unsigned second = static_cast<unsigned>(utc.tm_sec);
  const double frequencyHz = ChannelHz(settings_.dialHz, settings_.bandStartHz, channel);
  FixedText<256> line;
  line.Append("%04u-%02u-%02u %02u:%02u:%02u %6s %.2f ", year, month, day, hour, minute, second,
              slot.call, frequencyHz);

  // 3. Known-call search. A call heard again within the blocking time does not
  // match its entry; it is learnt once more below.
  bool matched = false;
  bool heardElsewhere = false;
  int distanceKm = -1;
  const int used = knownCalls_.size();
  for (int j = 0; j < used; ++j) {
    KnownCall& entry = knownCalls_.entries[j];
    if (std::strcmp(entry.callsign, slot.call) != 0) continue;
    if (static_cast<long long>(nowSeconds) - entry.lastHeard <= settings_.callBlockSeconds) {
      continue;
    }
    // A call heard once is confirmed only where it was heard: a beacon stays
    // on its frequency, while a false decode of noise turns up anywhere in the
    // band. Elsewhere it counts as a first hearing at the new frequency.
    if (settings_.learnSameFrequency && entry.heardCount == 1 && entry.heardFrequencyHz > 0 &&
        std::fabs(frequencyHz - entry.heardFrequencyHz) > kLearnToleranceHz) {
      entry.heardFrequencyHz = frequencyHz;
      entry.lastHeard = nowSeconds;
      heardElsewhere = true;
      break;
    }
    matched = true;
    entry.lastHeard = nowSeconds;
    distanceKm = WholeKm(entry.distanceKm);
    const bool secondHearing = entry.heardCount == 1;
    ++entry.heardCount;
    if (distanceKm < 1) {
      if (secondHearing) AppendKnownList(slot.call);
    } else if (ValidChannel(channel)) {
      // The worker's channel selection reads the mask while it runs.
      std::atomic_ref<int> flag(alwaysDecodeMask_[channel]);
      if (flag.load(std::memory_order_relaxed) == 0) {
        flag.store(1, std::memory_order_relaxed);
        AppendFrequencyList(frequencyHz);
      }
    }
    break;
  }

  // 4. Learning.
  if (!matched) {
    if (!heardElsewhere) AppendLearntCall(knownCalls_, slot.call, nowSeconds, frequencyHz);
    mark = '-';
  }

  // 5.-7. Distance and figures.
  const double snrDb = slot.snr + settings_.dbOffset;
  if (distanceKm >= 0) {
    line.Append(console ? "%5d km " : "%5d km\t", distanceKm);
  } else {
    line.Append(console ? "         " : "        \t");
  }
  line.Append(console ? "%.1fdB\t%+.1fdB\t%3d %c" : "%.1fdB %+.1fdB %d %c", slot.ebno, snrDb,
              slot.attempts, mark);

  DecodeReport report;
  std::memcpy(report.call, slot.call, sizeof report.call);
  report.channel = channel;
  report.frequencyHz = frequencyHz;
  report.distanceKm = distanceKm;
  report.ebNoDb = slot.ebno;
  report.snrDb = snrDb;
  report.attempts = slot.attempts;
  report.result = slot.result;
  report.mark = mark;
  report.known = matched;
  report.fromWav = slot.fromWav;
  report.slotTime = slot.time;
  report.reportedAt = nowSeconds;

  // 8. Known-calls filter.
  report.hidden = settings_.useKnownCallsList && !matched;
  if (report.hidden) {
    report.line = line.view();
    output_.Decode(report);
    return;
  }

  // The console program uploads first and shows the outcome with the line.
  if (console) {
    report.uploadMark = Upload(slot, mark, frequencyHz, snrDb);
    line.Append(" %c", report.uploadMark);
  }
  report.line = line.view();

  // 9. Show.
  output_.ShowLine(line.view());

  // 10. Log.
  if (options_.writeFiles) WriteLog(line.view());

  // 11. Capture: never a recording's decode, which would be filed as heard now.
  if (!console && options_.writeFiles && settings_.captureEnabled && !slot.fromWav) {
    try {
      FixedText<1024> path;
      path.Append("%s%s_%04u%02u%02u_%02u%02u.jpg", settings_.capturePath.c_str(), slot.call, year,
                  month, day, hour, minute);
      FixedText<512> caption;
      caption.Append("%04u-%02u-%02u %02u:%02u:%02u %s de %s %+.1fdB in %s", year, month, day, hour,
                     minute, second, slot.call, settings_.myCall.c_str(), snrDb,
                     settings_.myLocator.c_str());
      output_.CaptureWaterfall(channel, slot.call, std::string(path.view()),
                               std::string(caption.view()));
    } catch (const std::exception& e) {
      output_.WriteFailed(e.what());
    }
  }

  // 12. Hold the channel and its neighbours for the worker.
  for (int c = channel - 1; c <= channel + 1; ++c) {
    if (ValidChannel(c)) slots_.SetHold(c, kHoldTicks);
  }

  // 13. Upload.
  if (!console) {
    report.uploadMark = Upload(slot, mark, frequencyHz, snrDb);
  }
  output_.Decode(report);
}

char ResultsProcessor::Upload(const DecodeSlot& slot, char mark, double frequencyHz, double snrDb) {
  // Only clean decodes of calls heard before are spotted; a recording's decode
  // never is, since the reporter would file it as heard now.
  if (!spots_ || !settings_.uploadSpots || mark != ' ' || slot.fromWav) return ' ';
  try {
    return spots_->Send(slot.call, " ", static_cast<float>(frequencyHz), static_cast<float>(snrDb))
               ? '+'
               : 'x';
  } catch (const std::exception&) {
    return 'x';
  }
}

void ResultsProcessor::WriteLog(std::string_view line) {
  try {
    const std::filesystem::path path = InFolder(settings_.logFilePath);
    std::string error;
    const bool newestFirst = program_ == Program::kConsole || settings_.reverseOutput;
    const bool ok = newestFirst ? InsertDecodeLogLine(path, settings_.logFilePath, line, &error)
                                : AppendTextLine(path, line, &error);
    if (!ok) output_.WriteFailed(error);
  } catch (const std::exception& e) {
    output_.WriteFailed(e.what());
  }
}

void ResultsProcessor::AppendKnownList(const char* call) {
  if (!options_.writeFiles) return;
  try {
    const std::filesystem::path path = InFolder(kKnownListFile);
    // A call loaded from the file starts the run with no hearings and reaches its
    // second one again in every run; listing it once is enough.
    bool listed = false;
    ForEachListLine(path, [&](std::string_view text) {
      CallLine entry;
      if (ParseCallLine(text, entry) && EqualIgnoringAsciiCase(entry.callsign, call)) listed = true;
      return !listed;
    });
    if (listed) return;
    std::string error;
    if (!AppendTextLine(path, call, &error)) output_.WriteFailed(error);
  } catch (const std::exception& e) {
    output_.WriteFailed(e.what());
  }
}

void ResultsProcessor::AppendFrequencyList(double frequencyHz) {
  if (!options_.writeFiles) return;
  try {
    FixedText<64> text;
    text.Append("%.3f", frequencyHz);
    std::string error;
    if (!AppendTextLine(InFolder(kFrequencyListFile), text.view(), &error)) {
      output_.WriteFailed(error);
    }
  } catch (const std::exception& e) {
    output_.WriteFailed(e.what());
  }
}

}  // namespace vs32
