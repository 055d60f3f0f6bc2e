// vs32gen: prints the frame of a callsign, or writes a test recording (16-bit
// PCM WAV) with keyed beacon carriers, interference lines and white noise.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/wav_writer.h"
#include "config/ascii_case.h"
#include "engine/frame_codec.h"
#include "engine/version.h"
#include "tools/vs32gen/generator.h"

namespace {

using vs32gen::GeneratorConfig;
using vs32gen::LineSpec;
using vs32gen::StationSpec;

constexpr const char* kUsage =
    "Usage:\n"
    "  vs32gen --frame CALL\n"
    "  vs32gen --frame-field FIELD\n"
    "  vs32gen -o OUT.wav [--station CALL:AUDIO_HZ:SNR_DB[:START_S]]... [--line HZ:SNR_DB]...\n"
    "          [--noise-only] [--duration S] [--rate 12000|48000] [--channels 1|2]\n"
    "          [--seed N] [--drift HZ_PER_HOUR]\n";

constexpr const char* kHelp =
    "vs32gen - Vesta-32 frames and test recordings\n"
    "\n"
    "%s"
    "\n"
    "Frames:\n"
    "  --frame CALL          put CALL into its field form (blanks trimmed, upper case,\n"
    "                        one leading space when the digit is the second character,\n"
    "                        six characters) and print three lines:\n"
    "                          field \"<the six characters>\"\n"
    "                          symbols <239 line symbols 0/1, 1 = carrier on>\n"
    "                          scrambled <51 scrambled message bits 0/1>\n"
    "  --frame-field FIELD   the same with FIELD (at most six characters) taken\n"
    "                        literally; a shorter field is padded with zero bytes,\n"
    "                        and the field line shows only the characters given.\n"
    "\n"
    "Recordings (16-bit PCM WAV):\n"
    "  -o, --output FILE     the WAV file to write (replaced if it exists).\n"
    "  --station CALL:AUDIO_HZ:SNR_DB[:START_S]\n"
    "                        a beacon keying a sine carrier on and off with the frame\n"
    "                        of CALL (field form; letters, digits, at most six\n"
    "                        characters in that form), 8.192 s per symbol, with 50 ms\n"
    "                        raised-cosine keying edges. AUDIO_HZ: carrier frequency,\n"
    "                        inside (0, rate/2). SNR_DB: carrier power while keyed on\n"
    "                        over the noise power in 2500 Hz (-100 to 100). START_S:\n"
    "                        when the frame's first symbol starts, in seconds from the\n"
    "                        start of the recording (default 40; may be negative for\n"
    "                        a recording that begins inside the frame). Repeatable.\n"
    "  --line HZ:SNR_DB      a steady, unkeyed interference carrier; SNR as above.\n"
    "                        Repeatable.\n"
    "  --noise-only          a recording of noise alone (the same as giving no\n"
    "                        station and no line); cannot be combined with them.\n"
    "  --duration S          length in seconds. Default: the end of the last frame\n"
    "                        plus 60 s (with no station: 2057.888 s, the length of a\n"
    "                        default recording of one station).\n"
    "  --rate 12000|48000    sample rate (default 12000).\n"
    "  --channels 1|2        mono (default), or stereo with the stations, lines and\n"
    "                        noise in the second channel and independent noise alone\n"
    "                        in the first (the receiver reads the second channel).\n"
    "  --seed N              seed of the noise and carrier phases (default 1); the\n"
    "                        same arguments and seed give the same file.\n"
    "  --drift HZ_PER_HOUR   every station carrier moves linearly in frequency at this\n"
    "                        rate; AUDIO_HZ is its frequency at the middle of its frame\n"
    "                        (lines do not drift).\n"
    "\n"
    "The noise is white Gaussian over 0 to rate/2. Levels are set so that the sum of\n"
    "the carrier amplitudes plus six noise standard deviations fits the 16-bit range;\n"
    "samples that clip anyway are counted on standard error. A summary of what was\n"
    "written goes to standard output.\n"
    "\n"
    "Other:\n"
    "  -h, --help            this text.\n"
    "  --version             the program version.\n"
    "\n"
    "Exit status: 0 done, 1 the file could not be written, 2 bad arguments.\n";

struct Options {
  std::optional<std::string> frameCall;
  std::optional<std::string> frameField;
  std::string output;
  std::vector<std::pair<std::string, StationSpec>> stations;  // argument text, parsed station
  std::vector<std::pair<std::string, LineSpec>> lines;
  bool noiseOnly = false;
  std::optional<double> durationSeconds;
  uint32_t rateHz = 12000;
  int channels = 1;
  uint64_t seed = 1;
  double driftHzPerHour = 0;
};

// Thrown by the parser; carries the one-line message.
struct UsageError {
  std::string message;
};

[[noreturn]] void Bad(const std::string& arg, const std::string& problem) {
  throw UsageError{arg + ": " + problem};
}

std::optional<double> ParseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

double Number(const std::string& arg, std::string_view text, const char* what) {
  const auto v = ParseNumber(text);
  if (!v) Bad(arg, std::string(what) + " \"" + std::string(text) + "\" is not a number");
  return *v;
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(sep, from);
    parts.push_back(
        text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) return parts;
    from = at + 1;
  }
}

// A callsign whose field form is valid in every position and keeps the whole call.
bool ValidField(const std::string& call, const std::string& field) {
  auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (field.size() != 6) return false;
  if (!(field[0] == ' ' || upper(field[0]) || digit(field[0]))) return false;
  if (!(upper(field[1]) || digit(field[1]))) return false;
  if (!digit(field[2])) return false;
  bool ended = false;  // a space in the suffix ends the callsign
  for (int i = 3; i < 6; ++i) {
    if (field[i] == ' ') {
      ended = true;
    } else if (!upper(field[i]) || ended) {
      return false;
    }
  }
  std::string packed;
  for (char c : field)
    if (c != ' ') packed += c;
  std::string given;
  for (char c : call) {
    if (c == ' ' || c == '\t') continue;
    given += vs32::AsciiUpper(c);
  }
  return packed == given;
}

StationSpec ParseStation(const std::string& arg, const std::string& text) {
  const auto parts = Split(text, ':');
  if (parts.size() < 3 || parts.size() > 4) Bad(arg, "expected CALL:AUDIO_HZ:SNR_DB[:START_S]");
  StationSpec st;
  const std::string call(parts[0]);
  st.field = vs32::CallsignFieldForm(call);
  if (call.find_first_not_of(" \t") == std::string::npos) Bad(arg, "the callsign is empty");
  if (!ValidField(call, st.field))
    Bad(arg, "\"" + call + "\" is not a callsign that fits the six-character field");
  st.audioHz = Number(arg, parts[1], "AUDIO_HZ");
  st.snrDb = Number(arg, parts[2], "SNR_DB");
  if (st.snrDb < -100 || st.snrDb > 100) Bad(arg, "SNR_DB must lie between -100 and 100");
  if (parts.size() == 4) {
    st.startSeconds = Number(arg, parts[3], "START_S");
    if (std::fabs(st.startSeconds) > 1e6) Bad(arg, "START_S is out of range");
  }
  return st;
}

LineSpec ParseLine(const std::string& arg, const std::string& text) {
  const auto parts = Split(text, ':');
  if (parts.size() != 2) Bad(arg, "expected HZ:SNR_DB");
  LineSpec line;
  line.audioHz = Number(arg, parts[0], "HZ");
  line.snrDb = Number(arg, parts[1], "SNR_DB");
  if (line.snrDb < -100 || line.snrDb > 100) Bad(arg, "SNR_DB must lie between -100 and 100");
  return line;
}

Options Parse(int argc, char** argv, bool& help, bool& version) {
  Options o;
  bool haveOutput = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
        inlineValue = true;
      }
    }
    auto takesValue = [&]() -> const std::string& {
      if (!inlineValue) {
        if (i + 1 >= argc) Bad(arg, "needs a value");
        value = argv[++i];
      }
      return value;
    };
    auto noValue = [&]() {
      if (inlineValue) Bad(arg, "takes no value");
    };

    if (arg == "-h" || arg == "--help") {
      noValue();
      help = true;
    } else if (arg == "--version") {
      noValue();
      version = true;
    } else if (arg == "--frame") {
      o.frameCall = takesValue();
      if (o.frameCall->find_first_not_of(" \t") == std::string::npos)
        Bad(arg, "the callsign is empty");
    } else if (arg == "--frame-field") {
      o.frameField = takesValue();
      if (o.frameField->size() > 6) Bad(arg, "a field has at most six characters");
    } else if (arg == "-o" || arg == "--output") {
      o.output = takesValue();
      if (o.output.empty()) Bad(arg, "the file name is empty");
      haveOutput = true;
    } else if (arg == "--station") {
      const std::string& v = takesValue();
      o.stations.emplace_back("--station " + v, ParseStation("--station " + v, v));
    } else if (arg == "--line") {
      const std::string& v = takesValue();
      o.lines.emplace_back("--line " + v, ParseLine("--line " + v, v));
    } else if (arg == "--noise-only") {
      noValue();
      o.noiseOnly = true;
    } else if (arg == "--duration") {
      const std::string& v = takesValue();
      o.durationSeconds = Number(arg, v, "the duration");
      if (*o.durationSeconds <= 0) Bad(arg, "the duration must be positive");
    } else if (arg == "--rate") {
      const std::string& v = takesValue();
      if (v == "12000") {
        o.rateHz = 12000;
      } else if (v == "48000") {
        o.rateHz = 48000;
      } else {
        Bad(arg, "\"" + v + "\" is not 12000 or 48000");
      }
    } else if (arg == "--channels") {
      const std::string& v = takesValue();
      if (v == "1") {
        o.channels = 1;
      } else if (v == "2") {
        o.channels = 2;
      } else {
        Bad(arg, "\"" + v + "\" is not 1 or 2");
      }
    } else if (arg == "--seed") {
      const std::string& v = takesValue();
      const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), o.seed);
      if (v.empty() || ec != std::errc() || end != v.data() + v.size())
        Bad(arg, "\"" + v + "\" is not a whole number from 0 to 2^64-1");
    } else if (arg == "--drift") {
      o.driftHzPerHour = Number(arg, takesValue(), "the drift");
      if (std::fabs(o.driftHzPerHour) > 1e5) Bad(arg, "the drift is out of range");
    } else {
      Bad(arg, "unknown argument (see vs32gen --help)");
    }
  }
  if (help || version) return o;

  const bool frameMode = o.frameCall || o.frameField;
  if (o.frameCall && o.frameField) Bad("--frame-field", "cannot be combined with --frame");
  if (frameMode) {
    if (haveOutput || !o.stations.empty() || !o.lines.empty() || o.noiseOnly)
      Bad(o.frameCall ? "--frame" : "--frame-field", "prints a frame; it writes no recording");
    return o;
  }
  if (!haveOutput) Bad("-o", "no output file given (or use --frame CALL; see vs32gen --help)");
  if (o.noiseOnly && !o.stations.empty()) Bad("--noise-only", "cannot be combined with --station");
  if (o.noiseOnly && !o.lines.empty()) Bad("--noise-only", "cannot be combined with --line");
  return o;
}

GeneratorConfig BuildConfig(const Options& o) {
  GeneratorConfig cfg;
  cfg.rateHz = o.rateHz;
  cfg.channels = o.channels;
  cfg.seed = o.seed;
  cfg.driftHzPerHour = o.driftHzPerHour;

  double seconds = 0;
  if (o.durationSeconds) {
    seconds = *o.durationSeconds;
  } else if (o.stations.empty()) {
    seconds = vs32gen::kDefaultStartSeconds + vs32gen::kFrameSeconds + vs32gen::kTailSeconds;
  } else {
    double lastEnd = -1e300;
    for (const auto& [text, st] : o.stations)
      lastEnd = std::max(lastEnd, st.startSeconds + vs32gen::kFrameSeconds);
    seconds = lastEnd + vs32gen::kTailSeconds;
    if (seconds <= 0) Bad("--duration", "needed: every frame ends before the recording starts");
  }
  const double frames = std::round(seconds * o.rateHz);
  const double maxFrames = static_cast<double>(vs32::WavWriter::kMaxDataBytes /
                                               (2u * static_cast<unsigned>(o.channels)));
  if (frames < 1) Bad("--duration", "shorter than one sample");
  if (frames > maxFrames)
    Bad("--duration", "too long for a WAV file at this rate (at most " +
                          std::to_string(static_cast<long long>(maxFrames / o.rateHz)) + " s)");
  cfg.frames = static_cast<int64_t>(frames);
  const double endSeconds = static_cast<double>(cfg.frames) / o.rateHz;
  const double nyquist = o.rateHz / 2.0;

  for (const auto& [text, st] : o.stations) {
    const double f0 = vs32gen::StationFrequencyHz(st, o.driftHzPerHour, 0.0);
    const double f1 = vs32gen::StationFrequencyHz(st, o.driftHzPerHour, endSeconds);
    if (st.audioHz <= 0 || st.audioHz >= nyquist)
      Bad(text, "AUDIO_HZ must lie inside (0, " + std::to_string(static_cast<int>(nyquist)) + ")");
    if (std::min(f0, f1) <= 0 || std::max(f0, f1) >= nyquist)
      Bad("--drift", "moves the carrier of " + text + " outside (0, " +
                         std::to_string(static_cast<int>(nyquist)) + ") Hz");
    cfg.stations.push_back(st);
  }
  for (const auto& [text, line] : o.lines) {
    if (line.audioHz <= 0 || line.audioHz >= nyquist)
      Bad(text, "HZ must lie inside (0, " + std::to_string(static_cast<int>(nyquist)) + ")");
    cfg.lines.push_back(line);
  }
  return cfg;
}

void PrintFrame(const std::string& shownField, std::string_view encodedText) {
  char symbols[vs32::kFrameSymbols + 1];
  int scrambled[vs32::kMessageBits];
  vs32::EncodeFrame(encodedText, symbols, scrambled);
  std::string bits(vs32::kMessageBits, '0');
  for (int i = 0; i < vs32::kMessageBits; ++i) bits[i] = scrambled[i] ? '1' : '0';
  std::printf("field \"%s\"\nsymbols %.*s\nscrambled %s\n", shownField.c_str(), vs32::kFrameSymbols,
              symbols, bits.c_str());
}

int WriteRecording(const Options& o, const GeneratorConfig& cfg) {
  vs32gen::SignalGenerator gen(cfg);
  vs32::WavWriter wav;
  if (!wav.open(o.output, cfg.rateHz, static_cast<uint16_t>(cfg.channels))) {
    std::fprintf(stderr, "vs32gen: %s\n", wav.error().c_str());
    return 1;
  }
  int16_t block[vs32gen::kBlockFrames * 2];
  bool ok = true;
  for (;;) {
    const size_t n = gen.render(block, vs32gen::kBlockFrames);
    if (n == 0) break;
    if (!wav.write(block, n)) {
      ok = false;
      break;
    }
  }
  std::string reason = wav.error();
  ok = wav.close() && ok;
  if (!ok) {
    if (reason.empty()) reason = wav.error();
    std::fprintf(stderr, "vs32gen: %s\n", reason.c_str());
    std::error_code ec;
    std::filesystem::remove(o.output, ec);  // never leave a half-written recording behind
    return 1;
  }

  const double seconds = static_cast<double>(cfg.frames) / cfg.rateHz;
  std::printf("wrote %s: %.3f s, %u sps, %s, 16 bit, noise sigma %.1f\n", o.output.c_str(), seconds,
              cfg.rateHz, cfg.channels == 2 ? "stereo (signal in the second channel)" : "mono",
              gen.noiseSigma());
  for (const auto& st : cfg.stations) {
    std::printf("station \"%s\" %.3f Hz %.1f dB frame %.3f to %.3f s\n", st.field.c_str(),
                st.audioHz, st.snrDb, st.startSeconds, st.startSeconds + vs32gen::kFrameSeconds);
  }
  for (const auto& line : cfg.lines)
    std::printf("line %.3f Hz %.1f dB\n", line.audioHz, line.snrDb);
  if (gen.clippedSamples() > 0) {
    std::fprintf(stderr, "vs32gen: %llu of %lld samples clipped\n",
                 static_cast<unsigned long long>(gen.clippedSamples()),
                 static_cast<long long>(cfg.frames * cfg.channels));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool help = false, version = false;
  Options o;
  GeneratorConfig cfg;
  try {
    if (argc < 2) {
      std::fputs(kUsage, stderr);
      std::fputs("Try vs32gen --help for details.\n", stderr);
      return 2;
    }
    o = Parse(argc, argv, help, version);
    if (help) {
      std::printf(kHelp, kUsage);
      return 0;
    }
    if (version) {
      std::printf("vs32gen %s\n", vs32::Version());
      return 0;
    }
    if (o.frameCall) {
      const std::string field = vs32::CallsignFieldForm(*o.frameCall);
      PrintFrame(field, field);
      return 0;
    }
    if (o.frameField) {
      PrintFrame(*o.frameField, *o.frameField);
      return 0;
    }
    cfg = BuildConfig(o);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "vs32gen: %s\n", e.message.c_str());
    return 2;
  }
  return WriteRecording(o, cfg);
}
