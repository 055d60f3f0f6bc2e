// Drawing of the main window's three images: oscillogram, spectrum with its
// markers, waterfall, and the labelled waterfall capture. Pure functions of
// the display data, so they can be checked without a window or a worker.
#pragma once

#include <QImage>
#include <QString>

#include "config/band_plan.h"

namespace vs32::gui {

inline constexpr int kHistoryNewest = 960;  // history entries 0 … 960, 960 newest

// Display colours (RGB).
inline const QColor kGreen(0, 128, 0);
inline const QColor kRed(255, 0, 0);
inline const QColor kYellow(255, 255, 0);
inline const QColor kLime(0, 255, 0);
inline const QColor kGrey(128, 128, 128);
inline const QColor kNavy(0, 0, 128);

// Input view: the first image-width samples of the latest input block, scaled so
// that the largest magnitude reaches 90 % of the half height; red when more than
// 600 samples of the block were blanked. `count` samples are available.
void DrawInputOscillogram(QImage& image, const float* samples, int count, int blankedCount);

// Channel view: the selected channel's power history (entries 0 … 960), newest
// at the left edge, and a red tick at its recent mean.
void DrawChannelOscillogram(QImage& image, const float* history, double recentMean);

// The scale shared by spectrum trace and waterfall: the largest channel power,
// or 1 when that is not above 0.
double SpectrumScale(const float* channelPower);

// What the spectrum marks above each channel.
struct SpectrumMarks {
  bool channelView = false;  // mark the selected channel with a yellow square
  int selectedChannel = 0;
  bool ignoreLoran = false;         // black tick on interference lines
  const int* loranMask = nullptr;   // kChannels flags, may be null
  const int* decodeHold = nullptr;  // kChannels counts, may be null
  const int* peakFlags = nullptr;   // kChannels flags, may be null
};

// Grey background, the summed spectrum P in red (scaled to its own maximum) and
// the channel powers S in navy (scaled by `scale`), with the markers.
void DrawSpectrum(QImage& image, const double* spectrum, const float* channelPower, double scale,
                  const SpectrumMarks& marks);

// One waterfall step. `counter` counts timer ticks between lines: while it is
// not above 8192 div intervalMs it is increased and nothing is drawn; otherwise
// it is reset, the picture moves down one row and a new top row is drawn from
// the channel powers. Returns true when a row was drawn.
bool WaterfallStep(QImage& image, int& counter, int intervalMs, const float* channelPower,
                   double scale);

// Labels the waterfall at a decoded channel (red mark and the call on black at
// the top, the caption on white at the bottom) and saves the picture; the file
// format follows the name's ending (".jpg": JPEG). False when saving failed.
bool AnnotateAndSave(QImage& image, int channel, const QString& call, const QString& path,
                     const QString& caption);

// The image's canvas font (labels of the capture).
QFont CanvasFont();

}  // namespace vs32::gui
