// Results processing: what becomes of a finished decode. Shared by the console
// program, the windowed program and the batch decoder.
//
// On every results tick (about every 300 ms on the front end's main thread) each
// decode slot that has been quiet for more than 8 s is taken from the slot table
// and turned into one result line: the known-call table decides whether the call
// is known, blocked or new (and learns new ones), the line is shown and logged,
// the list files grow, the channel and its neighbours are held for the worker,
// the waterfall is captured and a spot is uploaded. The same tick drives the
// periodic calls into the spot reporter.
//
// Everything here runs on one thread (the front end's main thread); the slot
// table and the known-call table guard what they share with the worker.
#pragma once

#include <locale.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "config/list_files.h"
#include "config/settings.h"
#include "engine/decode_slots.h"
#include "engine/known_calls.h"
#include "report/decode_log.h"
#include "report/psk_reporter.h"

namespace vs32 {

// What results processing made of one decode slot.
struct DecodeReport {
  char call[8] = {};       // decoded callsign
  int channel = 0;         // 0 … kChannels − 1
  double frequencyHz = 0;  // radio frequency of the channel
  int distanceKm = -1;     // whole km from home; -1 when unknown or the call was not matched
  float ebNoDb = 0;        // the decoder's Eb/No
  double snrDb = 0;        // the slot's SNR plus the configured dB offset
  int attempts = 0;        // 0 for a correlation decode
  int result = 0;          // decode status: 2 or 1
  char mark = ' ';  // ' ' clean, '?' check word only, 'c' correlation, 'd' attempts -1, '-' new
  char uploadMark = ' ';  // '+' spot accepted, 'x' refused or failed, ' ' none attempted
  bool known = false;     // matched in the known-call table (not blocked)
  bool hidden = false;    // hidden by the known-calls filter: not shown, logged or uploaded
  bool fromWav = false;   // decoded from a recording
  int slotTime = 0;       // seconds of the slot's last improving decode
  int reportedAt = 0;     // seconds of the tick that reported it (the line's time stamp)
  std::string_view line;  // the line as shown and logged (valid during the call only)
};

// Where results go. Every method is called on the thread that runs the ticks.
class ResultsOutput {
 public:
  virtual ~ResultsOutput() = default;
  // Every processed slot, hidden ones included, after all its effects.
  virtual void Decode(const DecodeReport& /*report*/) {}
  // A line for the decode list (windowed program: under the column header, newest
  // first; console program: inserted at the top of the decode rows, and carrying
  // " <upload mark>" at its end). No line feed. Hidden decodes are not shown.
  virtual void ShowLine(std::string_view /*line*/) {}
  // Windowed program: label the waterfall at the channel and save it as an image.
  virtual void CaptureWaterfall(int /*channel*/, std::string_view /*call*/,
                                const std::string& /*path*/, const std::string& /*caption*/) {}
  // A log or list file write failed; processing has gone on. For diagnostics.
  virtual void WriteFailed(std::string_view /*reason*/) {}
};

// Sends spots and keeps the reporter alive. An interface so that tests can count.
class SpotSender {
 public:
  virtual ~SpotSender() = default;
  // True when the reporter accepted the spot. Frequency in Hz, report in dB.
  virtual bool Send(std::string_view call, std::string_view locator, float frequencyHz,
                    float reportDb) = 0;
  virtual void Tickle() = 0;
};

// The real sender: the spot routine over the reporting component. Reads the
// upload switch, MYCALL, MYQTH and the correlator switch at the moment of use.
// The results processor alone decides what a recording may spot, so the spot
// routine's own recording test is not used here. The windowed program wraps it
// to show the outcome in its status bar.
class ReporterSpotSender : public SpotSender {
 public:
  ReporterSpotSender(SpotReporter& reporter, ReporterRecord& record,
                     const ReceiverSettings& settings, Program program)
      : reporter_(reporter), record_(record), settings_(settings), program_(program) {}
  bool Send(std::string_view call, std::string_view locator, float frequencyHz,
            float reportDb) override;
  void Tickle() override;

 private:
  SpotReporter& reporter_;
  ReporterRecord& record_;
  const ReceiverSettings& settings_;
  Program program_;
};

struct ResultsOptions {
  // Folder of the list files, and of the log when its name is relative. Empty:
  // the current folder.
  std::filesystem::path folder;
  // Off (batch decoding): no log, list files or waterfall captures are written;
  // known calls are still learnt and marks, filter and hold still computed.
  bool writeFiles = true;
};

class ResultsProcessor {
 public:
  static constexpr int kQuietSeconds = DecodeSlotTable::kQuietSeconds;  // reported once older
  static constexpr int kHoldTicks = DecodeSlotTable::kHoldTicks;  // hold of a reported channel
  static constexpr int kTickleSeconds = 20;                       // reporter keep-alive period
  static constexpr int kSelfSpotSeconds = 1200;                   // own-station report period

  // `spots` may be null: spots are then not possible. All references must outlive
  // the processor.
  ResultsProcessor(Program program, const ReceiverSettings& settings, KnownCallTable& knownCalls,
                   ChannelMask& alwaysDecodeMask, DecodeSlotTable& slots, ResultsOutput& output,
                   SpotSender* spots = nullptr, ResultsOptions options = {});
  ~ResultsProcessor();
  ResultsProcessor(const ResultsProcessor&) = delete;
  ResultsProcessor& operator=(const ResultsProcessor&) = delete;

  // One results tick at `nowSeconds` (seconds since 1970, read once by the caller;
  // the slot table's clock, so a batch decoder passes recording time). `inputLevel`
  // is the worker's smoothed input level (linear), `wavInput` whether a recording
  // is being decoded now (no self-spot from a recording's level). Decodes of a
  // recording are told by their slot's `fromWav`, never by this flag.
  void Tick(int nowSeconds, float inputLevel, bool wavInput = false);

  // End of a recording: reports every pending slot whatever its age, stamped
  // `nowSeconds`. No reporter calls besides the decodes' own spots.
  void Flush(int nowSeconds);

  // Start-up: creates the decode log with its header block (MYHEADER and this
  // program's column header) when it is missing; an existing log is left alone.
  // Nothing is created when files are not written (kExists is returned).
  LogCreation EnsureLog(std::string* error = nullptr) const;

  // The column header of this program's decode list and new logs.
  std::string_view Columns() const;

  // Where spots go from now on (null: none); not owned.
  void SetSpotSender(SpotSender* spots) { spots_ = spots; }

 private:
  void ProcessPending(int nowSeconds, bool all);
  void Process(DecodeSlot slot, int nowSeconds);
  // The upload mark: '+' accepted, 'x' refused or failed, ' ' not attempted.
  char Upload(const DecodeSlot& slot, char mark, double frequencyHz, double snrDb);
  void WriteLog(std::string_view line);
  void AppendKnownList(const char* call);
  void AppendFrequencyList(double frequencyHz);
  std::filesystem::path InFolder(const std::filesystem::path& name) const;

  Program program_;
  const ReceiverSettings& settings_;
  KnownCallTable& knownCalls_;
  ChannelMask& alwaysDecodeMask_;
  DecodeSlotTable& slots_;
  ResultsOutput& output_;
  SpotSender* spots_;
  ResultsOptions options_;
  locale_t cLocale_;  // numbers are always written with a decimal point
};

}  // namespace vs32
