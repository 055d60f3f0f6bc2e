// vs32decode: the batch decoder. Runs the receive chain and the programs'
// acceptance rules over recordings as fast as the CPU allows, in recording
// time, and prints what was decoded.
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "audio/wav_file.h"
#include "config/list_files.h"
#include "config/profile_file.h"
#include "config/settings.h"
#include "engine/list_decoder.h"
#include "engine/version.h"
#include "receiver/receiver.h"
#include "report/decode_log.h"

using namespace vs32;

namespace {

constexpr const char* kUsage =
    "usage: vs32decode [--ini FILE] [--lists DIR] [--center HZ] [--dial HZ] [--depth 0|1|2|3]\n"
    "                  [--list K] [--no-correlator] [--all] [--format text|tsv|json|jsonl]\n"
    "                  [--jobs N] [--timing] [--quiet] [--no-partial-flag] FILE.wav...\n";

constexpr const char* kHelp =
    "Decodes Vesta-32 frames in WAV recordings (16-bit PCM, 12000 samples/s, or\n"
    "48000 when the band centre is 5500 Hz or more; a stereo file is read from its\n"
    "second channel). The same receive chain and acceptance rules as the receiver\n"
    "programs run over each file as fast as the CPU allows; times are recording\n"
    "times. A frame needs about 33 minutes of recording to decode.\n"
    "\n"
    "Options:\n"
    "  --ini FILE       read settings from this INI file (never written); default:\n"
    "                   built-in defaults. VS32_INI is ignored. A missing or\n"
    "                   unreadable file, a binary one, or one with text but no\n"
    "                   [section] line is an error (exit 2); an empty file (or\n"
    "                   one of comments only) means the defaults.\n"
    "  --lists DIR      read callsloc.txt, known_list.txt, loran_lines.txt and\n"
    "                   freq_list.txt from DIR (never written)\n"
    "  --center HZ      band centre audio frequency (F_CENTER), default 1500\n"
    "  --dial HZ        radio dial frequency (F_DIAL), default 136000\n"
    "  --depth 0|1|2|3  decoder depth: single attempt, Deep, Ultra Deep, or the\n"
    "                   best-first list over whole messages (LIST_DECODER)\n"
    "  --list K         messages in that list, 1 to 65536 (LIST_SIZE, default 4096)\n"
    "  --no-correlator  do not correlate with known callsigns\n"
    "  --all            also show decodes the known-calls filter would hide; without\n"
    "                   it a note on stderr counts the hidden ones\n"
    "  --format F       text (default), tsv (header + tab-separated columns), json\n"
    "                   (one array of objects) or jsonl (one object per line)\n"
    "  --jobs N         decode N files at once (default: number of cores)\n"
    "  --timing         print the decoding speed of each file on stderr, then the\n"
    "                   throughput of the whole run and its peak memory\n"
    "  --quiet          no notes on stderr (hidden decodes, short recordings);\n"
    "                   errors are still printed\n"
    "  --no-partial-flag\n"
    "                   leave out the partial column, field and text mark\n"
    "  --help           this text;  --version  the version\n"
    "\n"
    "Columns (tsv and json): file utc offset_s start_s call freq_hz qrb_km ebno_db\n"
    "snr_db attempts status mark partial. offset_s is the recording second of the\n"
    "decode, start_s where the frame began (offset_s - 1982.464); utc is filled\n"
    "when the file name carries its start time as YYMMDD_HHMM or YYMMDD_HHMMSS.\n"
    "partial (tsv 1/0, json true/false, text the word \"partial\" at the end of\n"
    "the line) flags a frame that began before the recording (start_s < 0): its\n"
    "first symbols were never heard, so it is less certain than a whole frame.\n"
    "A recording shorter than one frame (1982.464 s) gets a note on stderr.\n"
    "\n"
    "Exit status: 0 all files decoded, 1 a file could not be read, 2 usage error or\n"
    "an --ini file that cannot be used.\n";

// Slot times are recording seconds plus this base, so that a decode in the
// first second is not mistaken for a free slot (time 0).
constexpr int kTimeBase = 1000000;
constexpr double kFrameLeadSeconds = 1982.464;  // 960 ticks and two symbols

enum class Format { kText, kTsv, kJson, kJsonLines };

struct Options {
  std::optional<std::string> ini;
  std::optional<std::string> lists;
  std::optional<double> center;
  std::optional<double> dial;
  std::optional<int> depth;
  std::optional<int> listSize;
  bool noCorrelator = false;
  bool all = false;
  Format format = Format::kText;
  int jobs = 0;
  bool timing = false;
  bool quiet = false;
  bool partialFlag = true;
  std::vector<std::string> files;
};

struct DecodeRow {
  std::string utc;
  double offset = 0;
  std::string call;
  double freqHz = 0;
  int qrbKm = -1;
  double ebNo = 0;
  double snr = 0;
  int attempts = 0;
  int status = 0;
  char mark = ' ';
};

struct FileResult {
  bool ok = false;
  std::string error;
  std::vector<DecodeRow> decodes;
  int hidden = 0;  // decodes the known-calls filter kept back (without --all)
  double audioSeconds = 0;
  double cpuSeconds = 0;
  double wallSeconds = 0;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "vs32decode: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

bool ParseDouble(const char* text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(*value);
}

bool ParseInt(const char* text, int* value) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

Options ParseArguments(int argc, char** argv) {
  Options o;
  bool filesOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) UsageError(std::string(name) + " needs a value");
      return argv[++i];
    };
    if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
      o.files.push_back(arg);
    } else if (arg == "--") {
      filesOnly = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs("\n", stdout);
      std::fputs(kHelp, stdout);
      std::exit(0);
    } else if (arg == "--version") {
      std::printf("vs32decode %s\n", Version());
      std::exit(0);
    } else if (arg == "--ini") {
      o.ini = value("--ini");
    } else if (arg == "--lists") {
      o.lists = value("--lists");
    } else if (arg == "--center") {
      double v;
      if (!ParseDouble(value("--center"), &v))
        UsageError("--center: not a number: " + std::string(argv[i]));
      o.center = v;
    } else if (arg == "--dial") {
      double v;
      if (!ParseDouble(value("--dial"), &v))
        UsageError("--dial: not a number: " + std::string(argv[i]));
      o.dial = v;
    } else if (arg == "--depth") {
      int v;
      if (!ParseInt(value("--depth"), &v) || v < 0 || v > 3)
        UsageError("--depth: must be 0, 1, 2 or 3: " + std::string(argv[i]));
      o.depth = v;
    } else if (arg == "--list") {
      int v;
      if (!ParseInt(value("--list"), &v) || v < kMinListSize || v > kMaxListSize)
        UsageError("--list: must be a number from 1 to 65536: " + std::string(argv[i]));
      o.listSize = v;
    } else if (arg == "--no-correlator") {
      o.noCorrelator = true;
    } else if (arg == "--all") {
      o.all = true;
    } else if (arg == "--format") {
      const std::string f = value("--format");
      if (f == "text")
        o.format = Format::kText;
      else if (f == "tsv")
        o.format = Format::kTsv;
      else if (f == "json")
        o.format = Format::kJson;
      else if (f == "jsonl")
        o.format = Format::kJsonLines;
      else
        UsageError("--format: must be text, tsv, json or jsonl: " + f);
    } else if (arg == "--jobs") {
      int v;
      if (!ParseInt(value("--jobs"), &v) || v < 1 || v > 1024)
        UsageError("--jobs: must be a number from 1 to 1024: " + std::string(argv[i]));
      o.jobs = v;
    } else if (arg == "--timing") {
      o.timing = true;
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--no-partial-flag") {
      o.partialFlag = false;
    } else {
      UsageError("unknown option: " + arg);
    }
  }
  if (o.files.empty()) UsageError("no recording given");
  return o;
}

// Start time of a recording from its file name (YYMMDD_HHMM or YYMMDD_HHMMSS), UTC.
std::optional<time_t> StartTimeFromName(const std::string& path) {
  const std::string name =
      path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  static const std::regex pattern(
      R"((^|[^0-9])(\d{2})(\d{2})(\d{2})_(\d{2})(\d{2})(\d{2})?([^0-9]|$))");
  std::smatch m;
  if (!std::regex_search(name, m, pattern)) return std::nullopt;
  tm t{};
  t.tm_year = 100 + std::stoi(m[2]);
  t.tm_mon = std::stoi(m[3]) - 1;
  t.tm_mday = std::stoi(m[4]);
  t.tm_hour = std::stoi(m[5]);
  t.tm_min = std::stoi(m[6]);
  t.tm_sec = m[7].matched ? std::stoi(m[7]) : 0;
  if (t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
      t.tm_sec > 59)
    return std::nullopt;
  return timegm(&t);
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Collects what the results processing reports, instead of showing and logging it.
class CollectingOutput : public ResultsOutput {
 public:
  CollectingOutput(bool all, bool hasHome, std::optional<time_t> start, FileResult* out)
      : all_(all), hasHome_(hasHome), start_(start), out_(out) {}

  void Decode(const DecodeReport& r) override {
    if (r.hidden && !all_) {
      ++out_->hidden;
      return;
    }
    DecodeRow d;
    d.offset = r.slotTime - kTimeBase;
    if (start_) d.utc = UtcText(*start_ + static_cast<time_t>(d.offset));
    d.call = r.call;
    d.freqHz = r.frequencyHz;
    // Without MYQTH there is no home to measure from: the distance is unknown.
    d.qrbKm = hasHome_ ? r.distanceKm : -1;
    d.ebNo = r.ebNoDb;
    d.snr = r.snrDb;
    d.attempts = r.attempts;
    d.status = r.result;
    d.mark = r.mark;
    out_->decodes.push_back(d);
  }

 private:
  bool all_;
  bool hasHome_;
  std::optional<time_t> start_;
  FileResult* out_;
};

FileResult DecodeFile(const std::string& path, const ReceiverSettings& baseSettings,
                      const Options& options) {
  FileResult result;
  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = ThreadCpuSeconds();

  const ReceiverSettings& settings = baseSettings;
  WavFile wav;
  if (!wav.open(path, "r")) {
    result.error = wav.error().empty() ? "cannot be read" : wav.error();
    return result;
  }
  if (!wav.matchesInput(settings.inputRate)) {
    result.error = WavFormatMessage(settings.inputRate);
    return result;
  }

  CollectingOutput output(options.all, !settings.myLocator.empty(), StartTimeFromName(path),
                          &result);
  ResultsOptions resultsOptions;
  resultsOptions.writeFiles = false;
  const std::string listDir = options.lists ? *options.lists : std::string();
  resultsOptions.folder = listDir;
  Receiver receiver(Program::kConsole, settings, output, nullptr, resultsOptions);
  if (options.lists) receiver.LoadLists(listDir);
  const long blocks = receiver.DecodeRecording(wav, kTimeBase);
  wav.close();

  result.ok = true;
  result.audioSeconds = static_cast<double>(blocks);
  result.cpuSeconds = ThreadCpuSeconds() - cpuStart;
  result.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  return result;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// One decode in the chosen format; json objects get no line end (the caller
// separates them).
void Print(const std::string& file, const DecodeRow& d, const Options& options) {
  char offset[32], start[32], freq[32], ebno[32], snr[32];
  std::snprintf(offset, sizeof offset, "%.1f", d.offset);
  std::snprintf(start, sizeof start, "%.1f", d.offset - kFrameLeadSeconds);
  std::snprintf(freq, sizeof freq, "%.2f", d.freqHz);
  std::snprintf(ebno, sizeof ebno, "%.1f", d.ebNo);
  std::snprintf(snr, sizeof snr, "%.1f", d.snr);
  const std::string qrb = d.qrbKm >= 0 ? std::to_string(d.qrbKm) : std::string();
  const std::string mark = d.mark == ' ' ? std::string() : std::string(1, d.mark);
  // The frame began before the recording: its first symbols were never heard.
  const bool partial = d.offset - kFrameLeadSeconds < 0;
  const bool flag = options.partialFlag;
  switch (options.format) {
    case Format::kTsv:
      std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%d\t%d\t%s%s\n", file.c_str(), d.utc.c_str(),
                  offset, start, d.call.c_str(), freq, qrb.c_str(), ebno, snr, d.attempts, d.status,
                  mark.c_str(),
                  !flag     ? ""
                  : partial ? "\t1"
                            : "\t0");
      break;
    case Format::kJson:
    case Format::kJsonLines:
      std::printf(
          "{\"file\": %s, \"utc\": %s, \"offset_s\": %s, \"start_s\": %s, \"call\": %s, "
          "\"freq_hz\": %s, \"qrb_km\": %s, \"ebno_db\": %s, \"snr_db\": %s, \"attempts\": %d, "
          "\"status\": %d, \"mark\": %s%s}%s",
          JsonString(file).c_str(), d.utc.empty() ? "null" : JsonString(d.utc).c_str(), offset,
          start, JsonString(d.call).c_str(), freq, qrb.empty() ? "null" : qrb.c_str(), ebno, snr,
          d.attempts, d.status, mark.empty() ? "null" : JsonString(mark).c_str(),
          !flag     ? ""
          : partial ? ", \"partial\": true"
                    : ", \"partial\": false",
          options.format == Format::kJsonLines ? "\n" : "");
      break;
    case Format::kText:
      std::printf("%s  %-19s %8ss %-6s %10s Hz %6s km %6s dB Eb/No %6s dB SNR %3d %d %s%s\n",
                  file.c_str(), d.utc.empty() ? "-" : d.utc.c_str(), offset, d.call.c_str(), freq,
                  qrb.empty() ? "-" : qrb.c_str(), ebno, snr, d.attempts, d.status, mark.c_str(),
                  flag && partial ? " partial" : "");
      break;
  }
}

// Why `path` cannot be the settings file, or nothing. The profile reader takes
// any bytes and falls back to defaults, so a wrong path or a mistaken file
// (a recording, a list) would otherwise decode with defaults without a word.
std::optional<std::string> SettingsFileProblem(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::string(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return std::string("is a folder, not a settings file");
  // A pipe would be used up by the first of the key-by-key reads.
  if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
  if (static_cast<size_t>(st.st_size) > kProfileFileMaxBytes)
    return std::string("larger than 16 MB: not a settings file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string(std::strerror(errno));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::string(std::strerror(errno));
  if (text.find('\0') != std::string::npos) return std::string("not an INI file (binary content)");
  // Keys outside a section are never read: text without a section header sets nothing.
  bool content = false;
  size_t pos = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;  // a UTF-8 byte-order mark
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const size_t first = text.find_first_not_of(" \t\r\f\v", pos);
    if (first < end) {
      if (text[first] == '[') return std::nullopt;
      if (text[first] != ';' && text[first] != '#') content = true;
    }
    pos = end + 1;
  }
  if (content) return std::string("not an INI file (no [section] line)");
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseArguments(argc, argv);

  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  if (options.ini) {
    if (const auto problem = SettingsFileProblem(*options.ini)) {
      std::fprintf(stderr, "vs32decode: --ini %s: %s\n", options.ini->c_str(), problem->c_str());
      return 2;
    }
    LoadResult loaded =
        LoadSettings(Program::kConsole, *options.ini, settings, LoadMode::kReadOnly);
    if (!loaded.ok) {
      std::fprintf(stderr, "vs32decode: %s: %s\n", options.ini->c_str(), loaded.error.c_str());
      return 2;
    }
  }
  if (options.center) {
    settings.bandStartHz = Receiver::BandStartForCentre(*options.center);
  }
  if (options.dial) settings.dialHz = *options.dial;
  if (options.depth) {
    settings.deepDecoder = *options.depth == 1 || *options.depth == 2;
    settings.ultraDeepDecoder = *options.depth == 2;
    settings.listDecoder = *options.depth == 3;
  }
  if (options.listSize) settings.listSize = *options.listSize;
  if (options.noCorrelator) settings.useCorrelator = false;
  ComputeDerived(settings);

  const int files = static_cast<int>(options.files.size());
  int jobs =
      options.jobs > 0 ? options.jobs : static_cast<int>(std::thread::hardware_concurrency());
  jobs = std::clamp(jobs, 1, files);

  // Files are decoded in parallel but printed in command-line order.
  std::vector<FileResult> results(files);
  std::vector<char> done(files, 0);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<int> next{0};
  auto work = [&] {
    for (int i = next++; i < files; i = next++) {
      FileResult r = DecodeFile(options.files[i], settings, options);
      std::lock_guard lock(mutex);
      results[i] = std::move(r);
      done[i] = 1;
      finished.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (int j = 1; j < jobs; ++j) pool.emplace_back(work);

  if (options.format == Format::kTsv) {
    std::printf(
        "file\tutc\toffset_s\tstart_s\tcall\tfreq_hz\tqrb_km\tebno_db\tsnr_"
        "db\tattempts\tstatus\tmark%s\n",
        options.partialFlag ? "\tpartial" : "");
  }
  // json is one document: the array is opened here and closed after the last file.
  if (options.format == Format::kJson) std::fputs("[", stdout);
  bool firstRow = true;
  int hidden = 0;
  int status = 0;
  double totalAudio = 0;
  const auto runStart = std::chrono::steady_clock::now();
  std::thread mainWorker;
  if (jobs >= 1) mainWorker = std::thread(work);
  for (int i = 0; i < files; ++i) {
    {
      std::unique_lock lock(mutex);
      finished.wait(lock, [&] { return done[i] != 0; });
    }
    const FileResult& r = results[i];
    if (!r.ok) {
      std::fprintf(stderr, "vs32decode: %s: %s\n", options.files[i].c_str(), r.error.c_str());
      status = 1;
      continue;
    }
    for (const DecodeRow& d : r.decodes) {
      if (options.format == Format::kJson) std::fputs(firstRow ? "\n" : ",\n", stdout);
      firstRow = false;
      Print(options.files[i], d, options);
    }
    std::fflush(stdout);
    hidden += r.hidden;
    if (!options.quiet && r.audioSeconds < kFrameLeadSeconds) {
      std::fprintf(stderr,
                   "vs32decode: %s: note: %.1f s of audio is shorter than one frame (%.0f s, "
                   "about 33 minutes): no frame that begins in it can be decoded whole\n",
                   options.files[i].c_str(), r.audioSeconds, kFrameLeadSeconds);
    }
    if (options.timing) {
      // Real-time factor: seconds of audio per second of wall time, and per
      // second of this file's thread CPU time.
      std::fprintf(stderr,
                   "%s: %.1f s audio, %.2f s CPU, %.2f s wall, %.0fx real time (%.0fx on CPU)\n",
                   options.files[i].c_str(), r.audioSeconds, r.cpuSeconds, r.wallSeconds,
                   r.wallSeconds > 0 ? r.audioSeconds / r.wallSeconds : 0.0,
                   r.cpuSeconds > 0 ? r.audioSeconds / r.cpuSeconds : 0.0);
      totalAudio += r.audioSeconds;
    }
  }
  mainWorker.join();
  for (auto& t : pool) t.join();
  if (options.format == Format::kJson) std::fputs("\n]\n", stdout);
  std::fflush(stdout);
  if (hidden > 0 && !options.quiet) {
    std::fprintf(stderr,
                 "vs32decode: note: %d decode%s hidden by the known-calls filter (%s); --all "
                 "shows them%s\n",
                 hidden, hidden == 1 ? "" : "s",
                 options.lists ? "calls not in the lists" : "no --lists given: every call is new",
                 options.lists ? "" : ", --lists DIR reads the known calls");
  }
  if (options.timing) {
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr,
                 "total: %d file%s, %.1f s audio in %.2f s wall with %d job%s, %.0fx real time; "
                 "peak memory %.1f MB\n",
                 files, files == 1 ? "" : "s", totalAudio, wall, jobs, jobs == 1 ? "" : "s",
                 wall > 0 ? totalAudio / wall : 0.0, usage.ru_maxrss / 1024.0);
  }
  return status;
}
