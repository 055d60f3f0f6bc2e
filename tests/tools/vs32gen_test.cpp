// The signal generator as its users run it: frames printed, recordings written.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using vs32::test::BuiltProgram;
using vs32::test::CommandResult;
using vs32::test::ReadFile;
using vs32::test::RunCommand;
using vs32::test::TempDir;

constexpr double kSymbolSeconds = 8.192;

CommandResult Gen(std::vector<std::string> args) {
  args.insert(args.begin(), BuiltProgram("vs32gen"));
  return RunCommand(args);
}

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}
uint16_t Le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                               static_cast<unsigned char>(s[at + 1]) << 8);
}

struct Wav {
  uint32_t rate = 0;
  uint16_t channels = 0;
  std::vector<int16_t> samples;  // interleaved
  double at(size_t frame, int channel) const { return samples[frame * channels + channel]; }
  size_t frames() const { return samples.size() / channels; }
};

// Reads the generator's canonical 44-byte-header file, checking every header
// field on the way.
Wav ReadWav(const std::filesystem::path& path) {
  const std::string f = ReadFile(path);
  Wav w;
  EXPECT_GE(f.size(), 44u);
  if (f.size() < 44) return w;
  EXPECT_EQ(f.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(f, 4), f.size() - 8);
  EXPECT_EQ(f.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(Le32(f, 16), 16u);
  EXPECT_EQ(Le16(f, 20), 1u);   // PCM
  EXPECT_EQ(Le16(f, 34), 16u);  // bits
  w.channels = Le16(f, 22);
  w.rate = Le32(f, 24);
  EXPECT_EQ(Le32(f, 28), w.rate * w.channels * 2u);
  EXPECT_EQ(Le16(f, 32), w.channels * 2u);
  EXPECT_EQ(f.substr(36, 4), "data");
  const uint32_t data = Le32(f, 40);
  EXPECT_EQ(data, f.size() - 44);
  w.samples.resize(data / 2);
  for (size_t i = 0; i < w.samples.size(); ++i)
    w.samples[i] = static_cast<int16_t>(Le16(f, 44 + 2 * i));
  return w;
}

// Amplitude of the sinusoid at hz in seconds [from, to) of one channel (a
// single-bin DFT; the noise in it shrinks with the window length).
double AmplitudeAt(const Wav& w, int channel, double hz, double from, double to) {
  const size_t a = static_cast<size_t>(from * w.rate), b = static_cast<size_t>(to * w.rate);
  std::complex<double> acc = 0, rot = std::polar(1.0, -2 * std::numbers::pi * hz / w.rate);
  std::complex<double> ph = 1;
  for (size_t i = a; i < b; ++i) {
    acc += w.at(i, channel) * ph;
    ph *= rot;
  }
  return 2 * std::abs(acc) / static_cast<double>(b - a);
}

double Sigma(const Wav& w, int channel, double from, double to) {
  const size_t a = static_cast<size_t>(from * w.rate), b = static_cast<size_t>(to * w.rate);
  double sum = 0, sum2 = 0;
  for (size_t i = a; i < b; ++i) {
    sum += w.at(i, channel);
    sum2 += w.at(i, channel) * w.at(i, channel);
  }
  const double n = static_cast<double>(b - a), mean = sum / n;
  return std::sqrt(sum2 / n - mean * mean);
}

// The carrier's SNR in 2500 Hz measured from an on-segment and the noise sigma.
double SnrDb(double amplitude, double sigma, uint32_t rate) {
  return 10 * std::log10(amplitude * amplitude / 2 / (sigma * sigma * 2500 / (rate / 2.0)));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
    out.push_back(text.substr(from, at - from));
  return out;
}

// ---------------------------------------------------------------------------
// Frames

TEST(Vs32genFrame, WorkedExampleQ1ABC) {
  const auto r = Gen({"--frame", "Q1ABC"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "field \" Q1ABC\"\n"
            "symbols "
            "110110101001100101100110101001011001011001010101010110100101011001101010100101100110"
            "101001010101011010010110100110010110101010011001100110101010010101100110011001101001"
            "01011010011001101001101001100101010110011001101010011010010110011010010\n"
            "scrambled 111000010110011110111011000001010110010101011100001\n");
  EXPECT_EQ(r.err, "");
}

TEST(Vs32genFrame, CallIsPutIntoFieldFormFirst) {
  const auto g4 = Gen({"--frame", "G4ABC"});
  ASSERT_EQ(g4.status, 0);
  const auto lines = Lines(g4.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "field \" G4ABC\"");
  ASSERT_EQ(lines[1].size(), 8u + 239u);
  EXPECT_EQ(lines[1].substr(0, 10), "symbols 11");
  EXPECT_EQ(lines[1].find_first_not_of("01", 8), std::string::npos);
  ASSERT_EQ(lines[2].size(), 10u + 51u);
  EXPECT_EQ(lines[2].find_first_not_of("01", 10), std::string::npos);
  // Lower case and surrounding blanks end in the same field.
  EXPECT_EQ(Gen({"--frame", "  g4abc "}).out, g4.out);
  // The same field given literally is the same frame.
  const auto literal = Gen({"--frame-field", " G4ABC"});
  EXPECT_EQ(literal.out, g4.out);
}

TEST(Vs32genFrame, LiteralFieldIsNotAligned) {
  const auto literal = Gen({"--frame-field", "K1AB"});
  ASSERT_EQ(literal.status, 0) << literal.err;
  const auto lines = Lines(literal.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "field \"K1AB\"");  // the zero-byte padding is not shown
  const auto aligned = Lines(Gen({"--frame", "K1AB"}).out);
  ASSERT_EQ(aligned.size(), 3u);
  EXPECT_EQ(aligned[0], "field \" K1AB \"");
  EXPECT_NE(lines[1], aligned[1]);
  EXPECT_NE(lines[2], aligned[2]);
}

// ---------------------------------------------------------------------------
// Command line

TEST(Vs32genArguments, BadArgumentsExitTwoWithOneLineNamingThem) {
  struct Case {
    std::vector<std::string> args;
    std::string named;
  };
  const std::vector<Case> cases = {
      {{"--bogus"}, "--bogus"},
      {{"-o", "x.wav", "--rate", "44100"}, "--rate"},
      {{"-o", "x.wav", "--channels", "3"}, "--channels"},
      {{"-o", "x.wav", "--duration", "-5"}, "--duration"},
      {{"-o", "x.wav", "--duration", "ten"}, "--duration"},
      {{"-o", "x.wav", "--duration", "nan"}, "--duration"},
      {{"-o", "x.wav", "--seed", "-1"}, "--seed"},
      {{"-o", "x.wav", "--drift", "1e3x"}, "--drift"},
      {{"-o", "x.wav", "--station", "Q1ABC:abc:-20"}, "--station Q1ABC:abc:-20"},
      {{"-o", "x.wav", "--station", "Q1ABC:1500"}, "--station Q1ABC:1500"},
      {{"-o", "x.wav", "--station", "Q1ABC:1500:-20:40:9"}, "--station Q1ABC:1500:-20:40:9"},
      {{"-o", "x.wav", "--station", "Q1ABC:6000:-20"}, "--station Q1ABC:6000:-20"},
      {{"-o", "x.wav", "--station", "Q1ABC:0:-20"}, "--station Q1ABC:0:-20"},
      {{"-o", "x.wav", "--station", "QA1ABCD:1500:-20"}, "--station QA1ABCD:1500:-20"},
      {{"-o", "x.wav", "--station", "Q/1AB:1500:-20"}, "--station Q/1AB:1500:-20"},
      {{"-o", "x.wav", "--station", ":1500:-20"}, "--station :1500:-20"},
      {{"-o", "x.wav", "--station", "Q1ABC:1500:500"}, "--station Q1ABC:1500:500"},
      {{"-o", "x.wav", "--station", "Q1ABC:1500:-20", "--drift", "50000"}, "--drift"},
      {{"-o", "x.wav", "--line", "1500"}, "--line 1500"},
      {{"-o", "x.wav", "--noise-only", "--station", "Q1ABC:1500:-20"}, "--noise-only"},
      {{"-o", "x.wav", "--duration", "1e9"}, "--duration"},
      {{"--station", "Q1ABC:1500:-20"}, "-o"},
      {{"-o"}, "-o"},
      {{"--frame"}, "--frame"},
      {{"--frame", "  "}, "--frame"},
      {{"--frame-field", "ABCDEFG"}, "--frame-field"},
      {{"--frame", "Q1ABC", "-o", "x.wav"}, "--frame"},
      {{"--help=yes"}, "--help"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    std::vector<std::string> argv = {BuiltProgram("vs32gen")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = RunCommand(argv, dir.path().string());
    SCOPED_TRACE(c.named);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.named + ":"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
}

TEST(Vs32genArguments, HelpDocumentsEveryOption) {
  const auto r = Gen({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* word :
       {"--frame", "--frame-field", "-o", "--station", "--line", "--noise-only", "--duration",
        "--rate", "--channels", "--seed", "--drift", "2500 Hz", "second channel", "START_S"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(Gen({}).status, 2);  // no arguments: usage on stderr
}

TEST(Vs32genArguments, UnwritableOutputFailsWithoutLeavingAFile) {
  TempDir dir;
  const auto path = (dir / "missing" / "out.wav").string();
  const auto r = Gen({"-o", path, "--station", "Q1ABC:1500:0", "--duration", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(path));
}

// ---------------------------------------------------------------------------
// Recordings

TEST(Vs32genRecording, HeaderAndLengthFollowRateChannelsAndDuration) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    uint32_t rate;
    uint16_t channels;
    size_t frames;
  };
  const std::vector<Case> cases = {
      {{"--duration", "50.5"}, 12000, 1, 606000},
      {{"--duration", "10", "--rate", "48000", "--channels", "2"}, 48000, 2, 480000},
      {{"--duration=3", "--rate=48000"}, 48000, 1, 144000},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-o", (dir / "h.wav").string(), "--station", "Q1ABC:1500:-20"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = Gen(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Wav w = ReadWav(dir / "h.wav");
    EXPECT_EQ(w.rate, c.rate);
    EXPECT_EQ(w.channels, c.channels);
    EXPECT_EQ(w.frames(), c.frames);
    EXPECT_EQ(std::filesystem::file_size(dir / "h.wav"), 44 + c.frames * c.channels * 2);
  }
}

TEST(Vs32genRecording, ThirtyFiveMinuteFileKeysItsFrameAtTheRightTimesAndLevel) {
  // START_S 82.112 makes the default length (frame end + 60 s) exactly 2100 s.
  TempDir dir;
  const double start = 82.112;
  const auto r =
      Gen({"-o", (dir / "long.wav").string(), "--station", "Q1ABC:1500:0:82.112", "--seed", "7"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // nothing clipped
  const Wav w = ReadWav(dir / "long.wav");
  ASSERT_EQ(w.rate, 12000u);
  ASSERT_EQ(w.frames(), 2100u * 12000u);

  const auto frame = Lines(Gen({"--frame", "Q1ABC"}).out);
  ASSERT_EQ(frame.size(), 3u);
  const std::string symbols = frame[1].substr(8);
  ASSERT_EQ(symbols.size(), 239u);

  // Narrow-band amplitude inside every symbol (edges left out) follows the frame.
  const double sigma = Sigma(w, 0, 1, start - 1);
  double onSum = 0;
  int onCount = 0;
  for (int s = 0; s < 239; ++s) {
    const double a = start + s * kSymbolSeconds;
    const double amp = AmplitudeAt(w, 0, 1500, a + 0.1, a + kSymbolSeconds - 0.1);
    if (symbols[s] == '1') {
      EXPECT_GT(amp, 0.5 * sigma) << "symbol " << s;
      onSum += amp;
      ++onCount;
    } else {
      EXPECT_LT(amp, 0.05 * sigma) << "symbol " << s;
    }
  }
  // 0 dB in 2500 Hz.
  EXPECT_NEAR(SnrDb(onSum / onCount, sigma, w.rate), 0.0, 0.3);
  // Silent before the frame and after it.
  EXPECT_LT(AmplitudeAt(w, 0, 1500, 1, start - 0.1), 0.02 * sigma);
  EXPECT_LT(AmplitudeAt(w, 0, 1500, start + 239 * kSymbolSeconds + 0.1, 2099), 0.02 * sigma);
  // Every off-to-on keying edge is centred on its symbol boundary (50 ms wide):
  // 60 ms windows just before and after it, averaged over all such edges.
  double before = 0, after = 0;
  int edges = 0;
  for (int s = 0; s < 239; ++s) {
    if (symbols[s] != '1' || (s > 0 && symbols[s - 1] == '1')) continue;
    const double b = start + s * kSymbolSeconds;
    before += AmplitudeAt(w, 0, 1500, b - 0.09, b - 0.03);
    after += AmplitudeAt(w, 0, 1500, b + 0.03, b + 0.09);
    ++edges;
  }
  ASSERT_GT(edges, 30);
  EXPECT_LT(before / edges, 0.15 * sigma);
  EXPECT_GT(after / edges, 0.8 * sigma);
}

TEST(Vs32genRecording, StereoCarriesTheSignalOnlyInTheSecondChannel) {
  TempDir dir;
  const auto r = Gen({"-o", (dir / "st.wav").string(), "--station", "Q1ABC:6000:0:1", "--rate",
                      "48000", "--channels", "2", "--duration", "20"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Wav w = ReadWav(dir / "st.wav");
  ASSERT_EQ(w.channels, 2);
  const double sigma0 = Sigma(w, 0, 0, 20), sigma1 = Sigma(w, 1, 0, 0.9);
  EXPECT_NEAR(sigma0 / sigma1, 1.0, 0.05);  // same noise level in both
  // Symbols 0 and 1 are on: 1 … 17.384 s.
  const double on1 = AmplitudeAt(w, 1, 6000, 1.1, 17.2);
  EXPECT_NEAR(SnrDb(on1, sigma1, 48000), 0.0, 0.3);
  EXPECT_LT(AmplitudeAt(w, 0, 6000, 1.1, 17.2), 0.02 * sigma0);
  // The two noises are independent.
  double cross = 0;
  for (size_t i = 0; i < 48000; ++i) cross += w.at(i, 0) * w.at(i, 1);
  EXPECT_LT(std::fabs(cross / 48000 / (sigma0 * sigma1)), 0.02);
}

TEST(Vs32genRecording, LinesAreSteadyAndStationsOverlapAtTheirOwnLevels) {
  TempDir dir;
  const auto r = Gen({"-o", (dir / "mix.wav").string(), "--station", "Q1ABC:1500:-3:2", "--station",
                      "G4ABC:1520:6:2", "--line", "1000:3", "--duration", "40"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("station \" Q1ABC\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("station \" G4ABC\""), std::string::npos) << r.out;
  const Wav w = ReadWav(dir / "mix.wav");
  // Before the frames only the line and the noise.
  const double line = AmplitudeAt(w, 0, 1000, 0.0, 1.9);
  const double total = Sigma(w, 0, 0.0, 1.9);
  const double sigma = std::sqrt(total * total - line * line / 2);
  EXPECT_NEAR(SnrDb(line, sigma, 12000), 3.0, 0.3);
  EXPECT_NEAR(SnrDb(AmplitudeAt(w, 0, 1000, 20, 39), sigma, 12000), 3.0, 0.3);
  // Both frames start with "11": each at its own level.
  EXPECT_NEAR(SnrDb(AmplitudeAt(w, 0, 1500, 2.1, 18.2), sigma, 12000), -3.0, 0.3);
  EXPECT_NEAR(SnrDb(AmplitudeAt(w, 0, 1520, 2.1, 18.2), sigma, 12000), 6.0, 0.3);
}

TEST(Vs32genRecording, DriftMovesTheCarrierAroundTheFrameMiddle) {
  // 360 Hz per hour = 0.1 Hz/s; the frame starts at 0, its middle is at 978.944 s,
  // so in symbol 0 (around 4.1 s) the carrier is near 1500 - 97.49 Hz.
  TempDir dir;
  const auto r = Gen({"-o", (dir / "d.wav").string(), "--station", "Q1ABC:1500:10:0", "--drift",
                      "360", "--duration", "9"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Wav w = ReadWav(dir / "d.wav");
  const double expected = 1500 + 0.1 * (4.096 - 978.944);
  double bestHz = 0, best = 0;
  for (double hz = expected - 5; hz <= expected + 5; hz += 0.05) {
    const double a = AmplitudeAt(w, 0, hz, 0.05, 8.14);
    if (a > best) best = a, bestHz = hz;
  }
  EXPECT_NEAR(bestHz, expected, 0.2);
  EXPECT_LT(AmplitudeAt(w, 0, 1500, 0.05, 8.14), 0.05 * best);
}

TEST(Vs32genRecording, NoiseOnlyAndSeedsAreReproducible) {
  TempDir dir;
  const auto a = Gen({"-o", (dir / "a.wav").string(), "--noise-only", "--duration", "5"});
  const auto b = Gen({"-o", (dir / "b.wav").string(), "--noise-only", "--duration", "5"});
  const auto c =
      Gen({"-o", (dir / "c.wav").string(), "--noise-only", "--duration", "5", "--seed", "2"});
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  ASSERT_EQ(c.status, 0);
  EXPECT_EQ(ReadFile(dir / "a.wav"), ReadFile(dir / "b.wav"));
  EXPECT_NE(ReadFile(dir / "a.wav"), ReadFile(dir / "c.wav"));
  const Wav w = ReadWav(dir / "a.wav");
  // Noise alone fills the range with six sigma of headroom and no tone.
  EXPECT_NEAR(Sigma(w, 0, 0, 5), 32000.0 / 6, 100);
  EXPECT_LT(AmplitudeAt(w, 0, 1500, 0, 5), 0.02 * 32000.0 / 6);
  // No station at all is the same as --noise-only.
  const auto d = Gen({"-o", (dir / "d.wav").string(), "--duration", "5"});
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(ReadFile(dir / "a.wav"), ReadFile(dir / "d.wav"));
}

}  // namespace
