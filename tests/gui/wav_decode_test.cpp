// A generated recording decoded through "Decode WAV-file...": the worker reads
// the file, results processing puts the decode into the decode list and the
// log, and the end of the file is announced; the window stays responsive.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <memory>

#include "gui/myvsrx1.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace vs32::gui {
namespace {

using test::App;
using test::BoxLog;

class WavDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ini = dir / "Vs32Rx.INI";
    vs32::test::WriteFile(ini,
                          "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\nUSE_KNOWN_CALLSLIST=0\n"
                          "CAPTURE_ENABLE=1\nREVERSE_OUTPUT=0\n[PSKREPORTER]\nUPLOAD_SPOT=0\n");
    FormEnvironment environment;
    environment.iniPath = ini;
    environment.listDevices = false;
    form = std::make_unique<TForm1>(environment);
    form->setBoxFunction(boxes.function());
    form->setWavChooser([this] { return chosen; });
    form->FormCreate();
    form->show();
    QApplication::processEvents();
  }
  void TearDown() override { form.reset(); }

  // Writes a recording with the generator; false when it could not.
  bool Generate(const std::string& name, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {vs32::test::BuiltProgram("vs32gen"), "-o",
                                     (dir / name).string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const vs32::test::CommandResult result = vs32::test::RunCommand(argv);
    return result.status == 0;
  }
  int IndexOf(const QStringList& lines, const QString& part) {
    for (int i = 0; i < lines.size(); ++i) {
      if (lines[i].contains(part)) return i;
    }
    return -1;
  }

  vs32::test::TempDir dir;
  vs32::test::ScopedCwd cwd{dir.path()};
  std::filesystem::path ini;
  BoxLog boxes;
  QString chosen;
  std::unique_ptr<TForm1> form;
};

TEST_F(WavDecodeTest, GeneratedRecordingDecodesIntoTheListAndTheLog) {
  ASSERT_TRUE(Generate("q1abc.wav", {"--station", "Q1ABC:1500:-15", "--seed", "3"}));
  chosen = QString::fromStdString((dir / "q1abc.wav").string());
  ASSERT_TRUE(form->workerRunning());
  form->DecodeWAVfile1->trigger();
  EXPECT_TRUE(form->wavInput());
  EXPECT_FALSE(form->DecodeWAVfile1->isEnabled());  // one recording at a time
  ASSERT_GE(form->MemoLines().size(), 2);
  EXPECT_EQ(form->MemoLines()[1], "Processing file q1abc.wav");

  // The timer keeps ticking while the worker decodes: the window stays live.
  QElapsedTimer clock;
  clock.start();
  long long longestTickMicros = 0;
  const bool finished = test::WaitFor(
      [&] {
        longestTickMicros = std::max(longestTickMicros, form->lastTickMicros());
        const QStringList lines = form->MemoLines();
        return IndexOf(lines, "Done.") > 0 && IndexOf(lines, "Q1ABC") > 0;
      },
      300000);
  const QStringList lines = form->MemoLines();
  ASSERT_TRUE(finished) << lines.join("\n").toStdString();
  RecordProperty("decode_seconds", static_cast<int>(clock.elapsed() / 1000));
  RecordProperty("longest_tick_us", static_cast<int>(longestTickMicros));

  // Each line went in at index 1, under the header, in the order it happened.
  EXPECT_EQ(lines[0], "   DATE     TIME     CALL    FREQ       QRB     Eb/No   SNR");
  const int processing = IndexOf(lines, "Processing file");
  const int done = IndexOf(lines, "Done.");
  const int decode = IndexOf(lines, "Q1ABC");
  EXPECT_GT(processing, done);
  EXPECT_GT(processing, decode);
  // "YYYY-MM-DD HH:MM:SS  Q1ABC 137500.00 <eight blanks>\t<Eb/No>dB <SNR>dB <attempts> -"
  static const QRegularExpression kLine(
      "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  Q1ABC (\\d+\\.\\d\\d) {9}\\t-?\\d+\\.\\ddB "
      "[+-]\\d+\\.\\ddB -?\\d+ -$");
  const QRegularExpressionMatch match = kLine.match(lines[decode]);
  ASSERT_TRUE(match.hasMatch()) << lines[decode].toStdString();
  EXPECT_NEAR(match.captured(1).toDouble(), 137500.0, 0.1);

  EXPECT_FALSE(form->wavInput());
  EXPECT_TRUE(form->DecodeWAVfile1->isEnabled());
  // The worker's channel count reached panel 5 through the main thread.
  EXPECT_TRUE(QRegularExpression("^[1-9]\\d*/1230$").match(form->Panels[5]->text()).hasMatch())
      << form->Panels[5]->text().toStdString();
  const std::string log = vs32::test::ReadFile(dir / "my_detected.txt");
  EXPECT_NE(log.find(lines[decode].toStdString() + "\n"), std::string::npos) << log;
  // A decode from a recording is never captured.
  EXPECT_TRUE(std::filesystem::is_empty(dir / "Capture"));
  EXPECT_FALSE(boxes.Has("WAV error"));
  EXPECT_LT(longestTickMicros, 100000);
}

TEST_F(WavDecodeTest, ARecordingAtAnotherRateIsRefusedWithTheFormatMessage) {
  ASSERT_TRUE(
      Generate("wide.wav", {"--station", "Q1ABC:1500:-15", "--duration", "3", "--rate", "48000"}));
  chosen = QString::fromStdString((dir / "wide.wav").string());
  const int linesBefore = form->MemoLines().size();
  form->DecodeWAVfile1->trigger();
  const BoxRequest* box = boxes.Find("WAV error");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text, "WAV-file must be 12000 sps, 16 bit!");
  EXPECT_FALSE(form->wavInput());
  EXPECT_TRUE(form->DecodeWAVfile1->isEnabled());
  EXPECT_EQ(form->MemoLines().size(), linesBefore);
}

TEST_F(WavDecodeTest, AFileThatIsNotARecordingSaysWhy) {
  vs32::test::WriteFile(dir / "notes.wav", "these are not samples");
  chosen = QString::fromStdString((dir / "notes.wav").string());
  form->DecodeWAVfile1->trigger();
  const BoxRequest* box = boxes.Find("WAV error");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text.startsWith(chosen + ": ")) << box->text.toStdString();
  EXPECT_FALSE(form->wavInput());
}

TEST_F(WavDecodeTest, CancellingTheDialogChangesNothing) {
  chosen.clear();
  const QStringList before = form->MemoLines();
  form->DecodeWAVfile1->trigger();
  EXPECT_EQ(form->MemoLines(), before);
  EXPECT_FALSE(form->wavInput());
  EXPECT_TRUE(boxes.boxes.empty() || !boxes.Has("WAV error"));
}

}  // namespace
}  // namespace vs32::gui
