#include "gui/myvsrx2.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <string>

#include "config/profile_file.h"
#include "engine/correlator.h"

namespace vs32::gui {

namespace {

constexpr int kClientWidth = 194;
constexpr int kClientHeight = 471;
constexpr int kMargin = 8;
constexpr int kLabelWidth = 124;  // labels left of the numeric fields
constexpr int kRowHeight = 22;
constexpr int kUpDownWidth = 16;

const char* const kNotShownHint = "This setting take effect only after restart";
const char* const kBlockingHint = "Call can be detected repeatly after blocking Time";

std::string Text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

std::string Text(const QWidget* field) {
  if (const auto* box = qobject_cast<const QComboBox*>(field)) {
    return box->currentText().toStdString();
  }
  return Text(qobject_cast<const QLineEdit*>(field));
}

void SetText(QWidget* field, const std::string& text) {
  if (auto* box = qobject_cast<QComboBox*>(field)) {
    box->setEditText(QString::fromStdString(text));
  } else {
    qobject_cast<QLineEdit*>(field)->setText(QString::fromStdString(text));
  }
}

}  // namespace

bool ConvertsAs(NumberKind kind, const QString& text) {
  const std::string value = text.toStdString();
  if (kind == NumberKind::kInteger) {
    int parsed = 0;
    return ParseSettingInt(value, parsed);
  }
  double parsed = 0;
  return ParseSettingDouble(value, parsed);
}

bool IsNumberInProgress(NumberKind kind, const QString& text) {
  static const QRegularExpression kInteger(QStringLiteral("^\\s*[+-]$"));
  static const QRegularExpression kDecimal(
      QStringLiteral("^\\s*[+-]?\\.?$|^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)[eE][+-]?$"));
  if (text.isEmpty()) return false;
  return (kind == NumberKind::kInteger ? kInteger : kDecimal).match(text).hasMatch();
}

QString ProbabilityText(double probability) {
  return QString::asprintf("%e", probability);
}

QColor ProbabilityColour(double probability) {
  return probability > 1e-7 ? QColor(255, 0, 0) : QColor(0, 128, 0);
}

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("Form2");
  setWindowTitle("Vs32Rx Setup");
  setFixedSize(kClientWidth, kClientHeight);
  setModal(false);
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);

  int y = kMargin;
  int labelNumber = 0;
  auto addLabel = [&](const QString& caption, int x, int top, int width) {
    auto* label = new QLabel(caption, this);
    ++labelNumber;
    if (labelNumber == 11 || labelNumber == 15) ++labelNumber;  // the two value labels
    label->setObjectName(QString("Label%1").arg(labelNumber));
    label->setGeometry(x, top, width, kRowHeight);
    return label;
  };
  auto addEdit = [&](const QString& name, const QString& text, int x, int top, int width) {
    auto* edit = new QLineEdit(text, this);
    edit->setObjectName(name);
    edit->setGeometry(x, top, width, kRowHeight);
    return edit;
  };
  auto addCombo = [&](const QString& name, const QStringList& items, const QString& text, int top) {
    auto* box = new QComboBox(this);
    box->setObjectName(name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    box->setEditText(text);
    box->setGeometry(kMargin + 80, top, kClientWidth - 2 * kMargin - 80, kRowHeight);
    return box;
  };

  // Station and band: short captions beside their fields.
  addLabel("My CALL:", kMargin, y, 80);
  Edit1 = addEdit("Edit1", "", kMargin + 80, y, kClientWidth - 2 * kMargin - 80);
  y += 26;
  addLabel("My QTH-loc:", kMargin, y, 80);
  Edit2 = addEdit("Edit2", "", kMargin + 80, y, kClientWidth - 2 * kMargin - 80);
  Edit2->setProperty("hint", kNotShownHint);
  y += 26;
  addLabel("Fdial [Hz]:", kMargin, y, 80);
  ComboBox1 = addCombo("ComboBox1", {"135000", "135500", "136000", "125000"}, "136000", y);
  y += 26;
  addLabel("Fcenter [Hz]:", kMargin, y, 80);
  ComboBox2 = addCombo("ComboBox2", {"2500", "2000", "1500", "12500"}, "1500", y);
  ComboBox2->setProperty("hint", kNotShownHint);
  y += 28;

  // Paths: caption above a full-width field.
  addLabel("Detected file:", kMargin, y, kClientWidth - 2 * kMargin);
  y += 18;
  Edit3 = addEdit("Edit3", "", kMargin, y, kClientWidth - 2 * kMargin);
  y += 26;
  addLabel("Capture path:", kMargin, y, kClientWidth - 2 * kMargin);
  y += 18;
  Edit4 = addEdit("Edit4", "", kMargin, y, kClientWidth - 2 * kMargin);
  y += 30;

  // Numbers with their up-down controls.
  const int editX = kMargin + kLabelWidth;
  const int editWidth = kClientWidth - kMargin - editX - kUpDownWidth;
  auto addNumber = [&](const QString& caption, const QString& editName, const QString& upName,
                       const QString& text, int minimum, int maximum, QLineEdit*& edit,
                       UpDown*& upDown) {
    QLabel* label = addLabel(caption, kMargin, y, kLabelWidth);
    edit = addEdit(editName, text, editX, y, editWidth);
    upDown = new UpDown(upName, edit, minimum, maximum, text.toInt(), this);
    upDown->setGeometry(editX + editWidth, y, kUpDownWidth, kRowHeight);
    y += 26;
    return label;
  };
  auto addProbability = [&](const QString& name) {
    addLabel("P_false_decode=", kMargin, y, 90);
    auto* value = new QLabel(this);
    value->setObjectName(name);
    value->setGeometry(kMargin + 90, y, kClientWidth - 2 * kMargin - 90, kRowHeight);
    y += 24;
    return value;
  };
  addNumber("Decode threshold [dB]:", "Edit5", "UpDown1", "4", -10, 20, Edit5, UpDown1);
  addNumber("Vesta dB offset [dB]:", "Edit6", "UpDown2", "-10", -30, 0, Edit6, UpDown2);
  addNumber("Correlator51 threshold :", "Edit7", "UpDown3", "44", 25, 50, Edit7, UpDown3);
  Label11 = addProbability("Label11");
  addNumber("Correlator239 threshold:", "Edit9", "UpDown5", "160", 119, 237, Edit9, UpDown5);
  Label15 = addProbability("Label15");
  addNumber("VSDS threshold [dB]:", "Edit8", "UpDown4", "0", -20, 20, Edit8, UpDown4);
  QLabel* blocking =
      addNumber("CALL blocking Time [s]:", "Edit10", "UpDown6", "120", 0, 1800, Edit10, UpDown6);
  blocking->setToolTip(kBlockingHint);
  Edit10->setToolTip(kBlockingHint);
  UpDown6->setToolTip(kBlockingHint);

  Button1 = new QPushButton("Apply", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(kMargin, kClientHeight - kMargin - 26, 84, 26);
  Button2 = new QPushButton("Cancel", this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(kClientWidth - kMargin - 84, kClientHeight - kMargin - 26, 84, 26);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);

  fields_ = {{{SettingId::kMyCall, Edit1},
              {SettingId::kMyLocator, Edit2},
              {SettingId::kDialHz, ComboBox1},
              {SettingId::kBandStartHz, ComboBox2},
              {SettingId::kLogFilePath, Edit3},
              {SettingId::kCapturePath, Edit4},
              {SettingId::kDecodeThreshold, Edit5},
              {SettingId::kDbOffset, Edit6},
              {SettingId::kCorrelator51Threshold, Edit7},
              {SettingId::kCorrelator237Threshold, Edit9},
              {SettingId::kVsdsThreshold, Edit8},
              {SettingId::kCallBlockSeconds, Edit10}}};
  // A number field accepts what its key's type parses.
  for (const KeyField& field : fields_) {
    const SettingType type = Setting(field.id).type();
    if (type == SettingType::kText) continue;
    const NumberKind kind =
        type == SettingType::kDouble ? NumberKind::kDecimal : NumberKind::kInteger;
    if (auto* box = qobject_cast<QComboBox*>(field.widget)) {
      connect(box, &QComboBox::editTextChanged, this,
              [this, box, kind] { CheckComboNumber(box, kind); });
    } else {
      auto* edit = qobject_cast<QLineEdit*>(field.widget);
      connect(edit, &QLineEdit::textChanged, this, [this, edit, kind] { CheckNumber(edit, kind); });
    }
  }
  ShowProbability(Edit7, 51, Label11);
  ShowProbability(Edit9, 237, Label15);
}

void TForm2::CheckNumber(QLineEdit* edit, NumberKind kind) {
  const QString text = edit->text();
  if (text.isEmpty() || IsNumberInProgress(kind, text)) return;
  if (!ConvertsAs(kind, text)) {
    edit->setText(text.chopped(1));  // runs this handler again
    return;
  }
  if (edit == Edit7) ShowProbability(Edit7, 51, Label11);
  if (edit == Edit9) ShowProbability(Edit9, 237, Label15);
}

void TForm2::CheckComboNumber(QComboBox* box, NumberKind kind) {
  const QString text = box->currentText();
  if (text.isEmpty() || IsNumberInProgress(kind, text)) return;
  if (!ConvertsAs(kind, text)) box->setEditText(text.chopped(1));
}

void TForm2::ShowProbability(QLineEdit* edit, int positions, QLabel* label) {
  int threshold = 0;
  if (!ParseSettingInt(Text(edit), threshold)) return;
  const double probability = FalseDecodeProbability(positions, threshold);
  label->setText(ProbabilityText(probability));
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, ProbabilityColour(probability));
  label->setPalette(palette);
}

void TForm2::Fill(const ReceiverSettings& settings) {
  auto truncated = [](double value) {
    return static_cast<int>(std::clamp(std::trunc(value), -1e9, 1e9));
  };
  // Positions first: each writes its edit, which then gets the exact value.
  UpDown1->setPosition(truncated(settings.decodeThreshold));
  UpDown2->setPosition(truncated(settings.dbOffset));
  UpDown3->setPosition(settings.correlator51Threshold);
  UpDown5->setPosition(settings.correlator237Threshold);
  UpDown4->setPosition(truncated(settings.vsdsThreshold));
  for (const KeyField& field : fields_) {
    SetText(field.widget, SettingText(Setting(field.id), settings));
  }
}

std::string TForm2::FieldText(SettingId id) const {
  for (const KeyField& field : fields_) {
    if (field.id == id) return Text(field.widget);
  }
  return {};
}

void TForm2::Open(const ReceiverSettings& settings) {
  Fill(settings);
  if (parentWidget() != nullptr) {
    const QRect owner = parentWidget()->frameGeometry();
    move(owner.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
  activateWindow();
}

void TForm2::Button1Click() {
  ProfileFile file(iniPath_);
  std::string error;
  bool written = true;
  // One guarded sequence: the first number that does not convert ends it.
  for (const SettingKey* key : PassKeys(KeyPass::kDialogApply)) {
    std::string text;
    if (key->rule == SettingRule::kLogHeader) {
      text = DefaultLogHeader(Program::kWindowed, FieldText(SettingId::kMyCall),
                              FieldText(SettingId::kMyLocator));
    } else if (!TypedSettingText(*key, FieldText(key->id), text)) {
      break;
    }
    if (written) written = file.WriteString(key->section, key->key, text, &error);
  }
  if (!written && message_) {
    message_("Vs32Rx Setup",
             QString::fromStdString("Cannot write settings to " + iniPath_.string() + ": " + error),
             true);
  }
  hide();
  if (apply_) apply_();
}

void TForm2::Button2Click() {
  hide();
}

}  // namespace vs32::gui
