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

const char* const kSection = "VS-32";
const char* const kNotShownHint = "This setting take effect only after restart";
const char* const kBlockingHint = "Call can be detected repeatly after blocking Time";

std::string Text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

std::string Text(const QComboBox* box) {
  return box->currentText().toStdString();
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

  connect(ComboBox1, &QComboBox::editTextChanged, this, [this] { CheckComboNumber(ComboBox1); });
  connect(ComboBox2, &QComboBox::editTextChanged, this, [this] { CheckComboNumber(ComboBox2); });
  for (QLineEdit* edit : {Edit5, Edit6, Edit8}) {
    connect(edit, &QLineEdit::textChanged, this,
            [this, edit] { CheckNumber(edit, NumberKind::kDecimal); });
  }
  for (QLineEdit* edit : {Edit7, Edit9, Edit10}) {
    connect(edit, &QLineEdit::textChanged, this,
            [this, edit] { CheckNumber(edit, NumberKind::kInteger); });
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

void TForm2::CheckComboNumber(QComboBox* box) {
  const QString text = box->currentText();
  if (text.isEmpty() || IsNumberInProgress(NumberKind::kDecimal, text)) return;
  if (!ConvertsAs(NumberKind::kDecimal, text)) box->setEditText(text.chopped(1));
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
  auto decimal = [](double value) { return QString::fromStdString(FormatSettingDouble(value)); };
  auto truncated = [](double value) {
    return static_cast<int>(std::clamp(std::trunc(value), -1e9, 1e9));
  };
  Edit1->setText(QString::fromStdString(settings.myCall));
  Edit2->setText(QString::fromStdString(settings.myLocator));
  ComboBox1->setEditText(decimal(settings.dialHz));
  ComboBox2->setEditText(decimal(settings.bandStartHz + 50));
  Edit3->setText(QString::fromStdString(settings.logFilePath));
  Edit4->setText(QString::fromStdString(settings.capturePath));
  UpDown1->setPosition(truncated(settings.decodeThreshold));
  Edit5->setText(decimal(settings.decodeThreshold));
  UpDown2->setPosition(truncated(settings.dbOffset));
  Edit6->setText(decimal(settings.dbOffset));
  UpDown3->setPosition(settings.correlator51Threshold);
  Edit7->setText(QString::number(settings.correlator51Threshold));
  UpDown5->setPosition(settings.correlator237Threshold);
  Edit9->setText(QString::number(settings.correlator237Threshold));
  UpDown4->setPosition(truncated(settings.vsdsThreshold));
  Edit8->setText(decimal(settings.vsdsThreshold));
  Edit10->setText(QString::number(settings.callBlockSeconds));
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
  auto write = [&](const char* key, const std::string& value) {
    if (written) written = file.WriteString(kSection, key, value, &error);
  };
  write("MYCALL", Text(Edit1));
  write("MYQTH", Text(Edit2));
  write("FILE", Text(Edit3));
  write("CAPTURE_PATH", Text(Edit4));
  write("MYHEADER", DefaultLogHeader(Program::kWindowed, Text(Edit1), Text(Edit2)));

  // One guarded sequence: the first field that does not convert ends it.
  struct Field {
    const char* key;
    std::string text;
    NumberKind kind;
  };
  const Field fields[] = {
      {"F_CENTER", Text(ComboBox2), NumberKind::kDecimal},
      {"F_DIAL", Text(ComboBox1), NumberKind::kDecimal},
      {"VESTA_DB_OFFSET", Text(Edit6), NumberKind::kDecimal},
      {"VS_THRESHOLD", Text(Edit5), NumberKind::kDecimal},
      {"VSDS_THRESHOLD", Text(Edit8), NumberKind::kDecimal},
      {"CORRELATOR_51_THRESHOLD", Text(Edit7), NumberKind::kInteger},
      {"CORRELATOR_237_THRESHOLD", Text(Edit9), NumberKind::kInteger},
      {"TIME_CALL_BLOCKED", Text(Edit10), NumberKind::kInteger},
  };
  for (const Field& field : fields) {
    if (field.kind == NumberKind::kDecimal) {
      double value = 0;
      if (!ParseSettingDouble(field.text, value)) break;
      write(field.key, FormatSettingDouble(value));
    } else {
      int value = 0;
      if (!ParseSettingInt(field.text, value)) break;
      write(field.key, std::to_string(value));
    }
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
