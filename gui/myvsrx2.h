// The settings dialog TForm2: station data, band, log and capture paths,
// decoder thresholds and blocking time, with the false-decode probability of
// each correlator threshold. Apply writes the INI keys and asks the main
// window to re-apply them; Cancel writes nothing.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <filesystem>
#include <functional>
#include <string>

#include "config/settings.h"
#include "gui/up_down.h"

namespace vs32::gui {

// How a numeric field converts its text.
enum class NumberKind { kDecimal, kInteger };

// True when the whole text converts as the field requires.
bool ConvertsAs(NumberKind kind, const QString& text);

// A text on the way to a number that does not convert yet: a sign, a decimal
// point, or an exponent without its digits ("-", "-.", "2e-"). It may stay in
// the field while the user types on.
bool IsNumberInProgress(NumberKind kind, const QString& text);

// The probability label's text ("%e") and colour (red above 1e-7, else green).
QString ProbabilityText(double probability);
QColor ProbabilityColour(double probability);

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  using MessageFunction =
      std::function<void(const QString& caption, const QString& text, bool warning)>;

  explicit TForm2(QWidget* parent = nullptr);

  void setIniPath(const std::filesystem::path& path) { iniPath_ = path; }
  void setMessageFunction(MessageFunction function) { message_ = std::move(function); }
  // Called after Apply has written the keys and hidden the dialog.
  void setApplyFunction(std::function<void()> function) { apply_ = std::move(function); }

  // Fills the fields from the settings and shows the dialog (not modal).
  void Open(const ReceiverSettings& settings);
  void Fill(const ReceiverSettings& settings);

  void Button1Click();  // Apply
  void Button2Click();  // Cancel

  QLineEdit* Edit1 = nullptr;      // My CALL
  QLineEdit* Edit2 = nullptr;      // My QTH-loc
  QComboBox* ComboBox1 = nullptr;  // Fdial
  QComboBox* ComboBox2 = nullptr;  // Fcenter
  QLineEdit* Edit3 = nullptr;      // Detected file
  QLineEdit* Edit4 = nullptr;      // Capture path
  QLineEdit* Edit5 = nullptr;      // Decode threshold
  QLineEdit* Edit6 = nullptr;      // Vesta dB offset
  QLineEdit* Edit7 = nullptr;      // Correlator51 threshold
  QLineEdit* Edit9 = nullptr;      // Correlator239 threshold
  QLineEdit* Edit8 = nullptr;      // VSDS threshold
  QLineEdit* Edit10 = nullptr;     // CALL blocking time
  UpDown* UpDown1 = nullptr;
  UpDown* UpDown2 = nullptr;
  UpDown* UpDown3 = nullptr;
  UpDown* UpDown5 = nullptr;
  UpDown* UpDown4 = nullptr;
  UpDown* UpDown6 = nullptr;
  QLabel* Label11 = nullptr;  // P_false_decode of Correlator51
  QLabel* Label15 = nullptr;  // P_false_decode of Correlator239
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;

 private:
  // The field (a line edit or a combo box) that shows a key the dialog writes.
  struct KeyField {
    SettingId id;
    QWidget* widget;
  };

  void CheckNumber(QLineEdit* edit, NumberKind kind);
  void CheckComboNumber(QComboBox* box, NumberKind kind);
  void ShowProbability(QLineEdit* edit, int positions, QLabel* label);
  // The text of the key's field; empty when the dialog has no field for it.
  std::string FieldText(SettingId id) const;

  std::array<KeyField, 12> fields_{};

  std::filesystem::path iniPath_;
  MessageFunction message_;
  std::function<void()> apply_;
};

}  // namespace vs32::gui
