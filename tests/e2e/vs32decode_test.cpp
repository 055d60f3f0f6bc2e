// End to end: recordings made by our generator, decoded by the batch decoder.
// Each case decodes a full-length (35-minute) recording, so there are few.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32::test {
namespace {

struct Row {
  std::string file, utc, offset, start, call, freq, qrb, ebno, snr, attempts, status, mark, partial;
};

constexpr const char* kTsvHeader =
    "file\tutc\toffset_s\tstart_s\tcall\tfreq_hz\tqrb_km\tebno_db\tsnr_db\tattempts\tstatus\tmark";

// `partialColumn` false: the layout of --no-partial-flag (that of earlier versions).
std::vector<Row> ParseTsv(const std::string& out, bool partialColumn = true) {
  std::vector<Row> rows;
  std::istringstream in(out);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (header) {
      EXPECT_EQ(line, std::string(kTsvHeader) + (partialColumn ? "\tpartial" : ""));
      header = false;
      continue;
    }
    std::vector<std::string> f;
    std::string cell;
    std::istringstream cells(line);
    while (std::getline(cells, cell, '\t')) f.push_back(cell);
    EXPECT_LE(f.size(), partialColumn ? 13u : 12u) << line;
    while (f.size() < 13) f.push_back("");
    rows.push_back(
        {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12]});
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
  CommandResult r =
      Decode({"--lists", dir.path().string(), "--format", "tsv", "--no-partial-flag", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Row> rows = ParseTsv(r.out, false);
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
    EXPECT_EQ(row.partial, "0") << "the frame began 30 s into the recording";
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

// One recording with a frame that began 30 s before it (Q1ABC) and one that
// began 40 s into it (QA2XY). Every call is new here, so the formats are
// decoded with --all, each once.
class PartialFrame : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    char partial[64], whole[64];
    std::snprintf(partial, sizeof partial, "Q1ABC:%.4f:-20:-30", ChannelAudioHz(400));
    std::snprintf(whole, sizeof whole, "QA2XY:%.4f:-20:40", ChannelAudioHz(800));
    Generate({"-o", Wav(), "--station", partial, "--station", whole, "--seed", "3"});
  }
  static void TearDownTestSuite() {
    outputs_.clear();
    dir_.reset();
  }
  static std::string Wav() { return (*dir_ / "partial.wav").string(); }

  static const CommandResult& Output(const std::vector<std::string>& args) {
    CommandResult& r = outputs_[args];
    if (r.status < 0) {
      std::vector<std::string> all = args;
      all.push_back(Wav());
      r = Decode(all);
    }
    return r;
  }

  // (call, partial flag 1/0) of every decode printed with --all in `format`, read
  // as a user's script would; json objects also give their keys.
  static std::vector<std::pair<std::string, std::string>> Flags(const std::string& format,
                                                                std::string* jsonKeys = nullptr) {
    const CommandResult& r = Output({"--all", "--format", format});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::pair<std::string, std::string>> flags;
    if (format == "tsv") {
      for (const Row& row : ParseTsv(r.out)) flags.emplace_back(row.call, row.partial);
      return flags;
    }
    std::string text = r.out;
    if (format == "json" || format == "jsonl") {
      WriteFile(*dir_ / "out.json", r.out);
      // json must be one document (an array); jsonl one document per line.
      const CommandResult py = RunPython(
          "import json, sys\n"
          "text = open(sys.argv[1]).read()\n"
          "rows = json.loads(text) if sys.argv[2] == 'json' else [json.loads(l) for l in "
          "text.splitlines()]\n"
          "assert isinstance(rows, list)\n"
          "for r in rows: print(r['call'], 'partial' if r['partial'] else '-', ','.join(r))\n",
          {(*dir_ / "out.json").string(), format});
      EXPECT_EQ(py.status, 0) << py.err << r.out;
      text = py.out;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string word; words >> word;) w.push_back(word);
      if (format == "text") {
        // file, time ("-": no time in the name), offset, call, ...; last: the flag
        EXPECT_GE(w.size(), 12u) << line;
        if (w.size() < 12) continue;
        flags.emplace_back(w[3], w.back() == "partial" ? "1" : "0");
      } else {
        EXPECT_EQ(w.size(), 3u) << line;
        if (w.size() < 3) continue;
        flags.emplace_back(w[0], w[1] == "partial" ? "1" : "0");
        if (jsonKeys) *jsonKeys = w[2];
      }
    }
    return flags;
  }

  static inline std::unique_ptr<TempDir> dir_;
  static inline std::map<std::vector<std::string>, CommandResult> outputs_;
};

TEST_F(PartialFrame, IsFlaggedAlikeInEveryFormat) {
  std::string keys;
  const auto json = Flags("json", &keys);
  const std::map<std::string, std::string> byCall(json.begin(), json.end());
  ASSERT_EQ(byCall.count("Q1ABC"), 1u) << Output({"--all", "--format", "json"}).out;
  ASSERT_EQ(byCall.count("QA2XY"), 1u);
  EXPECT_EQ(byCall.at("Q1ABC"), "1");
  EXPECT_EQ(byCall.at("QA2XY"), "0");
  for (const std::string format : {"jsonl", "tsv", "text"}) {
    EXPECT_EQ(Flags(format), json) << format;
  }
  // json objects carry the tsv columns, in their order.
  std::string columns = std::string(kTsvHeader) + "\tpartial";
  std::replace(columns.begin(), columns.end(), '\t', ',');
  EXPECT_EQ(keys, columns);
}

TEST_F(PartialFrame, HiddenDecodesAreCountedInOneNote) {
  const size_t all = Flags("text").size();
  const CommandResult& r = Output({});
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t shown = static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n'));
  ASSERT_GT(all, shown) << "nothing hidden: no note to check";
  const std::string note = "vs32decode: note: " + std::to_string(all - shown) +
                           " decodes hidden by the known-calls filter";
  EXPECT_EQ(r.err.substr(0, note.size()), note) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("--all"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--lists"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vs32::test
