#include "gui/myvsrx1.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMenuBar>
#include <QTextBlock>
#include <QTextCursor>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "audio/sound_device.h"
#include "audio/wav_file.h"
#include "config/band_plan.h"
#include "config/ini_path.h"
#include "config/profile_file.h"
#include "gui/displays.h"
#include "gui/help_texts.h"
#include "gui/myvsrx2.h"
#include "gui/settings_io.h"
#include "report/decode_log.h"

namespace vs32::gui {

namespace {

constexpr int kClientWidth = 628;
constexpr int kClientHeight = 422;
constexpr int kStatusTop = 403;
constexpr int kStatusHeight = 19;
constexpr int kPanelWidths[8] = {80, 80, 80, 100, 150, 70, 20, 50};
const char* const kPanelTexts[8] = {
    "Dial=", "Fc=", "", "Volume=", "SndInp", "N_MAX", "Overflow", "Upload"};
const char* const kSpectrumHint = "Click to decode on this frequency";
const QColor kMemoText(0, 0, 128);

// The framework's shortest decimal text of a number.
QString Shortest(double value) {
  return QString::fromStdString(FormatSettingDouble(value));
}

QString PeakSpacingCaption(int channels) {
  return QString::number(channels) + " (" + Shortest(ChannelsToHz(channels)) + " Hz)";
}

}  // namespace

void SetUpApplication() {
  QApplication::setApplicationName(kApplicationTitle);
}

// The worker's messages, forwarded to the main thread. A call that arrives
// after the window is gone is dropped by Qt with the window's context.
class TForm1::Events : public ReceiverEvents {
 public:
  explicit Events(TForm1* form) : form_(form) {}

  void PeaksSelected(int count) override {
    QMetaObject::invokeMethod(
        form_,
        [form = form_, count] {
          form->Panels[5]->setText(QString("%1/%2").arg(count).arg(kChannels));
        },
        Qt::QueuedConnection);
  }
  void WavEnded() override {
    QMetaObject::invokeMethod(
        form_, [form = form_] { form->WavEnded(); }, Qt::QueuedConnection);
  }
  void Ambiguity(const char* text) override {
    const QString copy = QString::fromUtf8(text);
    QMetaObject::invokeMethod(
        form_, [form = form_, copy] { form->Panels[4]->setText(copy); }, Qt::QueuedConnection);
  }
  void Warning(const char* text, const char* caption) override {
    const QString textCopy = QString::fromUtf8(text);
    const QString captionCopy = QString::fromUtf8(caption);
    QMetaObject::invokeMethod(
        form_, [form = form_, textCopy, captionCopy] { form->SoundWarning(captionCopy, textCopy); },
        Qt::QueuedConnection);
  }

 private:
  TForm1* form_;
};

// Results processing's outputs: lines into the decode list, captures of the
// waterfall.
class TForm1::Output : public ResultsOutput {
 public:
  explicit Output(TForm1* form) : form_(form) {}
  void ShowLine(std::string_view line) override {
    form_->InsertMemoLine(1, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
  }
  void CaptureWaterfall(int channel, std::string_view call, const std::string& path,
                        const std::string& caption) override {
    form_->ShowCapture(channel, std::string(call), path, caption);
  }

 private:
  TForm1* form_;
};

// Spots through the reporter; every attempt shows its outcome in panel 7.
class TForm1::Spots : public SpotSender {
 public:
  explicit Spots(TForm1* form)
      : form_(form),
        sender_(form->reporter_, form->reporterRecord_, form->settings_, Program::kWindowed) {}
  bool Send(std::string_view call, std::string_view locator, float frequencyHz,
            float reportDb) override {
    const bool sent = sender_.Send(call, locator, frequencyHz, reportDb);
    if (form_->settings_.uploadSpots) form_->Panels[7]->setText(sent ? "UPLOAD" : "no upload");
    return sent;
  }
  void Tickle() override { sender_.Tickle(); }

 private:
  TForm1* form_;
  ReporterSpotSender sender_;
};

TForm1::TForm1(FormEnvironment environment, QWidget* parent)
    : QMainWindow(parent),
      environment_(std::move(environment)),
      events_(std::make_unique<Events>(this)),
      output_(std::make_unique<Output>(this)),
      sound_(std::make_unique<SoundDevice>(ForwardWarnings(events_.get()))),
      receiver_(std::make_unique<Receiver>(Program::kWindowed, ReceiverSettings(), *output_,
                                           events_.get())),
      settings_(receiver_->settings()),
      snapshot_(std::make_unique<DisplaySnapshot>()) {
  setObjectName("Form1");
  setWindowTitle(kWindowCaption);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  spots_ = std::make_unique<Spots>(this);
  receiver_->SetSpotSender(spots_.get());
  receiver_->AttachSound(*sound_);
  CreateControls();
  CreateMenus();
  layout()->setSizeConstraint(QLayout::SetFixedSize);  // single fixed border
  form2_ = new TForm2(this);
  form2_->setMessageFunction([this](const QString& caption, const QString& text, bool warning) {
    MessageBox(warning ? BoxIcon::kWarning : BoxIcon::kInformation, caption, text);
  });
  form2_->setApplyFunction([this] { ReloadSettings(); });
  wavChooser_ = [this] {
    QFileDialog dialog(this, "Open WAV-file to decode (must be 12 ksps, 16 bit)", QString(),
                       "wav (*.wav)");
    dialog.setObjectName("OpenDialog1");
    dialog.setDefaultSuffix("wav");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().front();
  };
}

TForm1::~TForm1() {
  Timer1->stop();
  StopWorker();
}

void TForm1::CreateControls() {
  // The client area holds every control at its design position, the status
  // bar included, so the window keeps its designed size.
  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  Image1 = new ImageView("Image1", 617, 40, client);
  Image1->setGeometry(8, 0, 617, 40);
  Image1->setToolTip("Double Click to view input signal");
  Image2 = new ImageView("Image2", 617, 60, client);
  Image2->setGeometry(8, 42, 617, 60);
  Image3 = new ImageView("Image3", 617, 240, client);
  Image3->setGeometry(8, 104, 617, 240);
  for (ImageView* image : {Image2, Image3}) {
    image->setToolTip(kSpectrumHint);
    image->setCursor(Qt::CrossCursor);
    connect(image, &ImageView::pressed, this, [this, image](int x, int, Qt::MouseButton button) {
      ImageMouseDown(image, x, button);
    });
  }
  connect(Image1, &ImageView::doubleClicked, this, &TForm1::Image1DblClick);

  // The decode list lies over the lower part of the waterfall, as designed.
  Memo1 = new QPlainTextEdit(client);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(8, 240, 617, 161);
  QFont courier("Courier");
  courier.setStyleHint(QFont::TypeWriter);
  courier.setFixedPitch(true);
  courier.setPixelSize(13);
  Memo1->setFont(courier);
  QPalette palette = Memo1->palette();
  palette.setColor(QPalette::Text, kMemoText);
  Memo1->setPalette(palette);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  Memo1->raise();

  StatusBar1 = new QStatusBar(client);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setGeometry(0, kStatusTop, kClientWidth, kStatusHeight);
  StatusBar1->setSizeGripEnabled(false);
  // A narrow face, so that "Dial=136000Hz" fits the designed 80 pixels.
  QFont narrow;
  narrow.setPixelSize(11);
  narrow.setStretch(QFont::Condensed);
  int x = 0;
  for (int i = 0; i < 8; ++i) {
    auto* panel = new QLabel(kPanelTexts[i], StatusBar1);
    panel->setObjectName(QString("Panel%1").arg(i));
    panel->setFont(narrow);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(1);
    panel->setGeometry(x, 1, kPanelWidths[i] - 2, kStatusHeight - 2);
    x += kPanelWidths[i];
    Panels[i] = panel;
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTimerIntervalMs);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

QAction* TForm1::AddSwitch(QMenu* menu, const char* name, const char* caption, Switch* value) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  action->setCheckable(true);
  action->setChecked(true);
  if (value != nullptr) {
    connect(action, &QAction::triggered, this, [value](bool checked) { *value = checked; });
  }
  return action;
}

void TForm1::CreateMenus() {
  auto named = [](QAction* action, const char* name) {
    action->setObjectName(name);
    return action;
  };
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");

  QMenu* file = bar->addMenu("File");
  file->setObjectName("File1");
  DecodeWAVfile1 = named(file->addAction("Decode WAV-file..."), "DecodeWAVfile1");
  file->addSeparator();
  Exit1 = named(file->addAction("Exit"), "Exit1");
  connect(DecodeWAVfile1, &QAction::triggered, this, &TForm1::DecodeWAVfile1Click);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);

  QMenu* view = bar->addMenu("View");
  view->setObjectName("View1");
  Oscillogramm1 = AddSwitch(view, "Oscillogramm1", "Oscillogramm", &settings_.oscillogramVisible);
  Spectrum1 = AddSwitch(view, "Spectrum1", "Spectrum", &settings_.spectrumVisible);
  Waterfall1 = AddSwitch(view, "Waterfall1", "Waterfall", &settings_.waterfallVisible);
  connect(Oscillogramm1, &QAction::toggled, this, [this](bool on) { Image1->setVisible(on); });
  connect(Spectrum1, &QAction::toggled, this, [this](bool on) { Image2->setVisible(on); });
  connect(Waterfall1, &QAction::toggled, this, [this](bool on) { Image3->setVisible(on); });

  QMenu* settings = bar->addMenu("Settings");
  settings->setObjectName("Settings1");
  SoundInput1 = settings->addMenu("Select Sound Input");
  SoundInput1->setObjectName("SoundInput1");
  SoundInput1->menuAction()->setObjectName("SoundInput1");
  auto* soundGroup = new QActionGroup(this);
  default1 = named(SoundInput1->addAction("default"), "default1");
  default1->setCheckable(true);
  default1->setChecked(true);
  soundGroup->addAction(default1);
  connect(default1, &QAction::triggered, this, [this] { SelectSoundInput(-1); });
  SoundInput1->addSeparator();
  for (int i = 0; i < 9; ++i) {
    QAction* item = SoundInput1->addAction(QString("device%1").arg(i));
    item->setObjectName("device" + QString::number(i) + "1");
    item->setCheckable(true);
    item->setVisible(i == 0);
    soundGroup->addAction(item);
    connect(item, &QAction::triggered, this, [this, i] { SelectSoundInput(i); });
    devices[i] = item;
  }

  settings->addSeparator();
  CaptureSpectrum1 =
      AddSwitch(settings, "CaptureSpectrum1", "Capture Spectrum", &settings_.captureEnabled);
  settings->addSeparator();
  IgnoreLoran1 =
      AddSwitch(settings, "IgnoreLoran1", "Ignore Loran Lines", &settings_.ignoreLoranLines);
  UseFreqList1 = AddSwitch(settings, "UseFreqList1", "Use Freq List", &settings_.useFrequencyList);
  UseKnownCallsList1 =
      AddSwitch(settings, "UseKnownCallsList1", "Use Known Calls List (strongly recomended!)",
                &settings_.useKnownCallsList);
  settings->addSeparator();
  DeepDecoder1 = AddSwitch(settings, "DeepDecoder1", "Deep Decoder", &settings_.deepDecoder);
  UltraDeepDecoder1 = AddSwitch(settings, "UltraDeepDecoder1", "Ultra Deep Decoder (High CPU load)",
                                &settings_.ultraDeepDecoder);
  connect(UltraDeepDecoder1, &QAction::triggered, this, [this](bool checked) {
    // Ultra Deep extends the Deep list: switching it on switches Deep on too.
    if (checked) {
      DeepDecoder1->setChecked(true);
      settings_.deepDecoder = true;
    }
  });
  ListDecoder1 =
      AddSwitch(settings, "ListDecoder1", "List Decoder (best-first)", &settings_.listDecoder);
  // The best-first list replaces the Deep and Ultra Deep lists: one or the other.
  connect(ListDecoder1, &QAction::triggered, this, [this](bool checked) {
    if (checked) ClearShortLists();
  });
  for (QAction* shortList : {DeepDecoder1, UltraDeepDecoder1}) {
    connect(shortList, &QAction::triggered, this, [this](bool checked) {
      if (checked) {
        ListDecoder1->setChecked(false);
        settings_.listDecoder = false;
      }
    });
  }
  CorrelationVSDS1 =
      AddSwitch(settings, "CorrelationVSDS1", "Use Correlator", &settings_.useCorrelator);
  settings->addSeparator();
  CoherentDetector1 = AddSwitch(settings, "CoherentDetector1", "Coherent Detector (CPU load)",
                                &settings_.coherentDetector);
  settings->addSeparator();

  Pea1 = settings->addMenu("Peak Number");
  Pea1->setObjectName("Pea1");
  Pea1->menuAction()->setObjectName("Pea1");
  auto* numberGroup = new QActionGroup(this);
  auto addRadio = [this](QMenu* menu, QActionGroup* group, const QString& name,
                         const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setCheckable(true);
    group->addAction(action);
    return action;
  };
  auto1 = addRadio(Pea1, numberGroup, "auto1", "auto");
  auto1->setChecked(true);
  connect(auto1, &QAction::triggered, this, [this] { settings_.maxPeaks = -1; });
  Pea1->addSeparator();
  for (int i = 0; i < 10; ++i) {
    const int peaks = (i + 1) * 10;
    QAction* item =
        addRadio(Pea1, numberGroup, "N" + QString::number(peaks) + "1", QString::number(peaks));
    connect(item, &QAction::triggered, this, [this, peaks] { settings_.maxPeaks = peaks; });
    peakNumbers[i] = item;
  }
  user2 = addRadio(Pea1, numberGroup, "user2", "user");
  user2->setVisible(false);
  connect(user2, &QAction::triggered, this, [this] { settings_.maxPeaks = userPeakNumber_; });

  PeakSpacing1 = settings->addMenu("Peak Spacing");
  PeakSpacing1->setObjectName("PeakSpacing1");
  PeakSpacing1->menuAction()->setObjectName("PeakSpacing1");
  auto* spacingGroup = new QActionGroup(this);
  for (int k = 0; k <= 10; ++k) {
    const QString name = k < 10 ? "N" + QString::number(k) + "1" : QString("N102");
    QAction* item = addRadio(PeakSpacing1, spacingGroup, name, QString::number(k));
    item->setChecked(k == 3);
    connect(item, &QAction::triggered, this, [this, k] { settings_.minPeakSpacing = k; });
    peakSpacings[k] = item;
  }
  user1 = addRadio(PeakSpacing1, spacingGroup, "user1", "user");
  user1->setVisible(false);
  connect(user1, &QAction::triggered, this,
          [this] { settings_.minPeakSpacing = userPeakSpacing_; });

  settings->addSeparator();
  UploadSpot1 = AddSwitch(settings, "UploadSpot1", "Upload Spots", nullptr);
  connect(UploadSpot1, &QAction::triggered, this, &TForm1::UploadSpot1Click);
  settings->addSeparator();
  Cleanupknowlist1 = named(settings->addAction("Cleanup know_list"), "Cleanupknowlist1");
  connect(Cleanupknowlist1, &QAction::triggered, this, &TForm1::Cleanupknowlist1Click);
  settings->addSeparator();
  Setupanothersettings1 =
      named(settings->addAction("Setup another settings..."), "Setupanothersettings1");
  connect(Setupanothersettings1, &QAction::triggered, this, &TForm1::Setupanothersettings1Click);

  QMenu* help = bar->addMenu("Help");
  help->setObjectName("Help1");
  About1 = named(help->addAction("About"), "About1");
  Helpeng1 = named(help->addAction("Help (eng)"), "Helpeng1");
  Helprus1 = named(help->addAction("Help (rus)"), "Helprus1");
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
  connect(Helpeng1, &QAction::triggered, this, [this] { Help1Click(false); });
  connect(Helprus1, &QAction::triggered, this, [this] { Help1Click(true); });

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  AddthisfrequencytoIgnoreList1 = named(PopupMenu1->addAction("Add this frequency to Ignore List"),
                                        "AddthisfrequencytoIgnoreList1");
  PopupMenu1->addSeparator();
  Alwaysdecodethisfrequency1 =
      named(PopupMenu1->addAction("Always decode this frequency"), "Alwaysdecodethisfrequency1");
  connect(AddthisfrequencytoIgnoreList1, &QAction::triggered, this,
          &TForm1::AddthisfrequencytoIgnoreList1Click);
  connect(Alwaysdecodethisfrequency1, &QAction::triggered, this,
          &TForm1::Alwaysdecodethisfrequency1Click);

  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  SelectAll1 = named(PopupMenu2->addAction("Select All"), "SelectAll1");
  Copy1 = named(PopupMenu2->addAction("Copy"), "Copy1");
  PopupMenu2->addSeparator();
  Erase1 = named(PopupMenu2->addAction("Erase"), "Erase1");
  connect(SelectAll1, &QAction::triggered, this, &TForm1::SelectAll1Click);
  connect(Copy1, &QAction::triggered, this, &TForm1::Copy1Click);
  connect(Erase1, &QAction::triggered, this, &TForm1::Erase1Click);
  connect(Memo1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu2->popup(Memo1->mapToGlobal(at)); });
}

void TForm1::MessageBox(BoxIcon icon, const QString& caption, const QString& text) {
  BoxRequest request{icon, caption, text};
  if (!shown_) {
    pendingBoxes_.push_back(std::move(request));
    return;
  }
  box_(this, request);
}

void TForm1::SoundWarning(const QString& caption, const QString& text) {
  // A machine without a sound card would otherwise get the same box after
  // every recording; once is enough until the user picks an input again.
  const QString key = caption + '\n' + text;
  if (shownSoundWarnings_.contains(key)) return;
  shownSoundWarnings_.append(key);
  MessageBox(BoxIcon::kWarning, caption, text);
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    // After the window has appeared: a machine without a sound card still gets
    // its window first, then the boxes of the start-up.
    QTimer::singleShot(0, this, &TForm1::ShowPendingBoxes);
  }
}

void TForm1::ShowPendingBoxes() {
  while (!pendingBoxes_.empty()) {
    const BoxRequest request = pendingBoxes_.front();
    pendingBoxes_.pop_front();
    box_(this, request);
  }
}

void TForm1::FormCreate() {
  std::string iniMessage;
  if (environment_.iniPath.empty()) {
    const IniChoice choice =
        ChooseIniPath(ProgramName(Program::kWindowed), CurrentIniEnvironment());
    iniPath_ = choice.path;
    iniMessage = choice.message;
  } else {
    iniPath_ = environment_.iniPath;
    iniMessage = environment_.iniMessage;
  }
  form2_->setIniPath(iniPath_);

  // 1. Settings and the check marks they carry.
  const LoadResult load = LoadSettings(Program::kWindowed, iniPath_, settings_);
  for (const std::string& warning : load.warnings) {
    MessageBox(BoxIcon::kWarning, kApplicationTitle, QString::fromStdString(warning));
  }
  SetMenuFromSettings();
  Timer1->start();
  if (!load.ok) {
    // No capture folder: nothing else starts (no sound input, lists or worker).
    MessageBox(BoxIcon::kError, kApplicationTitle, QString::fromStdString(load.error));
    return;
  }

  // 2. The sound input menu.
  const std::vector<std::string> names =
      environment_.listDevices ? SoundDevice::InputDeviceNames() : environment_.devices;
  for (int i = 0; i < static_cast<int>(names.size()) && i < 9; ++i) {
    devices[i]->setText(QString::fromStdString(names[i]));
    devices[i]->setVisible(true);
    if (i == settings_.soundDevice) devices[i]->setChecked(true);
  }
  if (settings_.soundDevice == -1) {
    Panels[4]->setText("default");
  } else if (settings_.soundDevice >= 0 && settings_.soundDevice < static_cast<int>(names.size())) {
    Panels[4]->setText(QString::fromStdString(names[settings_.soundDevice]));
  } else {
    Panels[4]->setText(QString::number(settings_.soundDevice) + " (not present)");
  }

  // 3. Sound input and output at the band's rate (the mixer steps came with
  // the settings).
  OpenSoundInput();

  // 4. Station lists and channel masks.
  receiver_->LoadLists();

  // 5. Status panels.
  ShowBandPanels();
  Panels[5]->setText(QString::number(settings_.maxPeaks.load()) + "/" + QString::number(kChannels));
  Panels[7]->setText(settings_.uploadSpots ? "UPLOAD" : "");

  // 6.–8. Peak Spacing and Peak Number menus.
  ShowPeakMenus();

  // 9. Views.
  Image1->setVisible(Oscillogramm1->isChecked());
  Image2->setVisible(Spectrum1->isChecked());
  Image3->setVisible(Waterfall1->isChecked());

  // 10. Station data.
  if (load.stationMissing) {
    MessageBox(BoxIcon::kWarning, "CALL and QTH not set",
               "Please set Your CALL and QTH in config file Vs32Rx.ini\n(fields MYCALL and MYQTH)");
    settings_.uploadSpots = false;
    UploadSpot1->setChecked(false);
    Panels[7]->setText("");
  }

  // 11. Decode list and log.
  Memo1->setReadOnly(true);
  Memo1->setPlainText(QString::fromUtf8(kWindowedLogColumns.data(), kWindowedLogColumns.size()));
  // Where the station lists and the log are: the current folder unless the
  // log is given a path, which a user started from a menu cannot guess.
  std::error_code noFolder;
  const std::filesystem::path folder = std::filesystem::current_path(noFolder);
  if (!noFolder) {
    InsertMemoLine(1, QString::fromStdString(
                          "Station lists in " + folder.string() + ", decode log " +
                          (folder / std::filesystem::path(settings_.logFilePath)).string()));
  }
  if (!iniMessage.empty()) InsertMemoLine(1, QString::fromStdString(iniMessage));
  std::string logError;
  if (EnsureDecodeLog(settings_.logFilePath, settings_.logHeader, Program::kWindowed, &logError) ==
      LogCreation::kFailed) {
    InsertMemoLine(1, QString::fromStdString("Cannot create the decode log " +
                                             settings_.logFilePath + ": " + logError));
  }

  // 12. Waterfall background.
  Image3->picture().fill(kGrey);
  Image3->update();

  // 13. Receive worker.
  StartWorker();
  started_ = true;

  // 14.–16. Spot upload.
  StoreReporterAddress(reporterRecord_, settings_.reporterHost, settings_.reporterPort);
  if (settings_.uploadSpots) InitializeReporter(reporter_, reporterRecord_);
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  receiver_->SendOwnSpot(0.0f);
}

void TForm1::SetMenuFromSettings() {
  CaptureSpectrum1->setChecked(settings_.captureEnabled);
  IgnoreLoran1->setChecked(settings_.ignoreLoranLines);
  UseFreqList1->setChecked(settings_.useFrequencyList);
  UseKnownCallsList1->setChecked(settings_.useKnownCallsList);
  if (settings_.listDecoder) ClearShortLists();
  DeepDecoder1->setChecked(settings_.deepDecoder);
  UltraDeepDecoder1->setChecked(settings_.ultraDeepDecoder);
  ListDecoder1->setChecked(settings_.listDecoder);
  CorrelationVSDS1->setChecked(settings_.useCorrelator);
  CoherentDetector1->setChecked(settings_.coherentDetector);
  Oscillogramm1->setChecked(settings_.oscillogramVisible);
  Spectrum1->setChecked(settings_.spectrumVisible);
  Waterfall1->setChecked(settings_.waterfallVisible);
  UploadSpot1->setChecked(settings_.uploadSpots);
}

void TForm1::ClearShortLists() {
  DeepDecoder1->setChecked(false);
  UltraDeepDecoder1->setChecked(false);
  settings_.deepDecoder = false;
  settings_.ultraDeepDecoder = false;
}

void TForm1::ShowBandPanels() {
  Panels[0]->setText("Dial=" + Shortest(settings_.dialHz) + "Hz");
  Panels[1]->setText("Fc=" + Shortest(settings_.bandStartHz + 50) + "Hz");
}

void TForm1::ShowPeakMenus() {
  for (int k = 0; k <= 10; ++k) peakSpacings[k]->setText(PeakSpacingCaption(k));
  const int spacing = settings_.minPeakSpacing;
  if (spacing >= 0 && spacing <= 10) {
    peakSpacings[spacing]->setChecked(true);
  } else {
    userPeakSpacing_ = spacing;
    user1->setText(PeakSpacingCaption(spacing));
    user1->setVisible(true);
    user1->setChecked(true);
  }
  const int peaks = settings_.maxPeaks;
  if (peaks == -1 || peaks == 0) {
    auto1->setChecked(true);
  } else if (peaks % 10 == 0 && peaks >= 10 && peaks <= 100) {
    peakNumbers[peaks / 10 - 1]->setChecked(true);
  } else {
    userPeakNumber_ = peaks;
    user2->setText(QString::number(peaks));
    user2->setVisible(true);
    user2->setChecked(true);
  }
}

double TForm1::ChannelFrequency(int channel) const {
  return settings_.dialHz + settings_.bandStartHz + ChannelsToHz(channel);
}

void TForm1::OpenSoundInput() {
  sound_->closeOutput();
  sound_->setInputDevice(settings_.soundDevice);
  // While a recording is being decoded the input stays closed: the worker
  // opens it again when the recording ends.
  if (!wavInput()) sound_->openInput(settings_.inputRate, 16, 1, settings_.inputRate);
  sound_->openOutput(12000, 16, 1, 12000);
}

void TForm1::InsertMemoLine(int index, const QString& text) {
  QTextDocument* document = Memo1->document();
  const bool empty = document->isEmpty();
  if (empty) {
    Memo1->setPlainText(text);
    return;
  }
  QTextCursor cursor(document);
  if (index < document->blockCount()) {
    cursor.setPosition(document->findBlockByNumber(std::max(index, 0)).position());
    cursor.insertText(text + "\n");
  } else {
    cursor.movePosition(QTextCursor::End);
    cursor.insertText("\n" + text);
  }
}

QStringList TForm1::MemoLines() const {
  if (Memo1->document()->isEmpty()) return {};
  return Memo1->toPlainText().split('\n');
}

void TForm1::closeEvent(QCloseEvent* event) {
  Timer1->stop();
  if (!skipSave_ && !saved_) {
    saved_ = true;
    SaveSettingsOnClose();
  } else {
    StopWorker();
  }
  event->accept();
}

void TForm1::SaveSettingsOnClose() {
  StopWorker();
  std::string error;
  if (!iniPath_.empty() && !gui::SaveSettingsOnClose(iniPath_, settings_, &error)) {
    box_(this,
         {BoxIcon::kWarning, kApplicationTitle,
          QString::fromStdString("Cannot save settings to " + iniPath_.string() + ": " + error)});
  }
  sound_->closeInput();
  sound_->closeOutput();
}

void TForm1::Exit1Click() {
  // Ends without saving, but never under a running worker.
  skipSave_ = true;
  Timer1->stop();
  StopWorker();
  close();
  QCoreApplication::exit(0);
}

bool TForm1::ReloadSettings() {
  StopWorker();
  const ReloadOutcome band = ReloadBandCentre(iniPath_, settings_);
  OpenSoundInput();
  const ReloadOutcome keys = ReloadReceiverKeys(iniPath_, settings_);
  for (const ReloadOutcome* outcome : {&band, &keys}) {
    for (const std::string& warning : outcome->warnings) {
      MessageBox(BoxIcon::kWarning, kApplicationTitle, QString::fromStdString(warning));
    }
  }
  if (!keys.ok) {
    MessageBox(BoxIcon::kError, kApplicationTitle, QString::fromStdString(keys.error));
    return false;
  }
  receiver_->ReloadKnownCalls();
  ShowBandPanels();
  // The peak values were re-read: let the menus show what the receiver uses.
  ShowPeakMenus();
  StartWorker();
  return true;
}

void TForm1::SelectSoundInput(int device) {
  settings_.soundDevice = device;
  ProfileFile file(iniPath_);
  std::string error;
  if (!WriteSetting(file, settings_, Setting(SettingId::kSoundDevice), &error)) {
    MessageBox(
        BoxIcon::kWarning, kApplicationTitle,
        QString::fromStdString("Cannot write settings to " + iniPath_.string() + ": " + error));
  }
  shownSoundWarnings_.clear();
  OpenSoundInput();
  QAction* item = device < 0 ? default1 : devices[std::min(device, 8)];
  item->setChecked(true);
  Panels[4]->setText(item->text());
}

void TForm1::AddthisfrequencytoIgnoreList1Click() {
  Receiver::AppendFrequencyLine(kLoranLinesFile, ChannelFrequency(selectedChannel_));
}

void TForm1::Alwaysdecodethisfrequency1Click() {
  Receiver::AppendFrequencyLine(kFrequencyListFile, ChannelFrequency(selectedChannel_));
}

void TForm1::Cleanupknowlist1Click() {
  const int removed = CleanUpKnownList(receiver_->knownCalls());
  Panels[4]->setText(QString::number(removed) + " items deleted");
}

void TForm1::Setupanothersettings1Click() {
  form2_->Open(settings_);
}

void TForm1::UploadSpot1Click() {
  const bool on = UploadSpot1->isChecked();
  settings_.uploadSpots = on;
  Panels[7]->setText(on ? "UPLOAD" : "");
  if (!on) {
    reporter_.ReporterUninitialize();
    return;
  }
  if (InitializeReporter(reporter_, reporterRecord_) != 0) {
    MessageBox(BoxIcon::kWarning, "PSKReporter Initialization",
               QString::fromStdString("PSKReporter Init Error:\n" + ReporterMessage(reporter_)));
  } else {
    reporter_.ReporterGetStatistics(reporterRecord_.data(), reporterRecord_.size());
  }
}

void TForm1::SelectAll1Click() {
  Memo1->selectAll();
}

void TForm1::Copy1Click() {
  Memo1->copy();
}

void TForm1::Erase1Click() {
  Memo1->setPlainText(QString::fromUtf8(kWindowedLogColumns.data(), kWindowedLogColumns.size()));
}

void TForm1::About1Click() {
  MessageBox(BoxIcon::kInformation, "About Vs32Rx", AboutText());
}

void TForm1::Help1Click(bool russian) {
  MessageBox(BoxIcon::kInformation, "Vs32Rx Help", HelpText(russian));
}

void TForm1::ImageMouseDown(ImageView* image, int x, Qt::MouseButton button) {
  const int width = std::max(image->width(), 1);
  selectedChannel_ = std::clamp(x * kChannels / width, 0, kChannels - 1);
  Panels[2]->setText(QString::asprintf("%.2f Hz", ChannelFrequency(selectedChannel_)));
  if (!channelSelected_) {
    Image1->picture().fill(Qt::black);
    Image1->update();
  }
  channelSelected_ = true;
  PublishSelection();
  if (button == Qt::RightButton) PopupMenu1->popup(QCursor::pos());
}

void TForm1::Image1DblClick() {
  channelSelected_ = false;
  PublishSelection();
}

bool TForm1::workerRunning() const {
  return receiver_->running();
}

bool TForm1::workerLooping() const {
  return receiver_->workerLooping();
}

bool TForm1::wavInput() const {
  return receiver_->wavInput();
}

void TForm1::StartWorker() {
  PublishSelection();
  receiver_->Start();
}

void TForm1::StopWorker() {
  // Reports the decodes still waiting to go quiet: they are final now.
  receiver_->Stop();
}

void TForm1::PublishSelection() {
  receiver_->chain().selectedChannel.store(selectedChannel_);
  receiver_->chain().channelSelected.store(channelSelected_);
}

void TForm1::WavEnded() {
  InsertMemoLine(1, "Done.");
  DecodeWAVfile1->setEnabled(true);
}

void TForm1::DecodeWAVfile1Click() {
  // One recording at a time: a second one would be opened under the worker.
  if (wavInput()) return;
  const QString name = wavChooser_();
  if (name.isEmpty()) return;
  std::string error;
  if (!receiver_->StartWav(name.toStdString(), &error)) {
    MessageBox(BoxIcon::kWarning, "WAV error", QString::fromStdString(error));
    return;
  }
  DecodeWAVfile1->setEnabled(false);
  InsertMemoLine(1, "Processing file " + QFileInfo(name).fileName());
}

void TForm1::ShowCapture(int channel, const std::string& call, const std::string& path,
                         const std::string& caption) {
  if (wavInput()) return;
  AnnotateAndSave(Image3->picture(), channel, QString::fromStdString(call),
                  QString::fromStdString(path), QString::fromStdString(caption));
  Image3->update();
}

void TForm1::Timer1Timer() {
  QElapsedTimer clock;
  clock.start();
  receiver_->chain().Snapshot(snapshot_.get());
  const DisplaySnapshot& d = *snapshot_;
  const DecodeSlotTable& slotTable = receiver_->decodeSlots();
  for (int k = 0; k < kChannels; ++k) holds_[k] = slotTable.hold(k);

  if (Oscillogramm1->isChecked()) {
    if (channelSelected_) {
      DrawChannelOscillogram(Image1->picture(), d.selectedHistory.data(), d.selectedRecentMean);
    } else {
      DrawInputOscillogram(Image1->picture(), d.inputBlock.data(),
                           static_cast<int>(d.inputBlock.size()), d.blankedCount);
    }
    Image1->update();
  }
  const double scale = SpectrumScale(d.channelPower.data());
  if (Spectrum1->isChecked()) {
    SpectrumMarks marks;
    marks.channelView = channelSelected_;
    marks.selectedChannel = selectedChannel_;
    marks.ignoreLoran = IgnoreLoran1->isChecked();
    marks.loranMask = receiver_->loranMask().data();
    marks.decodeHold = holds_.data();
    marks.peakFlags = d.peakFlags.data();
    DrawSpectrum(Image2->picture(), d.spectrum.data(), d.channelPower.data(), scale, marks);
    Image2->update();
  }
  if (Waterfall1->isChecked() && WaterfallStep(Image3->picture(), waterfallCounter_,
                                               Timer1->interval(), d.channelPower.data(), scale)) {
    Image3->update();
  }

  // Logging, captures and uploads report their own failures; a tick never stops.
  try {
    receiver_->ResultsTick(d.inputLevel);
  } catch (const std::exception&) {
  }

  Panels[6]->setText(sound_->overrun() ? "*" : "");
  Panels[3]->setText(d.inputLevel > 0
                         ? QString::asprintf("Volume=%.1f dB", 20 * std::log10(d.inputLevel))
                         : QString());
  lastTickMicros_ = clock.nsecsElapsed() / 1000;
}

}  // namespace vs32::gui
