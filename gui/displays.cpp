#include "gui/displays.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gui/canvas.h"

namespace vs32::gui {

namespace {

// A computed coordinate as a pixel: truncated toward zero. Values a broken
// input could produce (NaN, huge) are pinned so the conversion stays defined.
int Pixel(double value) {
  if (!(value == value)) return 0;
  return static_cast<int>(std::clamp(value, -32767.0, 32767.0));
}

}  // namespace

QFont CanvasFont() {
  QFont font;
  font.setPixelSize(11);
  return font;
}

void DrawInputOscillogram(QImage& image, const float* samples, int count, int blankedCount) {
  Canvas canvas(image);
  const int w = canvas.width();
  const int h = canvas.height();
  canvas.Clear(Qt::black);
  canvas.MoveTo(0, h / 2);
  canvas.SetPenColor(blankedCount > 600 ? kRed : kGreen);
  const int n = std::min(w, count);
  float m = 0;
  for (int j = 0; j < n; ++j) m = std::max(m, std::fabs(samples[j]));
  if (!(m > 0)) return;
  for (int j = 0; j < n; ++j) {
    canvas.LineTo(j, Pixel(h / 2 - samples[j] * 0.9 / m * h * 0.5));
  }
}

void DrawChannelOscillogram(QImage& image, const float* history, double recentMean) {
  Canvas canvas(image);
  const int w = canvas.width();
  const int h = canvas.height();
  canvas.Clear(Qt::black);
  canvas.MoveTo(0, h - 1);
  canvas.SetPenColor(kYellow);
  float m = history[0];
  for (int i = 1; i < kHistoryNewest; ++i) m = std::max(m, history[i]);
  if (!(m > 0)) m = 1;
  for (int c = 0; c < w; ++c) {
    const int i = std::min((c * 957) / 4 * 2 / w, kHistoryNewest);
    const float v = history[kHistoryNewest - i];
    canvas.LineTo(c, Pixel((1 - v / m) * h - 1));
  }
  const int y = Pixel((1 - recentMean / m) * h - 1);
  canvas.SetPenColor(kRed);
  canvas.MoveTo(0, y);
  canvas.LineTo(5, y);
}

double SpectrumScale(const float* channelPower) {
  float s = channelPower[0];
  for (int k = 1; k < kChannels; ++k) s = std::max(s, channelPower[k]);
  return s > 0 ? s : 1.0;
}

void DrawSpectrum(QImage& image, const double* spectrum, const float* channelPower, double scale,
                  const SpectrumMarks& marks) {
  Canvas canvas(image);
  const int w = canvas.width();
  const int h = canvas.height();
  canvas.Clear(kGrey);
  canvas.SetPenColor(kRed);
  canvas.MoveTo(0, h);
  double p = spectrum[0];
  for (int k = 1; k < kChannels; ++k) p = std::max(p, spectrum[k]);
  if (!(p > 0)) p = 1;
  for (int n = 0; n < w; ++n) {
    const int k = n * kChannels / w;
    canvas.LineTo(n, Pixel((1 - std::sqrt(std::max(0.0, spectrum[k] / p))) * h));
  }

  canvas.SetPenColor(kNavy);
  canvas.MoveTo(0, h);
  for (int k = 0; k < kChannels; ++k) {
    const int x = w * k / kChannels;
    const int y = Pixel((1 - std::sqrt(std::max(0.0, channelPower[k] / scale))) * h);
    canvas.LineTo(x, y);
    const int hold = marks.decodeHold ? marks.decodeHold[k] : 0;
    bool marked = false;
    if (marks.channelView && k == marks.selectedChannel) {
      canvas.SetPenColor(kYellow);
      canvas.SetBrushColor(kYellow);
      canvas.Rectangle(x - 2, y - 2, x + 2, y + 2);
      marked = true;
    }
    if ((marks.ignoreLoran && marks.loranMask && marks.loranMask[k]) || hold != 0) {
      canvas.SetPenColor(Qt::black);
      canvas.MoveTo(x, 0);
      canvas.LineTo(x, 4);
      marked = true;
    }
    if (marks.peakFlags && marks.peakFlags[k] > 0 && hold <= 0) {
      canvas.SetPenColor(kLime);
      canvas.MoveTo(x, 0);
      canvas.LineTo(x, 4);
      marked = true;
    }
    if (marked) {
      canvas.SetPenColor(kNavy);
      canvas.MoveTo(x, y);
    }
  }
}

bool WaterfallStep(QImage& image, int& counter, int intervalMs, const float* channelPower,
                   double scale) {
  if (counter <= 8192 / intervalMs) {
    ++counter;
    return false;
  }
  counter = 0;
  // Rows 0 … H-2 move to 1 … H-1 (the picture scrolls down by one row).
  const int w = image.width();
  const int h = image.height();
  if (h > 1) {
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    std::memmove(bits + stride, bits, static_cast<size_t>(stride) * (h - 1));
  }
  Canvas canvas(image);
  canvas.MoveTo(0, 0);
  for (int n = 0; n < w; ++n) {
    const int k = n * kChannels / w;
    const double u = std::sqrt(std::max(0.0, channelPower[k] / scale));
    const QColor colour(std::clamp(Pixel(128 * u), 0, 255), std::clamp(Pixel(128 * u), 0, 255),
                        std::clamp(Pixel(255 * u), 0, 255));
    canvas.SetBrushColor(colour);
    canvas.SetPenColor(colour);
    canvas.LineTo(n, 0);
  }
  return true;
}

bool AnnotateAndSave(QImage& image, int channel, const QString& call, const QString& path,
                     const QString& caption) {
  {
    Canvas canvas(image);
    canvas.SetFont(CanvasFont());
    const QPoint pen = canvas.PenPos();
    const int w = canvas.width();
    const int h = canvas.height();
    const int x = w * channel / kChannels;
    const QSize text = canvas.TextExtent(call);
    const int tw = text.width();
    const int th = text.height();
    canvas.SetBrushColor(kRed);
    canvas.SetPenColor(kRed);
    canvas.MoveTo(x, th + 12);
    canvas.LineTo(x, th + 2);
    canvas.SetBrushColor(Qt::black);
    canvas.SetPenColor(Qt::black);
    canvas.TextOut(x - tw / 2, 1, call, kRed);
    canvas.SetBrushColor(Qt::white);
    canvas.SetPenColor(Qt::white);
    canvas.TextOut(2, h - th - 1, caption, Qt::black);
    canvas.MoveTo(pen.x(), pen.y());
  }
  return image.save(path);
}

}  // namespace vs32::gui
