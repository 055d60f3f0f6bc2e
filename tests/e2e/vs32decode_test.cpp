// End to end: recordings made by our generator, decoded by the batch decoder.
// Each case decodes a full-length (35-minute) recording, so there are few.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32::test {
namespace {

struct Row {
  std::string file, utc, offset, start, call, freq, qrb, ebno, snr, attempts, status, mark;
};

std::vector<Row> ParseTsv(const std::string& out) {
  std::vector<Row> rows;
  std::istringstream in(out);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (header) {
      EXPECT_EQ(line,
                "file\tutc\toffset_s\tstart_s\tcall\tfreq_hz\tqrb_km\tebno_db\tsnr_db\tattempts\t"
                "status\tmark");
      header = false;
      continue;
    }
    std::vector<std::string> f;
    std::string cell;
    std::istringstream cells(line);
    while (std::getline(cells, cell, '\t')) f.push_back(cell);
    while (f.size() < 12) f.push_back("");
    rows.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11]});
  }
  return rows;
}

void Generate(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BuiltProgram("vs32gen")};
  argv.insert(argv.end(), args.begin(), args.end());
  CommandResult r = RunCommand(argv);
  ASSERT_EQ(r.status, 0) << r.err;
}

CommandResult Decode(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BuiltProgram("vs32decode")};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

// Channel c of the default band sits at 137450 + c × 100/1230 Hz; audio 1450 + the same.
double ChannelAudioHz(int c, double bandStartHz = 1450) {
  return bandStartHz + c * 100.0 / 1230;
}

TEST(BatchDecodeE2E, TwoStationsOneWeakDecodeAtTheirFrequencies) {
  TempDir dir;
  const std::string wav = (dir / "261208_1200.wav").string();
  char strong[64], weak[64];
  std::snprintf(strong, sizeof strong, "Q1ABC:%.4f:-20:40", ChannelAudioHz(400));
  std::snprintf(weak, sizeof weak, "QA2XY:%.4f:-28:60", ChannelAudioHz(800));
  Generate(
      {"-o", wav, "--station", strong, "--station", weak, "--seed", "7", "--line", "1530:-10"});
  // Both calls listed, so the known-calls filter shows them and hides noise decodes.
  WriteFile(dir / "callsloc.txt", "Q1ABC JO65HO\nQA2XY IO91WM\n");
  CommandResult r = Decode({"--lists", dir.path().string(), "--format", "tsv", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Row> rows = ParseTsv(r.out);
  bool sawStrong = false, sawWeak = false;
  for (const Row& row : rows) {
    EXPECT_EQ(row.file, wav);
    if (row.call == "Q1ABC") {
      sawStrong = true;
      EXPECT_NEAR(std::stod(row.freq), 136000 + ChannelAudioHz(400), 0.1);
      EXPECT_EQ(row.utc.substr(0, 11), "2026-12-08 ");
      // The frame began 40 s in; the start column ignores filter delays (a few seconds).
      EXPECT_NEAR(std::stod(row.start), 40, 30);
      EXPECT_EQ(row.mark, "");
      EXPECT_EQ(row.qrb, "") << "no MYQTH: no distance";
    } else if (row.call == "QA2XY") {
      sawWeak = true;
      EXPECT_NEAR(std::stod(row.freq), 136000 + ChannelAudioHz(800), 0.1);
    } else {
      ADD_FAILURE() << "unexpected decode: " << row.call << " at " << row.freq;
    }
  }
  EXPECT_TRUE(sawStrong) << r.out;
  EXPECT_TRUE(sawWeak) << r.out;
}

// A station at -35 dB whose frame Ultra Deep misses in this noise; the
// best-first list of 157 messages finds it.
TEST(BatchDecodeE2E, ListDecoderFindsAFrameUltraDeepMisses) {
  TempDir dir;
  const std::string wav = (dir / "weak.wav").string();
  Generate({"-o", wav, "--seed", "3505", "--station", "K4QH:1463.2754:-35:283.1"});
  auto decoded = [&](const std::vector<std::string>& depth) {
    std::vector<std::string> args = {"--all", "--format", "tsv", "--jobs", "1"};
    args.insert(args.end(), depth.begin(), depth.end());
    args.push_back(wav);
    CommandResult r = Decode(args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const Row& row : ParseTsv(r.out)) {
      if (row.call == "K4QH") return row;
    }
    return Row{};
  };
  EXPECT_EQ(decoded({"--depth", "2"}).call, "");
  const Row row = decoded({"--depth", "3", "--list", "157"});
  ASSERT_EQ(row.call, "K4QH");
  EXPECT_NEAR(std::stod(row.freq), 136000 + 1463.2754, 0.1);
  EXPECT_EQ(row.status, "2");
  EXPECT_GT(std::stoi(row.attempts), 1);  // not the best codewords themselves
  EXPECT_LE(std::stoi(row.attempts), 157);
}

TEST(BatchDecodeE2E, NoiseAloneShowsNothingWithTheKnownCallsFilter) {
  TempDir dir;
  const std::string wav = (dir / "noise.wav").string();
  Generate({"-o", wav, "--seed", "11", "--line", "1480:-5"});
  CommandResult r = Decode({wav});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// The window must be half full before the check bits decode, yet a recording
// that begins 300 s into a frame still decodes it, and only it, even with
// every decode shown.
TEST(BatchDecodeE2E, RecordingThatBeginsInsideAFrameDecodesAfterTheWarmUp) {
  TempDir dir;
  const std::string wav = (dir / "late.wav").string();
  char station[64];
  std::snprintf(station, sizeof station, "Q1ABC:%.4f:-20:-300", ChannelAudioHz(500));
  Generate({"-o", wav, "--station", station, "--seed", "3"});
  CommandResult r = Decode({"--all", "--format", "tsv", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Row> rows = ParseTsv(r.out);
  ASSERT_EQ(rows.size(), 1u) << r.out;
  EXPECT_EQ(rows[0].call, "Q1ABC");
  EXPECT_NEAR(std::stod(rows[0].start), -300, 30);
}

TEST(BatchDecodeE2E, WidePathStereoAtCentre6000) {
  TempDir dir;
  const std::string wav = (dir / "wide.wav").string();
  char station[64];
  std::snprintf(station, sizeof station, "G4ABC:%.4f:-15:30", ChannelAudioHz(700, 5950));
  Generate({"-o", wav, "--station", station, "--rate", "48000", "--channels", "2", "--seed", "5"});
  // --all: the call is new to this run, so the known-calls filter would hide it;
  // noise decodes may show too, but the station must be there at its frequency.
  CommandResult r = Decode({"--all", "--center", "6000", "--format", "tsv", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  int found = 0;
  for (const Row& row : ParseTsv(r.out)) {
    if (row.call != "G4ABC") continue;
    ++found;
    EXPECT_NEAR(std::stod(row.freq), 136000 + ChannelAudioHz(700, 5950), 0.1);
    EXPECT_EQ(row.mark, "-");
  }
  EXPECT_EQ(found, 1) << r.out;
}

TEST(BatchDecodeE2E, BadFilesAreReportedAndTheOthersStillDecoded) {
  TempDir dir;
  const std::string wide = (dir / "wide.wav").string();
  Generate({"-o", wide, "--noise-only", "--rate", "48000", "--duration", "5"});
  WriteFile(dir / "junk.wav", "not a recording");
  const std::string good = (dir / "short.wav").string();
  Generate({"-o", good, "--noise-only", "--duration", "20"});
  CommandResult r =
      Decode({"--format", "tsv", "--timing", wide, (dir / "junk.wav").string(), good});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(wide + ": WAV-file must be 12000 sps, 16 bit!"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("junk.wav: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(good + ": 20.0 s audio"), std::string::npos) << r.err;

  EXPECT_EQ(Decode({"--depth", "4", good}).status, 2);
  EXPECT_EQ(Decode({"--depth", "3", "--list", "157", good}).status, 0);
  for (const char* bad : {"0", "65537", "lots"}) {
    const CommandResult list = Decode({"--depth", "3", "--list", bad, good});
    EXPECT_EQ(list.status, 2) << bad;
    EXPECT_NE(list.err.find("--list: must be a number from 1 to 65536"), std::string::npos)
        << list.err;
  }
  EXPECT_EQ(Decode({"--bogus", good}).status, 2);
  EXPECT_EQ(Decode({}).status, 2);
}

}  // namespace
}  // namespace vs32::test
