// Golden figures of the receive chain and decoder. A fixed generated recording
// (two stations, noise, an interference line) is run through the chain with the
// default settings and with Ultra Deep and a full known-call table; the decodes,
// every change of the decode slots and hashes of the final histories and spectrum
// were recorded from the plain, unoptimised chain. Faster code must reproduce
// them bit for bit. Shorter runs pin the other front-end paths the same way.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/wav_file.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "engine/receive_chain.h"
#include "receiver/receiver.h"
#include "report/results.h"
#include "support/test_support.h"

namespace vs32::test {
namespace {

constexpr int kTimeBase = 1000000;  // as the batch decoder: slot time 0 means free

uint64_t Fnv1a(uint64_t hash, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    hash ^= p[i];
    hash *= 0x100000001b3ull;
  }
  return hash;
}
constexpr uint64_t kFnvBasis = 0xcbf29ce484222325ull;

struct ChainFigures {
  std::string decodes;    // one line per reported decode (all, hidden ones too)
  std::string slotTrace;  // one line per slot change seen after a block
  int slotChanges = 0;
  uint64_t slotTraceHash = 0;
  uint64_t powerHash = 0;     // entries 0 … 960 of every channel's powerHistory
  uint64_t signHash = 0;      // entries 0 … 960 of every channel's signHistory
  uint64_t spectrumHash = 0;  // the 1230 doubles of the last spectrum
  int decoderCalls = 0;
  long blocks = 0;
};

class CollectDecodes : public ResultsOutput {
 public:
  explicit CollectDecodes(std::string* out) : out_(out) {}
  void Decode(const DecodeReport& r) override {
    char line[160];
    std::snprintf(line, sizeof line, "%d %s ch%d %.9g %.17g %d %d '%c' %d\n",
                  r.slotTime - kTimeBase, r.call, r.channel, r.ebNoDb, r.snrDb, r.attempts,
                  r.result, r.mark, r.hidden ? 1 : 0);
    *out_ += line;
  }

 private:
  std::string* out_;
};

std::string SlotLine(int index, const DecodeSlot& s) {
  char line[160];
  std::snprintf(line, sizeof line, "slot %d: %s ch%d t%d %.9g %.9g %.9g %d %d\n", index, s.call,
                s.channel, s.time - kTimeBase, s.ebno, s.channel_snr, s.snr, s.attempts, s.result);
  return line;
}

bool SameSlot(const DecodeSlot& a, const DecodeSlot& b) {
  return std::strcmp(a.call, b.call) == 0 && a.ebno == b.ebno && a.channel_snr == b.channel_snr &&
         a.snr == b.snr && a.channel == b.channel && a.time == b.time && a.attempts == b.attempts &&
         a.result == b.result;
}

// Runs `wavPath` through a fresh receiver's batch path, as the batch decoder
// does (no files written), at most `maxBlocks` blocks.
ChainFigures RunChain(const std::string& wavPath, ReceiverSettings settings,
                      const std::string& listDir, long maxBlocks = 1L << 30) {
  ChainFigures f;
  ComputeDerived(settings);
  WavFile wav;
  if (!wav.open(wavPath, "r")) {
    ADD_FAILURE() << wavPath << ": " << wav.error();
    return f;
  }
  CollectDecodes output(&f.decodes);
  ResultsOptions options;
  options.writeFiles = false;
  options.folder = listDir;
  Receiver receiver(Program::kConsole, settings, output, nullptr, options);
  if (!listDir.empty()) receiver.LoadLists(listDir);
  const DecodeSlotTable& slots = receiver.decodeSlots();
  const ReceiveChain* chain = &receiver.chain();

  std::vector<DecodeSlot> seen(DecodeSlotTable::kSlots);
  f.slotTraceHash = kFnvBasis;
  f.blocks = receiver.DecodeRecording(
      wav, kTimeBase,
      [&](long) {
        for (int i = 0; i < DecodeSlotTable::kSlots; ++i) {
          const DecodeSlot s = slots.Peek(i);
          if (s.used && !SameSlot(s, seen[i])) {
            const std::string line = SlotLine(i, s);
            f.slotTrace += line;
            f.slotTraceHash = Fnv1a(f.slotTraceHash, line.data(), line.size());
            ++f.slotChanges;
          }
          seen[i] = s;
        }
      },
      maxBlocks);

  f.powerHash = kFnvBasis;
  f.signHash = kFnvBasis;
  for (int c = 0; c < kChannels; ++c) {
    f.powerHash = Fnv1a(f.powerHash, chain->powerHistory(c), (kNewestEntry + 1) * sizeof(float));
    f.signHash = Fnv1a(f.signHash, chain->signHistory(c), kNewestEntry + 1);
  }
  f.spectrumHash = Fnv1a(kFnvBasis, chain->spectrum().data(), sizeof(double) * kChannels);
  f.decoderCalls = chain->decoderCalls();
  return f;
}

void Generate(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BuiltProgram("vs32gen")};
  argv.insert(argv.end(), args.begin(), args.end());
  const CommandResult r = RunCommand(argv);
  ASSERT_EQ(r.status, 0) << r.err;
}

// 996 made-up stations with locators after the two on the air: a full table
// (998 entries with positions) for the correlation stages.
std::string FullCallList() {
  const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const char* fields = "ABCDEFGHIJKLMNOPQR";
  const char* subs = "abcdefghijklmnopqrstuvwx";
  std::string text = "Q1ABC JO65HO\nQA2XY IO91WM\n";
  for (int i = 0; i < 996; ++i) {
    const char call[7] = {letters[i % 26],
                          letters[(i / 26) % 26],
                          static_cast<char>('0' + i % 10),
                          letters[(i * 7) % 26],
                          letters[(i * 11 + 3) % 26],
                          letters[(i * 13 + 5) % 26],
                          '\0'};
    const char locator[7] = {fields[i % 18],
                             fields[(i * 5) % 18],
                             static_cast<char>('0' + i % 10),
                             static_cast<char>('0' + (i / 10) % 10),
                             subs[(i * 3) % 24],
                             subs[(i * 17) % 24],
                             '\0'};
    text += std::string(call) + " " + locator + "\n";
  }
  return text;
}

class GoldenChain : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    Generate({"-o", Recording(), "--seed", "7", "--station", "Q1ABC:1482.5203:-20:40", "--station",
              "QA2XY:1515.0407:-28:60", "--line", "1530:-10"});
    Generate({"-o", WideRecording(), "--rate", "48000", "--duration", "150", "--seed", "3",
              "--station", "G4ABC:5980.0000:-10:-400", "--line", "6010:-5"});
    std::filesystem::create_directory(*dir_ / "pair");
    WriteFile(*dir_ / "pair" / "callsloc.txt", "Q1ABC JO65HO\nQA2XY IO91WM\n");
    std::filesystem::create_directory(*dir_ / "full");
    WriteFile(*dir_ / "full" / "callsloc.txt", FullCallList());
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string Recording() { return (*dir_ / "261208_1200.wav").string(); }
  static std::string WideRecording() { return (*dir_ / "wide.wav").string(); }
  static std::string Lists(const char* name) { return (*dir_ / name).string(); }

  static TempDir* dir_;
};
TempDir* GoldenChain::dir_ = nullptr;

void ExpectFigures(const ChainFigures& f, uint64_t power, uint64_t sign, uint64_t spectrum) {
  EXPECT_EQ(f.powerHash, power) << std::hex << f.powerHash;
  EXPECT_EQ(f.signHash, sign) << std::hex << f.signHash;
  EXPECT_EQ(f.spectrumHash, spectrum) << std::hex << f.spectrumHash;
}

TEST_F(GoldenChain, DefaultSettingsDecodeBothStationsAsRecorded) {
  const ChainFigures f = RunChain(Recording(), DefaultSettings(Program::kConsole), Lists("pair"));
  EXPECT_EQ(f.blocks, 2077);
  // The two stations only: the noise windows that once passed the check bits
  // (three, all hidden as unknown calls) fail the frame check or come before
  // the window is half full.
  EXPECT_EQ(f.decodes,
            "2031 Q1ABC ch400 15.2734556 -29.588262557983398 1 2 ' ' 0\n"
            "2052 QA2XY ch800 10.900959 -37.337011337280273 1 2 ' ' 0\n");
  EXPECT_EQ(f.slotTrace,
            "slot 0: Q1ABC ch400 t2027 11.7669258 11.2513733 -19.5800686 1 2\n"
            "slot 0: Q1ABC ch400 t2029 14.5294762 11.2487764 -19.5826645 1 2\n"
            "slot 0: Q1ABC ch400 t2031 15.2734556 11.2431793 -19.5882626 1 2\n"
            "slot 0: QA2XY ch800 t2048 9.63489056 3.50175261 -27.329689 1 2\n"
            "slot 0: QA2XY ch800 t2050 10.8048992 3.50018764 -27.3312531 1 2\n"
            "slot 0: QA2XY ch800 t2052 10.900959 3.49442959 -27.3370113 1 2\n");
  EXPECT_EQ(f.decoderCalls, 286210);
  ExpectFigures(f, 0xbfa13fd663fd9116, 0xf76fbe14b397085f, 0x125883c15f90c736);
}

TEST_F(GoldenChain, UltraDeepWithFullTableDecodesAsRecorded) {
  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  settings.deepDecoder = true;
  settings.ultraDeepDecoder = true;
  settings.useCorrelator = true;
  // As the plain check bits decide: the long candidate list lets many noise
  // windows pass, from the first ticks on.
  settings.strictFrameCheck = false;
  settings.decodeAfterWarmup = false;
  const ChainFigures f = RunChain(Recording(), settings, Lists("full"));
  EXPECT_EQ(f.decodes,
            "339 M34ANS ch126 6.11394596 -45.829319000244141 97 2 '-' 1\n"
            "409 DM4RGB ch1083 5.27312708 -45.477046966552734 100 2 '-' 1\n"
            "450 CG4E ch594 5.2502923 -46.403621673583984 57 2 '-' 1\n"
            "655 UI1VY ch254 6.16729689 -46.562370300292969 137 2 '-' 1\n"
            "684 2M0IDN ch638 5.29961109 -45.6888427734375 98 2 '-' 1\n"
            "692 WF6AWG ch372 5.36956024 -45.858085632324219 6 2 '-' 1\n"
            "753 U88HVG ch948 2.6305933 -44.428668975830078 72 2 '-' 1\n"
            "776 AD2SBB ch531 5.76359606 -46.201370239257812 141 2 '-' 1\n"
            "786 KT4W ch588 6.19050694 -46.217678070068359 66 2 '-' 1\n"
            "837 AV7W ch562 5.25228548 -46.268844604492188 43 2 '-' 1\n"
            "839 M78GCR ch1027 3.36655235 -44.902496337890625 80 2 '-' 1\n"
            "839 M42MAF ch1030 3.90528154 -44.965770721435547 56 2 '-' 1\n"
            "868 E21XHX ch934 4.64491653 -44.951240539550781 91 2 '-' 1\n"
            "880 Z75LYI ch1170 5.58407974 -46.082607269287109 92 2 '-' 1\n"
            "903 HQ6VM ch294 5.53459024 -46.110748291015625 81 2 '-' 1\n"
            "931 CX0LTX ch254 6.15787601 -46.303295135498047 152 2 '-' 1\n"
            "1001 N27PU ch871 4.84427404 -46.131519317626953 149 2 '-' 1\n"
            "1064 P5WRF ch190 5.86713791 -46.074752807617188 65 2 '-' 1\n"
            "1093 XD5JKS ch848 4.80450916 -46.160003662109375 3 2 '-' 1\n"
            "1112 E6POJ ch895 4.00446224 -45.824718475341797 85 2 '-' 1\n"
            "1120 J04NRQ ch1149 5.66625595 -45.749717712402344 116 2 '-' 1\n"
            "1347 CC1URC ch598 5.42448568 -46.247665405273438 73 2 '-' 1\n"
            "1349 PA1EUH ch1060 4.44329309 -45.561553955078125 74 2 '-' 1\n"
            "1363 CY7VZS ch882 4.36769962 -46.107051849365234 41 2 '-' 1\n"
            "1429 H01RJW ch1203 5.54344893 -45.845081329345703 157 1 '-' 1\n"
            "1648 E05VXH ch142 5.24176884 -46.051761627197266 118 2 '-' 1\n"
            "1687 W02WOQ ch132 4.83044815 -46.101005554199219 95 2 '-' 1\n"
            "1720 OH1T ch1101 4.44027567 -45.493427276611328 95 2 '-' 1\n"
            "1748 KL2OML ch1184 4.97797108 -45.831165313720703 89 2 '-' 1\n"
            "1761 XB9DQA ch1133 4.20176506 -45.787071228027344 142 2 '-' 1\n"
            "1875 X60XSM ch737 4.66237736 -46.270889282226562 10 2 '-' 1\n"
            "1906 8R0TN ch516 4.59655142 -46.47918701171875 98 2 '-' 1\n"
            "1914 S33 ch180 3.94448352 -46.034305572509766 51 2 '-' 1\n"
            "1943 PP7JOT ch150 5.03140402 -46.297649383544922 69 2 '-' 1\n"
            "1949 KX6TPC ch375 4.33386803 -45.926986694335938 57 2 '-' 1\n"
            "1964 3F7VRI ch207 4.15284967 -46.033206939697266 104 2 '-' 1\n"
            "2031 Q1ABC ch400 15.2734556 -29.588262557983398 1 2 ' ' 0\n"
            "2052 QA2XY ch800 10.900959 -37.337011337280273 1 2 ' ' 0\n"
            "2062 PT2OUJ ch694 4.44377851 -46.111808776855469 75 2 '-' 1\n");
  EXPECT_EQ(f.slotChanges, 43) << f.slotTrace;
  EXPECT_EQ(f.slotTraceHash, 13864498742163727158u) << f.slotTrace;
  EXPECT_EQ(f.decoderCalls, 286210);
  ExpectFigures(f, 0xbfa13fd663fd9116, 0xf76fbe14b397085f, 0x125883c15f90c736);

  // With the frame check and the warm-up gate (the defaults).
  settings.strictFrameCheck = true;
  settings.decodeAfterWarmup = true;
  const ChainFigures trusted = RunChain(Recording(), settings, Lists("full"));
  EXPECT_EQ(trusted.decodes,
            "2031 Q1ABC ch400 15.2734556 -29.588262557983398 1 2 ' ' 0\n"
            "2052 QA2XY ch800 10.900959 -37.337011337280273 1 2 ' ' 0\n");
}

// The first 300 s through the other band filters and the coherent detector.
TEST_F(GoldenChain, OtherFrontEndPathsGiveTheRecordedHistories) {
  struct Case {
    const char* name;
    double bandStartHz;
    bool coherent;
    uint64_t power, sign, spectrum;
  };
  const Case cases[] = {
      {"designed band filter (F_CENTER 1520)", 1470, false, 0x1a9aa553c3f297a6, 0x170228568dfe69b7,
       0x51547a3e0610f4e9},
      {"BandFir2000 (F_CENTER 1995)", 1945, false, 0x5278a4160bf35536, 0x39bc27bcc93992a1,
       0xf8543df2d8ce29d7},
      {"coherent detector", 1450, true, 0x407da7b0f5d7a8c9, 0x0a389462d959a995, 0xec1a23cdd2bf09b1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReceiverSettings settings = DefaultSettings(Program::kConsole);
    settings.bandStartHz = c.bandStartHz;
    settings.coherentDetector = c.coherent;
    const ChainFigures f = RunChain(Recording(), settings, "", 300);
    EXPECT_EQ(f.blocks, 300);
    ExpectFigures(f, c.power, c.sign, c.spectrum);
  }
}

TEST_F(GoldenChain, WidePathGivesTheRecordedHistories) {
  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  settings.bandStartHz = 5950;
  const ChainFigures f = RunChain(WideRecording(), settings, "");
  EXPECT_EQ(f.blocks, 150);
  ExpectFigures(f, 0xe58dcc2ca1ce2ba7, 0x63720a3e7c62eb75, 0xa592f4292f74d692);
}

// The batch decoder prints the same decodes, in file order, whichever job
// finishes first. (No MYQTH: the distance column stays empty. The rows were
// recorded before the partial column: --no-partial-flag gives that layout.)
TEST_F(GoldenChain, BatchDecoderPrintsTheRecordedRowsWithTwoJobs) {
  const CommandResult r =
      RunCommand({BuiltProgram("vs32decode"), "--all", "--format", "tsv", "--no-partial-flag",
                  "--jobs", "2", "--lists", Lists("pair"), Recording(), Recording()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string out = r.out;
  const std::string path = Recording();
  for (size_t at = out.find(path); at != std::string::npos; at = out.find(path, at)) {
    out.replace(at, path.size(), "REC");
  }
  const std::string rows =
      "REC\t2026-12-08 12:33:51\t2031.0\t48.5\tQ1ABC\t137482.52\t\t15.3\t-29.6\t1\t2\t\n"
      "REC\t2026-12-08 12:34:12\t2052.0\t69.5\tQA2XY\t137515.04\t\t10.9\t-37.3\t1\t2\t\n";
  EXPECT_EQ(out,
            "file\tutc\toffset_s\tstart_s\tcall\tfreq_hz\tqrb_km\tebno_db\tsnr_db\tattempts\t"
            "status\tmark\n" +
                rows + rows);
}

}  // namespace
}  // namespace vs32::test
