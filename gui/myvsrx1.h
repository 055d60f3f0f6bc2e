// The main window TForm1 of Vs32Rx: oscillogram, spectrum and waterfall, the
// decode list, the status bar, the menus and their commands, start-up and close.
//
// Threads: everything here runs on the main thread. The receive worker reaches
// the window only through ReceiverEvents, whose calls are queued onto the main
// thread; the worker reads the menu switches from the settings record, never
// from a widget.
#pragma once

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <array>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/sound_device.h"
#include "config/settings.h"
#include "engine/receiver_events.h"
#include "engine/version.h"
#include "gui/image_view.h"
#include "gui/message_box.h"
#include "receiver/receiver.h"
#include "report/psk_reporter.h"
#include "report/results.h"
#include "report/send_spot.h"

namespace vs32::gui {

class TForm2;

inline constexpr const char* kApplicationTitle = "VS-32 RX";
inline constexpr const char* kWindowCaption = "Vs32Rx v" VS32_VERSION;
inline constexpr int kTimerIntervalMs = 300;

// The application-wide settings of the program: its title "VS-32 RX" is the
// application name (never a display name, which would be appended to every
// window title).
void SetUpApplication();

// Where the window takes what the machine offers; tests replace parts of it.
struct FormEnvironment {
  std::filesystem::path iniPath;     // empty: chosen by ChooseIniPath for "Vs32Rx"
  std::string iniMessage;            // shown in the decode list once
  bool listDevices = true;           // ask the sound system for its input devices
  std::vector<std::string> devices;  // used when listDevices is false
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(FormEnvironment environment = {}, QWidget* parent = nullptr);
  ~TForm1() override;

  // Start-up in its fixed order: settings, sound input menu, sound device,
  // lists, status bar, menus, decode list and log, waterfall, worker, uploader.
  void FormCreate();

  // Message boxes: all go through this function (replaceable by tests). Boxes
  // raised before the window is first shown wait until it is.
  void setBoxFunction(BoxFunction function) { box_ = std::move(function); }
  void MessageBox(BoxIcon icon, const QString& caption, const QString& text);
  // A sound device warning from the worker or an open: shown once until the
  // user picks a sound input again.
  void SoundWarning(const QString& caption, const QString& text);
  // The file dialog of "Decode WAV-file..." (replaceable by tests); returns the
  // chosen path or an empty text.
  void setWavChooser(std::function<QString()> chooser) { wavChooser_ = std::move(chooser); }

  // The 300 ms tick: displays, results processing, status panels 6 and 3.
  void Timer1Timer();

  // Commands (menu handlers).
  void DecodeWAVfile1Click();
  void Exit1Click();
  void SelectSoundInput(int device);  // -1 default, 0 … 8
  void AddthisfrequencytoIgnoreList1Click();
  void Alwaysdecodethisfrequency1Click();
  void Cleanupknowlist1Click();
  void Setupanothersettings1Click();
  void UploadSpot1Click();
  void SelectAll1Click();
  void Copy1Click();
  void Erase1Click();
  void About1Click();
  void Help1Click(bool russian);

  // Mouse on the images.
  void ImageMouseDown(ImageView* image, int x, Qt::MouseButton button);
  void Image1DblClick();

  // Stops the worker, re-reads the receiver keys, reopens the sound input at
  // the new rate, rebuilds the known calls and starts a new worker. False (with
  // the worker stopped) when the capture folder cannot be created.
  bool ReloadSettings();
  // Stops the worker and writes the menu switches and peak values.
  void SaveSettingsOnClose();

  // Inserts a line at `index` of the decode list (0 is the column header).
  void InsertMemoLine(int index, const QString& text);
  QStringList MemoLines() const;

  ReceiverSettings& settings() { return settings_; }
  const std::filesystem::path& iniPath() const { return iniPath_; }
  KnownCallTable& knownCalls() { return receiver_->knownCalls(); }
  DecodeSlotTable& decodeSlots() { return receiver_->decodeSlots(); }
  TForm2* form2() { return form2_; }
  bool channelSelected() const { return channelSelected_; }
  int selectedChannel() const { return selectedChannel_; }
  bool workerRunning() const;
  // True once the worker's run has started (its slot table cleared) and it reads input.
  bool workerLooping() const;
  bool wavInput() const;
  // Duration of the last timer tick, microseconds.
  long long lastTickMicros() const { return lastTickMicros_; }
  // Boxes raised before the first show that have not been shown yet.
  int pendingBoxCount() const { return static_cast<int>(pendingBoxes_.size()); }

  // Channel frequency in Hz: F_DIAL + F_CENTER - 50 + ChannelsToHz(channel)
  // (rounded as the window always has; decode reports use ChannelHz).
  double ChannelFrequency(int channel) const;

  ImageView* Image1 = nullptr;
  ImageView* Image2 = nullptr;
  ImageView* Image3 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  std::array<QLabel*, 8> Panels{};
  QTimer* Timer1 = nullptr;

  QAction* DecodeWAVfile1 = nullptr;
  QAction* Exit1 = nullptr;
  QAction* Oscillogramm1 = nullptr;
  QAction* Spectrum1 = nullptr;
  QAction* Waterfall1 = nullptr;
  QMenu* SoundInput1 = nullptr;
  QAction* default1 = nullptr;
  std::array<QAction*, 9> devices{};  // device01 … device81
  QAction* CaptureSpectrum1 = nullptr;
  QAction* IgnoreLoran1 = nullptr;
  QAction* UseFreqList1 = nullptr;
  QAction* UseKnownCallsList1 = nullptr;
  QAction* DeepDecoder1 = nullptr;
  QAction* UltraDeepDecoder1 = nullptr;
  QAction* ListDecoder1 = nullptr;
  QAction* CorrelationVSDS1 = nullptr;
  QAction* CoherentDetector1 = nullptr;
  QMenu* Pea1 = nullptr;
  QAction* auto1 = nullptr;
  std::array<QAction*, 10> peakNumbers{};  // N101 … N1001
  QAction* user2 = nullptr;
  QMenu* PeakSpacing1 = nullptr;
  std::array<QAction*, 11> peakSpacings{};  // N01 … N91, N102
  QAction* user1 = nullptr;
  QAction* UploadSpot1 = nullptr;
  QAction* Cleanupknowlist1 = nullptr;
  QAction* Setupanothersettings1 = nullptr;
  QAction* About1 = nullptr;
  QAction* Helpeng1 = nullptr;
  QAction* Helprus1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* AddthisfrequencytoIgnoreList1 = nullptr;
  QAction* Alwaysdecodethisfrequency1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  QAction* SelectAll1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* Erase1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class Events;
  class Output;
  class Spots;

  void CreateControls();
  void CreateMenus();
  QAction* AddSwitch(QMenu* menu, const char* name, const char* caption, Switch* value);
  void SetMenuFromSettings();
  void ClearShortLists();  // Deep and Ultra Deep off (the best-first list is on)
  void ShowPeakMenus();
  void ShowBandPanels();
  void OpenSoundInput();
  void StartWorker();
  void StopWorker();
  void ShowPendingBoxes();
  void ShowCapture(int channel, const std::string& call, const std::string& path,
                   const std::string& caption);
  void WavEnded();
  // Tells the worker which channel the user picked (channel view on or off).
  void PublishSelection();

  FormEnvironment environment_;
  std::filesystem::path iniPath_;
  SpotReporter reporter_;
  ReporterRecord reporterRecord_{};
  // The receive side, in the order it is built; the receiver (with its
  // worker) goes before the sound device it reads.
  std::unique_ptr<Events> events_;
  std::unique_ptr<Output> output_;
  std::unique_ptr<SoundDevice> sound_;
  std::unique_ptr<Receiver> receiver_;
  ReceiverSettings& settings_;  // the receiver's: the menus switch them under the worker
  std::unique_ptr<Spots> spots_;
  std::unique_ptr<DisplaySnapshot> snapshot_;
  std::array<int, kChannels> holds_{};

  TForm2* form2_ = nullptr;
  BoxFunction box_ = ShowModalBox;
  std::function<QString()> wavChooser_;
  std::deque<BoxRequest> pendingBoxes_;
  QStringList shownSoundWarnings_;
  bool shown_ = false;
  bool started_ = false;   // FormCreate got as far as the worker
  bool skipSave_ = false;  // Exit: close without saving
  bool saved_ = false;
  bool channelSelected_ = false;
  int selectedChannel_ = 0;
  int waterfallCounter_ = 0;
  int userPeakNumber_ = 0;
  int userPeakSpacing_ = 0;
  long long lastTickMicros_ = 0;
};

}  // namespace vs32::gui
