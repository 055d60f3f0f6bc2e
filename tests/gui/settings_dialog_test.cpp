// The settings dialog on its own: filling, input checking, the probability
// labels, and what Apply and Cancel write into the INI file.
#include "gui/myvsrx2.h"

#include <gtest/gtest.h>

#include "config/profile_file.h"
#include "engine/correlator.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace vs32::gui {
namespace {

using test::App;

class SettingsDialogTest : public test::WithApp, public ::testing::Test {
 protected:
  void SetUp() override {
    ini = dir / "Vs32Rx.INI";
    dialog.setIniPath(ini);
    dialog.setApplyFunction([this] { ++applied; });
    dialog.setMessageFunction(
        [this](const QString& caption, const QString&, bool) { messages.push_back(caption); });
    settings = DefaultSettings(Program::kWindowed);
    settings.myCall = "Q9XYZ";
    settings.myLocator = "JO01AA";
    settings.decodeThreshold = 4.5;
  }
  std::string Key(const char* key, const char* section = "VS-32") {
    return ProfileFile(ini).ReadString(section, key, "<missing>");
  }

  vs32::test::TempDir dir;
  std::filesystem::path ini;
  TForm2 dialog;
  ReceiverSettings settings;
  int applied = 0;
  std::vector<QString> messages;
};

TEST_F(SettingsDialogTest, DesignCaptionSizeAndDefaults) {
  EXPECT_EQ(dialog.windowTitle(), "Vs32Rx Setup");
  EXPECT_EQ(dialog.size(), QSize(194, 471));
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dialog.ComboBox1->currentText(), "136000");
  EXPECT_EQ(dialog.ComboBox2->currentText(), "1500");
  ASSERT_EQ(dialog.ComboBox1->count(), 4);
  EXPECT_EQ(dialog.ComboBox1->itemText(3), "125000");
  EXPECT_EQ(dialog.ComboBox2->itemText(3), "12500");
  EXPECT_EQ(dialog.Edit5->text(), "4");
  EXPECT_EQ(dialog.Edit6->text(), "-10");
  EXPECT_EQ(dialog.Edit7->text(), "44");
  EXPECT_EQ(dialog.Edit9->text(), "160");
  EXPECT_EQ(dialog.Edit8->text(), "0");
  EXPECT_EQ(dialog.Edit10->text(), "120");
  EXPECT_EQ(dialog.Edit10->toolTip(), "Call can be detected repeatly after blocking Time");
  EXPECT_EQ(dialog.Edit2->toolTip(), "");  // a hint that is not shown
  EXPECT_EQ(dialog.UpDown1->minimum(), -10);
  EXPECT_EQ(dialog.UpDown1->maximum(), 20);
  EXPECT_EQ(dialog.UpDown2->minimum(), -30);
  EXPECT_EQ(dialog.UpDown3->maximum(), 50);
  EXPECT_EQ(dialog.UpDown5->minimum(), 119);
  EXPECT_EQ(dialog.UpDown5->maximum(), 237);
  EXPECT_EQ(dialog.UpDown6->maximum(), 1800);
  EXPECT_EQ(dialog.findChild<QLabel*>("Label11"), dialog.Label11);
  EXPECT_EQ(dialog.Button1->text(), "Apply");
  EXPECT_EQ(dialog.Button2->text(), "Cancel");
}

TEST_F(SettingsDialogTest, FillShowsTheSettingsInShortestForm) {
  settings.bandStartHz = 2450;
  settings.dialHz = 135500.5;
  settings.correlator51Threshold = 46;
  settings.callBlockSeconds = 900;
  dialog.Open(settings);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.Edit1->text(), "Q9XYZ");
  EXPECT_EQ(dialog.Edit2->text(), "JO01AA");
  EXPECT_EQ(dialog.ComboBox1->currentText(), "135500.5");
  EXPECT_EQ(dialog.ComboBox2->currentText(), "2500");
  EXPECT_EQ(dialog.Edit3->text(), "my_detected.txt");
  EXPECT_EQ(dialog.Edit4->text(), "Capture/");
  EXPECT_EQ(dialog.Edit5->text(), "4.5");
  EXPECT_EQ(dialog.UpDown1->position(), 4);
  EXPECT_EQ(dialog.Edit6->text(), "-10");
  EXPECT_EQ(dialog.Edit7->text(), "46");
  EXPECT_EQ(dialog.Edit10->text(), "900");
  // The labels were brought up to date by the filling.
  EXPECT_EQ(dialog.Label11->text(), ProbabilityText(FalseDecodeProbability(51, 46)));
  EXPECT_EQ(dialog.Label15->text(), ProbabilityText(FalseDecodeProbability(237, 159)));
}

TEST_F(SettingsDialogTest, TextThatIsNotANumberIsCutBack) {
  dialog.Edit10->clear();
  QTest::keyClicks(dialog.Edit10, "12");
  QTest::keyClicks(dialog.Edit10, "x");
  EXPECT_EQ(dialog.Edit10->text(), "12");  // the letter went at once
  dialog.Edit10->setText("12a3");          // the last character goes until it converts
  EXPECT_EQ(dialog.Edit10->text(), "12");
  dialog.Edit10->setText("abc");
  EXPECT_EQ(dialog.Edit10->text(), "");
  dialog.Edit5->setText("4.5");
  EXPECT_EQ(dialog.Edit5->text(), "4.5");
  dialog.Edit7->setText("4.5");  // an integer field takes no decimals
  EXPECT_EQ(dialog.Edit7->text(), "4");
  dialog.ComboBox1->setEditText("136000k");
  EXPECT_EQ(dialog.ComboBox1->currentText(), "136000");
}

TEST_F(SettingsDialogTest, NegativeNumbersCanBeTypedCharacterByCharacter) {
  dialog.Edit6->clear();
  QTest::keyClicks(dialog.Edit6, "-15");
  EXPECT_EQ(dialog.Edit6->text(), "-15");
  dialog.Edit8->clear();
  QTest::keyClicks(dialog.Edit8, "-.5");
  EXPECT_EQ(dialog.Edit8->text(), "-.5");
  dialog.Edit8->setText("-x");
  EXPECT_EQ(dialog.Edit8->text(), "-");
  EXPECT_TRUE(IsNumberInProgress(NumberKind::kDecimal, "2e-"));
  EXPECT_FALSE(IsNumberInProgress(NumberKind::kInteger, "1."));
  EXPECT_FALSE(IsNumberInProgress(NumberKind::kDecimal, "e"));
}

TEST_F(SettingsDialogTest, ProbabilityLabelTurnsRedBelowTheThresholdGiving1e7) {
  // The lowest Correlator51 threshold that still keeps the label green.
  int greenFrom = -1;
  for (int t = 25; t <= 51; ++t) {
    if (FalseDecodeProbability(51, t) <= 1e-7) {
      greenFrom = t;
      break;
    }
  }
  ASSERT_GT(greenFrom, 25);
  dialog.Edit7->setText(QString::number(greenFrom));
  EXPECT_EQ(dialog.Label11->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_EQ(dialog.Label11->text(), ProbabilityText(FalseDecodeProbability(51, greenFrom)));
  EXPECT_TRUE(dialog.Label11->text().contains("e-"));
  dialog.UpDown3->StepDown();
  EXPECT_EQ(dialog.Edit7->text(), QString::number(greenFrom - 1));
  EXPECT_EQ(dialog.Label11->palette().color(QPalette::WindowText), QColor(255, 0, 0));

  dialog.Edit9->setText("119");
  EXPECT_EQ(dialog.Label15->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  dialog.Edit9->setText("200");
  EXPECT_EQ(dialog.Label15->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_EQ(ProbabilityText(1.5e-9), "1.500000e-09");
}

TEST_F(SettingsDialogTest, UpDownStepsFromTheShownNumberWithinItsRange) {
  dialog.Edit5->setText("7.8");
  dialog.UpDown1->StepUp();
  EXPECT_EQ(dialog.Edit5->text(), "8");
  dialog.Edit5->setText("20");
  dialog.UpDown1->StepUp();
  EXPECT_EQ(dialog.Edit5->text(), "20");  // no wrap
  dialog.Edit6->setText("-30");
  dialog.UpDown2->StepDown();
  EXPECT_EQ(dialog.Edit6->text(), "-30");
  auto* up = dialog.findChild<QWidget*>("UpDown6Up");
  ASSERT_NE(up, nullptr);
  dialog.Edit10->setText("120");
  QTest::mouseClick(up, Qt::LeftButton);
  EXPECT_EQ(dialog.Edit10->text(), "121");
}

TEST_F(SettingsDialogTest, ApplyWritesEveryKeyAndReplacesAHandEditedHeader) {
  ProfileFile(ini).WriteString("VS-32", "MYHEADER", "my own header");
  dialog.Open(settings);
  dialog.Edit1->setText("Q1ABC");
  dialog.Edit2->setText("KO85");
  dialog.ComboBox2->setEditText("6000.0");
  dialog.Edit6->setText("-12.5");
  dialog.Edit10->setText("300");
  dialog.Button1Click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(Key("MYCALL"), "Q1ABC");
  EXPECT_EQ(Key("MYQTH"), "KO85");
  EXPECT_EQ(Key("FILE"), "my_detected.txt");
  EXPECT_EQ(Key("CAPTURE_PATH"), "Capture/");
  EXPECT_EQ(Key("MYHEADER"), "Q1ABC KO85 Vesta-32 decoded (Vs32Rx ZZ0ZZZ software)");
  EXPECT_EQ(Key("F_CENTER"), "6000");
  EXPECT_EQ(Key("F_DIAL"), "136000");
  EXPECT_EQ(Key("VESTA_DB_OFFSET"), "-12.5");
  EXPECT_EQ(Key("VS_THRESHOLD"), "4.5");
  EXPECT_EQ(Key("VSDS_THRESHOLD"), "1");
  EXPECT_EQ(Key("CORRELATOR_51_THRESHOLD"), "45");
  EXPECT_EQ(Key("CORRELATOR_237_THRESHOLD"), "159");
  EXPECT_EQ(Key("TIME_CALL_BLOCKED"), "300");
  EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsDialogTest, ApplyWritesWhatFillShowedUnderEachOfItsKeys) {
  // A different value for each key the dialog writes: a key without a field
  // of its own, or a value its field does not carry through, shows in the file.
  const std::vector<const SettingKey*> keys = PassKeys(KeyPass::kDialogApply);
  for (size_t i = 0; i < keys.size(); ++i) {
    const SettingType type = keys[i]->type();
    const std::string text = type == SettingType::kText     ? "T" + std::to_string(i)
                             : type == SettingType::kDouble ? std::to_string(1000 + i) + ".25"
                                                            : std::to_string(1000 + i);
    ApplySettingText(*keys[i], text, Program::kWindowed, settings);
  }
  dialog.Open(settings);
  dialog.Button1Click();
  for (const SettingKey* key : keys) {
    const std::string expected =
        key->rule == SettingRule::kLogHeader
            ? DefaultLogHeader(Program::kWindowed, settings.myCall, settings.myLocator)
            : SettingText(*key, settings);
    EXPECT_EQ(Key(key->key, key->section), expected) << key->key;
  }
}

TEST_F(SettingsDialogTest, ApplyStopsAtTheFirstFieldThatDoesNotConvert) {
  dialog.Open(settings);
  dialog.ComboBox1->setEditText("");
  dialog.Button1Click();
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(Key("MYCALL"), "Q9XYZ");
  EXPECT_EQ(Key("MYHEADER"), "Q9XYZ JO01AA Vesta-32 decoded (Vs32Rx ZZ0ZZZ software)");
  EXPECT_EQ(Key("F_CENTER"), "1500");
  for (const char* key :
       {"F_DIAL", "VESTA_DB_OFFSET", "VS_THRESHOLD", "VSDS_THRESHOLD", "CORRELATOR_51_THRESHOLD",
        "CORRELATOR_237_THRESHOLD", "TIME_CALL_BLOCKED"}) {
    EXPECT_EQ(Key(key), "<missing>") << key;
  }
  // A number still being typed counts as not converting.
  dialog.Open(settings);
  dialog.Edit8->setText("-");
  dialog.Button1Click();
  EXPECT_EQ(Key("VS_THRESHOLD"), "4.5");
  EXPECT_EQ(Key("VSDS_THRESHOLD"), "<missing>");
}

TEST_F(SettingsDialogTest, CancelWritesNothing) {
  dialog.Open(settings);
  dialog.Edit1->setText("Q1ABC");
  dialog.Edit10->setText("5");
  dialog.Button2Click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(applied, 0);
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(SettingsDialogTest, AnUnwritableFileIsReported) {
  vs32::test::WriteFile(ini, "[VS-32]\n");
  std::filesystem::permissions(ini, std::filesystem::perms::owner_read);
  dialog.Open(settings);
  dialog.Button1Click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Vs32Rx Setup");
  EXPECT_EQ(applied, 1);
}

}  // namespace
}  // namespace vs32::gui
