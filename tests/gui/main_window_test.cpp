// The main window started from an INI file in a scratch folder: menus and their
// check marks, status panels, mouse selection, the decode list and its popups,
// message boxes, and what closing and Exit write back.
#include "gui/myvsrx1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "config/profile_file.h"
#include "gui/myvsrx2.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace vs32::gui {
namespace {

using test::App;
using test::BoxLog;

const char* const kColumns = "   DATE     TIME     CALL    FREQ       QRB     Eb/No   SNR";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  void TearDown() override {
    if (form) {
      form->hide();
      form.reset();
    }
  }

  // Starts a window on an INI holding `keys` ("KEY=value" lines of VS-32),
  // with upload off unless the keys say otherwise.
  TForm1& Start(const std::string& keys, const std::string& extra = "") {
    ini = dir / "Vs32Rx.INI";
    vs32::test::WriteFile(ini, "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n" + keys +
                                   "\n[PSKREPORTER]\nUPLOAD_SPOT=0\n" + extra);
    FormEnvironment environment;
    environment.iniPath = ini;
    environment.listDevices = false;
    environment.devices = {"Card A", "Card B"};
    form = std::make_unique<TForm1>(environment);
    form->setBoxFunction(boxes.function());
    form->FormCreate();
    return *form;
  }
  QAction* Action(const char* name) { return form->findChild<QAction*>(name); }
  std::string Key(const char* key, const char* section = "VS-32") {
    return ProfileFile(ini).ReadString(section, key, "<missing>");
  }

  vs32::test::TempDir dir;
  vs32::test::ScopedCwd cwd{dir.path()};
  std::filesystem::path ini;
  BoxLog boxes;
  std::unique_ptr<TForm1> form;
};

TEST_F(MainWindowTest, WindowLayoutAndControls) {
  TForm1& f = Start("");
  EXPECT_EQ(f.windowTitle(), "Vs32Rx v1.4");
  EXPECT_EQ(QApplication::applicationName(), "VS-32 RX");
  EXPECT_EQ(f.centralWidget()->size(), QSize(628, 422));
  EXPECT_EQ(f.Image1->geometry(), QRect(8, 0, 617, 40));
  EXPECT_EQ(f.Image2->geometry(), QRect(8, 42, 617, 60));
  EXPECT_EQ(f.Image3->geometry(), QRect(8, 104, 617, 240));
  EXPECT_EQ(f.Memo1->geometry(), QRect(8, 240, 617, 161));
  EXPECT_EQ(f.StatusBar1->geometry(), QRect(0, 403, 628, 19));
  EXPECT_EQ(f.Image1->toolTip(), "Double Click to view input signal");
  EXPECT_EQ(f.Image3->toolTip(), "Click to decode on this frequency");
  EXPECT_EQ(f.Image2->cursor().shape(), Qt::CrossCursor);
  EXPECT_TRUE(f.Memo1->isReadOnly());
  EXPECT_EQ(f.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(f.Memo1->font().pixelSize(), 13);
  EXPECT_EQ(f.Memo1->palette().color(QPalette::Text), QColor(0, 0, 128));
  EXPECT_EQ(f.Timer1->interval(), 300);
  EXPECT_TRUE(f.Timer1->isActive());
  EXPECT_EQ(f.findChild<QPlainTextEdit*>("Memo1"), f.Memo1);
  EXPECT_EQ(f.findChild<QTimer*>("Timer1"), f.Timer1);
  const int widths[8] = {80, 80, 80, 100, 150, 70, 20, 50};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(f.Panels[i]->width(), widths[i] - 2) << i;
  // The waterfall starts grey.
  EXPECT_EQ(f.Image3->picture().pixelColor(300, 200), QColor(128, 128, 128));
}

TEST_F(MainWindowTest, MenuCaptionsAndNames) {
  Start("");
  const std::pair<const char*, const char*> items[] = {
      {"DecodeWAVfile1", "Decode WAV-file..."},
      {"Exit1", "Exit"},
      {"Oscillogramm1", "Oscillogramm"},
      {"Spectrum1", "Spectrum"},
      {"Waterfall1", "Waterfall"},
      {"SoundInput1", "Select Sound Input"},
      {"default1", "default"},
      {"CaptureSpectrum1", "Capture Spectrum"},
      {"IgnoreLoran1", "Ignore Loran Lines"},
      {"UseFreqList1", "Use Freq List"},
      {"UseKnownCallsList1", "Use Known Calls List (strongly recomended!)"},
      {"DeepDecoder1", "Deep Decoder"},
      {"UltraDeepDecoder1", "Ultra Deep Decoder (High CPU load)"},
      {"ListDecoder1", "List Decoder (best-first)"},
      {"CorrelationVSDS1", "Use Correlator"},
      {"CoherentDetector1", "Coherent Detector (CPU load)"},
      {"Pea1", "Peak Number"},
      {"auto1", "auto"},
      {"N101", "10"},
      {"N1001", "100"},
      {"PeakSpacing1", "Peak Spacing"},
      {"UploadSpot1", "Upload Spots"},
      {"Cleanupknowlist1", "Cleanup know_list"},
      {"Setupanothersettings1", "Setup another settings..."},
      {"About1", "About"},
      {"Helpeng1", "Help (eng)"},
      {"Helprus1", "Help (rus)"},
      {"AddthisfrequencytoIgnoreList1", "Add this frequency to Ignore List"},
      {"Alwaysdecodethisfrequency1", "Always decode this frequency"},
      {"SelectAll1", "Select All"},
      {"Copy1", "Copy"},
      {"Erase1", "Erase"},
  };
  for (const auto& [name, caption] : items) {
    QAction* action = Action(name);
    ASSERT_NE(action, nullptr) << name;
    EXPECT_EQ(action->text(), caption) << name;
  }
  // Peak Spacing shows channels and hertz; "3" is not what the INI says.
  EXPECT_EQ(Action("N01")->text(), "0 (0 Hz)");
  EXPECT_EQ(Action("N11")->text(), "1 (0.0813008130081301 Hz)");
  EXPECT_EQ(Action("N102")->text(), "10 (0.813008130081301 Hz)");
  EXPECT_TRUE(Action("N11")->isChecked());  // MIN_PEAK_SPACE default 1
  EXPECT_FALSE(Action("N31")->isChecked());
  EXPECT_FALSE(Action("user1")->isVisible());
  EXPECT_FALSE(Action("user2")->isVisible());
  // Sound inputs: one item per device present.
  EXPECT_EQ(Action("device01")->text(), "Card A");
  EXPECT_EQ(Action("device11")->text(), "Card B");
  EXPECT_TRUE(Action("device11")->isVisible());
  EXPECT_FALSE(Action("device21")->isVisible());
  EXPECT_EQ(Action("device81")->text(), "device8");
  EXPECT_TRUE(Action("default1")->isChecked());
}

TEST_F(MainWindowTest, SwitchesStartFromTheIniAndClicksSetTheSettings) {
  TForm1& f = Start("DEEP_DECODER=0\nIGNORE_LORAN_LINES=1\nUSE_CORRELATOR=0\nCAPTURE_ENABLE=0");
  EXPECT_FALSE(f.DeepDecoder1->isChecked());
  EXPECT_TRUE(f.IgnoreLoran1->isChecked());
  EXPECT_FALSE(f.CorrelationVSDS1->isChecked());
  EXPECT_FALSE(f.CaptureSpectrum1->isChecked());
  EXPECT_TRUE(f.UseFreqList1->isChecked());
  EXPECT_FALSE(f.UploadSpot1->isChecked());

  f.IgnoreLoran1->trigger();
  EXPECT_FALSE(f.settings().ignoreLoranLines);
  f.CoherentDetector1->trigger();
  EXPECT_TRUE(f.settings().coherentDetector);
  f.UseKnownCallsList1->trigger();
  EXPECT_FALSE(f.settings().useKnownCallsList);
  f.CaptureSpectrum1->trigger();
  EXPECT_TRUE(f.settings().captureEnabled);
}

TEST_F(MainWindowTest, UltraDeepSwitchesDeepOnButNotOff) {
  TForm1& f = Start("DEEP_DECODER=0\nULTRA_DEEP_DECODER=0");
  f.UltraDeepDecoder1->trigger();
  EXPECT_TRUE(f.UltraDeepDecoder1->isChecked());
  EXPECT_TRUE(f.DeepDecoder1->isChecked());
  EXPECT_TRUE(f.settings().ultraDeepDecoder);
  EXPECT_TRUE(f.settings().deepDecoder);
  f.UltraDeepDecoder1->trigger();
  EXPECT_FALSE(f.settings().ultraDeepDecoder);
  EXPECT_TRUE(f.DeepDecoder1->isChecked());
  EXPECT_TRUE(f.settings().deepDecoder);
  f.DeepDecoder1->trigger();
  EXPECT_FALSE(f.settings().deepDecoder);
}

TEST_F(MainWindowTest, ListDecoderExcludesDeepAndUltraDeep) {
  // Both set in the file: the list wins and the menu shows it alone.
  TForm1& f = Start("DEEP_DECODER=1\nULTRA_DEEP_DECODER=1\nLIST_DECODER=1");
  EXPECT_TRUE(f.ListDecoder1->isChecked());
  EXPECT_FALSE(f.DeepDecoder1->isChecked() || f.UltraDeepDecoder1->isChecked());
  EXPECT_FALSE(f.settings().deepDecoder || f.settings().ultraDeepDecoder);
  f.UltraDeepDecoder1->trigger();
  EXPECT_TRUE(f.settings().ultraDeepDecoder && f.settings().deepDecoder);
  EXPECT_FALSE(f.ListDecoder1->isChecked());
  EXPECT_FALSE(f.settings().listDecoder);
  f.ListDecoder1->trigger();
  EXPECT_TRUE(f.settings().listDecoder);
  EXPECT_FALSE(f.DeepDecoder1->isChecked() || f.UltraDeepDecoder1->isChecked());
  f.DeepDecoder1->trigger();
  EXPECT_FALSE(f.settings().listDecoder);
  EXPECT_TRUE(f.settings().deepDecoder);
}

TEST_F(MainWindowTest, PeakNumberZeroShowsAutoButKeepsZero) {
  TForm1& f = Start("N_MAX=0");
  EXPECT_TRUE(f.auto1->isChecked());
  EXPECT_EQ(f.settings().maxPeaks, 0);
  EXPECT_EQ(f.Panels[5]->text(), "0/1230");
  Action("N501")->trigger();
  EXPECT_EQ(f.settings().maxPeaks, 50);
  f.auto1->trigger();
  EXPECT_EQ(f.settings().maxPeaks, -1);
}

TEST_F(MainWindowTest, UserValuesGetTheirOwnVisibleCheckedItems) {
  TForm1& f = Start("N_MAX=37\nMIN_PEAK_SPACE=15");
  EXPECT_TRUE(f.user1->isVisible());
  EXPECT_TRUE(f.user1->isChecked());
  EXPECT_EQ(f.user1->text(), "15 (1.21951219512195 Hz)");
  EXPECT_TRUE(f.user2->isVisible());
  EXPECT_TRUE(f.user2->isChecked());
  EXPECT_EQ(f.user2->text(), "37");
  Action("N31")->trigger();
  EXPECT_EQ(f.settings().minPeakSpacing, 3);
  EXPECT_FALSE(f.user1->isChecked());
  f.user1->trigger();
  EXPECT_EQ(f.settings().minPeakSpacing, 15);
  Action("N1001")->trigger();
  EXPECT_EQ(f.settings().maxPeaks, 100);
  f.user2->trigger();
  EXPECT_EQ(f.settings().maxPeaks, 37);
}

TEST_F(MainWindowTest, ViewSwitchesShowAndHideTheImages) {
  TForm1& f = Start("SPECTRUM_VISIBLE=0");
  f.show();
  EXPECT_TRUE(f.Image1->isVisible());
  EXPECT_FALSE(f.Image2->isVisible());
  EXPECT_FALSE(f.Spectrum1->isChecked());
  f.Waterfall1->trigger();
  EXPECT_FALSE(f.Image3->isVisible());
  EXPECT_FALSE(f.settings().waterfallVisible);
  f.Spectrum1->trigger();
  EXPECT_TRUE(f.Image2->isVisible());
}

TEST_F(MainWindowTest, StatusPanelsAfterStartUp) {
  TForm1& f = Start("F_DIAL=135500.5\nF_CENTER=2500\nN_MAX=40", "\n[SOUND]\nDEVICE=1\n");
  EXPECT_EQ(f.Panels[0]->text(), "Dial=135500.5Hz");
  EXPECT_EQ(f.Panels[1]->text(), "Fc=2500Hz");
  EXPECT_EQ(f.Panels[2]->text(), "");
  EXPECT_EQ(f.Panels[4]->text(), "Card B");
  EXPECT_EQ(f.Panels[5]->text(), "40/1230");
  EXPECT_EQ(f.Panels[7]->text(), "");
  EXPECT_TRUE(Action("device11")->isChecked());
  EXPECT_FALSE(Action("default1")->isChecked());
  EXPECT_TRUE(Action("N401")->isChecked());
  const QStringList lines = f.MemoLines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[0], kColumns);
  // Where to find the lists and the log.
  const std::string folder = std::filesystem::current_path().string();
  EXPECT_TRUE(lines.contains(QString::fromStdString("Station lists in " + folder + ", decode log " +
                                                    folder + "/my_detected.txt")))
      << lines.join("\n").toStdString();
  // A new decode log with its header block.
  EXPECT_EQ(
      vs32::test::ReadFile(dir / "my_detected.txt"),
      std::string("Q9XYZ JO01AA Vesta-32 decoded (Vs32Rx ZZ0ZZZ software)\n\n") + kColumns + "\n");
}

TEST_F(MainWindowTest, ADeviceThatIsNotPresentSaysSo) {
  TForm1& f = Start("", "\n[SOUND]\nDEVICE=5\n");
  EXPECT_EQ(f.Panels[4]->text(), "5 (not present)");
}

TEST_F(MainWindowTest, MissingCallWarnsOnceTheWindowIsVisibleAndSwitchesUploadOff) {
  ini = dir / "Vs32Rx.INI";
  vs32::test::WriteFile(ini, "[PSKREPORTER]\nUPLOAD_SPOT=1\n");
  FormEnvironment environment;
  environment.iniPath = ini;
  environment.listDevices = false;
  form = std::make_unique<TForm1>(environment);
  form->setBoxFunction(boxes.function());
  form->FormCreate();
  EXPECT_FALSE(boxes.Has("CALL and QTH not set"));  // not before the window shows
  EXPECT_GE(form->pendingBoxCount(), 1);
  EXPECT_FALSE(form->UploadSpot1->isChecked());
  EXPECT_FALSE(form->settings().uploadSpots);
  EXPECT_EQ(form->Panels[7]->text(), "");
  form->show();
  ASSERT_TRUE(test::WaitFor([&] { return boxes.Has("CALL and QTH not set"); }, 2000));
  EXPECT_EQ(boxes.Find("CALL and QTH not set")->text,
            "Please set Your CALL and QTH in config file Vs32Rx.ini\n(fields MYCALL and MYQTH)");
  EXPECT_EQ(form->pendingBoxCount(), 0);
  // Closing writes the switched-off upload back.
  form->close();
  EXPECT_EQ(Key("UPLOAD_SPOT", "PSKREPORTER"), "0");
}

TEST_F(MainWindowTest, ClickSelectsAChannelAndDoubleClickReturnsToTheInput) {
  TForm1& f = Start("");
  f.show();
  QTest::mouseClick(f.Image2, Qt::LeftButton, Qt::NoModifier, QPoint(616, 30));
  EXPECT_EQ(f.selectedChannel(), 1228);
  EXPECT_TRUE(f.channelSelected());
  EXPECT_EQ(f.Panels[2]->text(), "137549.84 Hz");
  QTest::mouseClick(f.Image3, Qt::LeftButton, Qt::NoModifier, QPoint(0, 10));
  EXPECT_EQ(f.selectedChannel(), 0);
  EXPECT_EQ(f.Panels[2]->text(), "137450.00 Hz");
  QTest::mouseDClick(f.Image1, Qt::LeftButton);
  EXPECT_FALSE(f.channelSelected());
  EXPECT_EQ(f.selectedChannel(), 0);
}

TEST_F(MainWindowTest, PopupsAppendTheSelectedFrequencyToExistingLists) {
  vs32::test::WriteFile(dir / "loran_lines.txt", "137500.000");
  TForm1& f = Start("");
  f.show();
  QTest::mouseClick(f.Image2, Qt::LeftButton, Qt::NoModifier, QPoint(308, 30));
  // Channel 308 × 1230 div 617 = 614: 137450 + 614 × 100/1230 = 137499.918…
  ASSERT_EQ(f.selectedChannel(), 614);
  f.AddthisfrequencytoIgnoreList1->trigger();
  f.AddthisfrequencytoIgnoreList1->trigger();
  EXPECT_EQ(vs32::test::ReadFile(dir / "loran_lines.txt"),
            "137500.000\n137499.922\n137499.922");  // the frequency as a 32-bit float
  // A list that does not exist is not created.
  f.Alwaysdecodethisfrequency1->trigger();
  EXPECT_FALSE(std::filesystem::exists(dir / "freq_list.txt"));
  vs32::test::WriteFile(dir / "freq_list.txt", "");
  f.Alwaysdecodethisfrequency1->trigger();
  EXPECT_EQ(vs32::test::ReadFile(dir / "freq_list.txt"), "\n137499.922");
}

TEST_F(MainWindowTest, DecodeListLinesPopupsAndErase) {
  TForm1& f = Start("");
  f.InsertMemoLine(1, "first");
  f.InsertMemoLine(1, "second");
  f.InsertMemoLine(9, "last");
  QStringList lines = f.MemoLines();
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[0], kColumns);
  EXPECT_EQ(lines[1], "second");
  EXPECT_EQ(lines[2], "first");
  EXPECT_EQ(lines.back(), "last");
  f.SelectAll1->trigger();
  f.Copy1->trigger();
  EXPECT_TRUE(QApplication::clipboard()->text().contains("second\nfirst"));
  f.Erase1->trigger();
  EXPECT_EQ(f.MemoLines(), QStringList{kColumns});
}

TEST_F(MainWindowTest, AboutAndHelpBoxes) {
  TForm1& f = Start("");
  f.show();
  QApplication::processEvents();
  boxes.boxes.clear();
  f.About1->trigger();
  f.Helpeng1->trigger();
  f.Helprus1->trigger();
  ASSERT_EQ(boxes.boxes.size(), 3u);
  EXPECT_EQ(boxes.boxes[0].caption, "About Vs32Rx");
  EXPECT_TRUE(boxes.boxes[0].text.startsWith(
      "Vesta-32 open source RX programm.\nImplement soft decoder with options of deep (list) "
      "decoding\nand various central rx frequency from 500Hz to 23kHz.\n\n"));
  EXPECT_EQ(boxes.boxes[1].caption, "Vs32Rx Help");
  EXPECT_TRUE(boxes.boxes[1].text.startsWith(
      "Capture Spectrum: save screenshot of waterfall with decoded signal\nIgnore Loran Lines:"));
  EXPECT_TRUE(
      boxes.boxes[1].text.endsWith("Decode WAV-file: decode signals from wav-file (12 ksps, 16 "
                                   "bps).\n"));
  EXPECT_EQ(boxes.boxes[1].text.count('\n'), 14);
  EXPECT_TRUE(boxes.boxes[2].text.contains(
      QString::fromUtf8("Upload Spots: выгружать споты на PSK-Reporter.\n")));
  EXPECT_EQ(boxes.boxes[2].text.count('\n'), 14);
}

TEST_F(MainWindowTest, CleanupRemovesCallsWithoutPosition) {
  vs32::test::WriteFile(dir / "callsloc.txt", "Q1BBB JO01AA\nQ1DDD KO85AA\n");
  vs32::test::WriteFile(dir / "known_list.txt", "Q1AAA\nQ1CCC\n");
  TForm1& f = Start("");
  ASSERT_EQ(f.knownCalls().size(), 4);
  f.Cleanupknowlist1->trigger();
  EXPECT_EQ(f.Panels[4]->text(), "2 items deleted");
  EXPECT_EQ(f.knownCalls().size(), 2);
  EXPECT_STREQ(f.knownCalls().entries[0].callsign, "Q1BBB");
  EXPECT_STREQ(f.knownCalls().entries[1].callsign, "Q1DDD");
  EXPECT_FALSE(std::filesystem::exists(dir / "known_list.txt"));
}

TEST_F(MainWindowTest, SoundInputChoiceIsWrittenAtOnce) {
  TForm1& f = Start("");
  Action("device11")->trigger();
  EXPECT_EQ(Key("DEVICE", "SOUND"), "1");
  EXPECT_EQ(f.settings().soundDevice, 1);
  EXPECT_EQ(f.Panels[4]->text(), "Card B");
  f.default1->trigger();
  EXPECT_EQ(Key("DEVICE", "SOUND"), "-1");
  EXPECT_EQ(f.Panels[4]->text(), "default");
}

TEST_F(MainWindowTest, CloseSavesTheMenuStateAndExitDoesNot) {
  {
    TForm1& f = Start("N_MAX=0");
    f.ListDecoder1->trigger();
    f.CoherentDetector1->trigger();
    f.Spectrum1->trigger();
    Action("N601")->trigger();
    Action("N51")->trigger();
    f.close();
    EXPECT_EQ(Key("N_MAX"), "60");
    EXPECT_EQ(Key("MIN_PEAK_SPACE"), "5");
    EXPECT_EQ(Key("DEEP_DECODER"), "0");
    EXPECT_EQ(Key("LIST_DECODER"), "1");
    EXPECT_EQ(Key("USE_COHERENT_DETECTOR"), "1");
    EXPECT_EQ(Key("SPECTRUM_VISIBLE"), "0");
    EXPECT_EQ(Key("UPLOAD_SPOT", "PSKREPORTER"), "0");
    EXPECT_EQ(Key("WATERFALL_VISIBLE"), "1");
  }
  {
    TForm1& f = Start("N_MAX=0");
    const std::string before = vs32::test::ReadFile(ini);
    f.DeepDecoder1->trigger();
    Action("N701")->trigger();
    f.Exit1->trigger();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(vs32::test::ReadFile(ini), before);
  }
}

TEST_F(MainWindowTest, ACaptureFolderThatCannotBeCreatedStopsTheStartUp) {
  TForm1& f = Start("CAPTURE_PATH=no/such/folder/");
  f.show();
  ASSERT_TRUE(test::WaitFor([&] { return !boxes.boxes.empty(); }, 2000));
  bool found = false;
  for (const BoxRequest& box : boxes.boxes) {
    found |= box.text == "Cannot create no/such/folder/ directory.";
  }
  EXPECT_TRUE(found);
  EXPECT_FALSE(f.workerRunning());
  EXPECT_FALSE(std::filesystem::exists(dir / "my_detected.txt"));
}

TEST_F(MainWindowTest, UploadSwitchStartsAndEndsTheReporter) {
  TForm1& f = Start("", "HOSTNAME=127.0.0.1\nPORT=47390\n");
  f.show();
  QApplication::processEvents();
  f.UploadSpot1->trigger();
  EXPECT_TRUE(f.settings().uploadSpots);
  EXPECT_EQ(f.Panels[7]->text(), "UPLOAD");
  EXPECT_FALSE(boxes.Has("PSKReporter Initialization"));
  f.UploadSpot1->trigger();
  EXPECT_FALSE(f.settings().uploadSpots);
  EXPECT_EQ(f.Panels[7]->text(), "");
}

TEST_F(MainWindowTest, UploadSwitchReportsAReporterThatCannotStart) {
  TForm1& f = Start("", "HOSTNAME=127.0.0.1\nPORT=notaport\n");
  f.show();
  QApplication::processEvents();
  f.UploadSpot1->trigger();
  const BoxRequest* box = boxes.Find("PSKReporter Initialization");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text.startsWith("PSKReporter Init Error:\n"));
  EXPECT_GT(box->text.size(), QString("PSKReporter Init Error:\n").size());
  EXPECT_TRUE(f.UploadSpot1->isChecked());  // stays checked
}

TEST_F(MainWindowTest, SettingsDialogOpensFilledFromTheSettings) {
  TForm1& f = Start("TIME_CALL_BLOCKED=900");
  f.show();
  f.Setupanothersettings1->trigger();
  EXPECT_TRUE(f.form2()->isVisible());
  EXPECT_EQ(f.form2()->Edit10->text(), "900");
  EXPECT_EQ(f.form2()->Edit1->text(), "Q9XYZ");
  f.form2()->Button2Click();
  EXPECT_FALSE(f.form2()->isVisible());
}

TEST_F(MainWindowTest, ApplyRestartsTheWorkerWithTheNewKeys) {
  vs32::test::WriteFile(dir / "callsloc.txt", "Q1BBB JO01AA\n");
  TForm1& f = Start("TIME_CALL_BLOCKED=600");
  f.show();
  ASSERT_TRUE(f.workerRunning());
  ASSERT_EQ(f.knownCalls().size(), 1);
  Action("N501")->trigger();
  vs32::test::WriteFile(dir / "callsloc.txt", "Q1BBB JO01AA\nQ1DDD KO85AA\n");

  f.Setupanothersettings1->trigger();
  TForm2& dialog = *f.form2();
  dialog.Edit1->setText("Q1NEW");
  dialog.ComboBox2->setEditText("6000");
  dialog.ComboBox1->setEditText("135000");
  dialog.Edit10->setText("900");
  dialog.Button1->click();

  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(f.workerRunning());
  EXPECT_EQ(f.settings().bandStartHz, 5950);
  EXPECT_EQ(f.settings().inputRate, 48000);  // the wide path, input reopened at its rate
  EXPECT_EQ(f.settings().dialHz, 135000);
  EXPECT_EQ(f.settings().callBlockSeconds, 900);
  EXPECT_EQ(f.settings().myCall, "Q1NEW");
  EXPECT_EQ(f.settings().logHeader, "Q1NEW JO01AA Vesta-32 decoded (Vs32Rx ZZ0ZZZ software)");
  EXPECT_EQ(f.Panels[0]->text(), "Dial=135000Hz");
  EXPECT_EQ(f.Panels[1]->text(), "Fc=6000Hz");
  EXPECT_EQ(f.knownCalls().size(), 2);  // rebuilt from the edited list
  // The peak values were re-read too, and the menu shows what is used.
  EXPECT_EQ(f.settings().maxPeaks, -1);
  EXPECT_TRUE(f.auto1->isChecked());
}

TEST_F(MainWindowTest, DecodesStillWaitingToGoQuietAreReportedWhenTheWorkerStops) {
  vs32::test::WriteFile(dir / "callsloc.txt", "Q1ABC JO65HO\nQ1XYZ KO85AA\n");
  TForm1& f = Start("");
  f.show();
  // A run begins by clearing the slot table.
  auto waitForRun = [&f] {
    for (int i = 0; i < 2000 && !f.workerLooping(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return f.workerLooping();
  };
  ASSERT_TRUE(waitForRun());
  // Decodes made just now: a timer tick holds them back until they have been
  // quiet for 8 s, but a new run starts with an empty slot table.
  std::vector<double> spectrum(vs32::DecodeSlotTable::kChannels, 1.0);
  const int now = static_cast<int>(std::time(nullptr));
  ASSERT_EQ(
      f.decodeSlots().AcceptDecode(700, 2, "Q1ABC", 12.0f, 1, now, spectrum.data(), 0.0, false),
      vs32::AcceptOutcome::kOpened);
  f.Timer1Timer();
  EXPECT_FALSE(f.MemoLines().join("\n").contains("Q1ABC"));
  f.Setupanothersettings1->trigger();
  f.form2()->Button1->click();  // Apply restarts the worker
  EXPECT_TRUE(f.workerRunning());
  EXPECT_TRUE(f.MemoLines().join("\n").contains("Q1ABC")) << f.MemoLines().join("\n").toStdString();
  ASSERT_TRUE(waitForRun());
  // And closing the window reports the last ones.
  ASSERT_EQ(
      f.decodeSlots().AcceptDecode(710, 2, "Q1XYZ", 12.0f, 1, now, spectrum.data(), 0.0, false),
      vs32::AcceptOutcome::kOpened);
  f.close();
  EXPECT_FALSE(f.workerRunning());
  EXPECT_TRUE(f.MemoLines().join("\n").contains("Q1XYZ")) << f.MemoLines().join("\n").toStdString();
  EXPECT_NE(vs32::test::ReadFile(dir / "my_detected.txt").find("Q1XYZ"), std::string::npos);
}

TEST_F(MainWindowTest, ApplyWithACaptureFolderThatCannotBeCreatedLeavesTheWorkerStopped) {
  TForm1& f = Start("");
  f.show();
  QApplication::processEvents();
  f.Setupanothersettings1->trigger();
  f.form2()->Edit4->setText("no/such/folder/");
  f.form2()->Button1->click();
  const BoxRequest* box = boxes.Find("VS-32 RX");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text, "Cannot create no/such/folder/ directory.");
  EXPECT_FALSE(f.workerRunning());
  // The next good Apply starts it again.
  f.Setupanothersettings1->trigger();
  f.form2()->Edit4->setText("Captures");
  f.form2()->Button1->click();
  EXPECT_TRUE(f.workerRunning());
  EXPECT_EQ(f.settings().capturePath, "Captures/");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Captures"));
  EXPECT_EQ(Key("CAPTURE_PATH"), "Captures/");
}

TEST_F(MainWindowTest, TimerTickWithoutSignalLeavesTheVolumeEmpty) {
  TForm1& f = Start("");
  f.Timer1Timer();
  EXPECT_EQ(f.Panels[6]->text(), "");
  EXPECT_GE(f.lastTickMicros(), 0);
  // Nothing published yet: the spectrum is grey, the oscillogram black.
  EXPECT_EQ(f.Image2->picture().pixelColor(300, 30), QColor(128, 128, 128));
  EXPECT_EQ(f.Image1->picture().pixelColor(300, 10), QColor(Qt::black));
}

TEST_F(MainWindowTest, ASoundInputThatCannotBeOpenedIsReportedOnceUntilAnotherIsPicked) {
  TForm1& f = Start("");
  f.show();
  QApplication::processEvents();
  auto count = [&] {
    int n = 0;
    for (const BoxRequest& box : boxes.boxes) n += box.caption == "Tavik Control";
    return n;
  };
  test::WaitFor([&] { return count() > 0; }, 500);
  if (count() == 0) GTEST_SKIP() << "this machine has a sound input that opens";
  EXPECT_EQ(boxes.Find("Tavik Control")->text, "Cannot Open Audio Input Device");
  // Another failing open (as after every recording) raises no new box ...
  f.Setupanothersettings1->trigger();
  f.form2()->Button1->click();
  QApplication::processEvents();
  QApplication::processEvents();
  EXPECT_EQ(count(), 1);
  // ... until the user picks an input again.
  f.default1->trigger();
  test::WaitFor([&] { return count() == 2; }, 1000);
  EXPECT_EQ(count(), 2);
}

TEST_F(MainWindowTest, UploadOnSendsTheStartUpSelfSpot) {
  // Panel 7 shows the outcome of the self-spot: accepted by a reporter that
  // could start, refused by one that could not.
  auto startUploading = [&](const char* port) {
    vs32::test::WriteFile(ini, std::string("[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n[PSKREPORTER]\n") +
                                   "UPLOAD_SPOT=1\nHOSTNAME=127.0.0.1\nPORT=" + port + "\n");
    FormEnvironment environment;
    environment.iniPath = ini;
    environment.listDevices = false;
    form = std::make_unique<TForm1>(environment);
    form->setBoxFunction(boxes.function());
    form->FormCreate();
  };
  ini = dir / "Vs32Rx.INI";
  startUploading("47391");
  EXPECT_TRUE(form->UploadSpot1->isChecked());
  EXPECT_EQ(form->Panels[7]->text(), "UPLOAD");
  startUploading("notaport");
  EXPECT_TRUE(form->UploadSpot1->isChecked());
  EXPECT_EQ(form->Panels[7]->text(), "no upload");
}

TEST(ProgramTest, VersionAndHelpAreAnsweredWithoutADisplay) {
  // No display at all: a program that needed one would fail to start.
  const std::vector<std::string> noDisplay = {"QT_QPA_PLATFORM=xcb", "DISPLAY="};
  const auto version =
      vs32::test::RunCommand({vs32::test::BuiltProgram("Vs32Rx"), "--version"}, "", noDisplay);
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, "Vs32Rx 1.4\n");
  const auto help =
      vs32::test::RunCommand({vs32::test::BuiltProgram("Vs32Rx"), "--help"}, "", noDisplay);
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("Usage: Vs32Rx", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("VS32_INI"), std::string::npos);
}

}  // namespace
}  // namespace vs32::gui
