// The three displays drawn from known data: scales and their fall-backs, the
// waterfall's cadence and colours, the markers, and the saved capture.
#include "gui/displays.h"

#include <gtest/gtest.h>

#include <QImageReader>
#include <array>
#include <vector>

#include "gui_test_support.h"
#include "support/test_support.h"

namespace vs32::gui {
namespace {

using test::App;

QImage Picture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

int CountColour(const QImage& image, const QColor& colour, int row = -1) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    if (row >= 0 && y != row) continue;
    for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y) == colour;
  }
  return count;
}

class DisplaysTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  std::array<double, kChannels> spectrum{};
  std::array<float, kChannels> power{};
};

TEST_F(DisplaysTest, ScaleIsLargestChannelPowerOrOneWhenNothingIsAboveZero) {
  EXPECT_EQ(SpectrumScale(power.data()), 1.0);
  power.fill(-2.0f);
  EXPECT_EQ(SpectrumScale(power.data()), 1.0);
  power[700] = 0.25f;
  power[3] = 0.125f;
  EXPECT_EQ(SpectrumScale(power.data()), 0.25);
}

TEST_F(DisplaysTest, AllZeroSpectrumLiesOnTheBottomEdgeAndWaterfallRowIsBlack) {
  QImage image = Picture(617, 60);
  DrawSpectrum(image, spectrum.data(), power.data(), SpectrumScale(power.data()), {});
  // Both traces run along y = H, outside the picture: only the grey remains.
  EXPECT_EQ(CountColour(image, kGrey), 617 * 60);

  QImage waterfall = Picture(617, 240);
  waterfall.fill(kGrey);
  int counter = 28;  // the tick that draws
  ASSERT_TRUE(WaterfallStep(waterfall, counter, 300, power.data(), SpectrumScale(power.data())));
  EXPECT_EQ(CountColour(waterfall, Qt::black, 0), 617);
  EXPECT_EQ(CountColour(waterfall, kGrey, 1), 617);  // the old picture moved down
}

TEST_F(DisplaysTest, WaterfallDrawsOneLineEvery29thTickAt300Ms) {
  QImage waterfall = Picture(617, 240);
  int counter = 0;
  std::vector<int> drawnAt;
  for (int tick = 1; tick <= 90; ++tick) {
    if (WaterfallStep(waterfall, counter, 300, power.data(), 1.0)) drawnAt.push_back(tick);
  }
  EXPECT_EQ(drawnAt, (std::vector<int>{29, 58, 87}));
  // Another interval changes the speed: (8192 div interval) + 2 ticks a line.
  counter = 0;
  drawnAt.clear();
  for (int tick = 1; tick <= 20; ++tick) {
    if (WaterfallStep(waterfall, counter, 1000, power.data(), 1.0)) drawnAt.push_back(tick);
  }
  EXPECT_EQ(drawnAt, (std::vector<int>{10, 20}));
}

TEST_F(DisplaysTest, WaterfallRowColourFollowsTheSquareRootOfThePower) {
  QImage waterfall = Picture(1230, 4);
  power.fill(0.25f);  // u = sqrt(0.25 / 1) = 0.5
  power[1229] = 1.0f;
  int counter = 100;
  ASSERT_TRUE(WaterfallStep(waterfall, counter, 300, power.data(), 1.0));
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(waterfall.pixelColor(10, 0), QColor(64, 64, 127));
  EXPECT_EQ(waterfall.pixelColor(1229, 0), QColor(128, 128, 255));
}

TEST_F(DisplaysTest, SpectrumTracesAndMarkers) {
  QImage image = Picture(1230, 60);  // one column per channel
  for (int k = 0; k < kChannels; ++k) power[k] = 0.0f;
  power[600] = 1.0f;                   // the navy trace reaches the top here
  spectrum[300] = 4.0;                 // the red trace reaches the top there
  std::array<int, kChannels> loran{};  // black ticks
  std::array<int, kChannels> hold{};
  std::array<int, kChannels> peaks{};  // lime ticks
  loran[100] = 1;
  hold[200] = 5;
  peaks[200] = 1;  // held: black, not lime
  peaks[900] = 1;
  SpectrumMarks marks;
  marks.ignoreLoran = true;
  marks.loranMask = loran.data();
  marks.decodeHold = hold.data();
  marks.peakFlags = peaks.data();
  marks.channelView = true;
  marks.selectedChannel = 1000;
  DrawSpectrum(image, spectrum.data(), power.data(), 1.0, marks);

  EXPECT_EQ(image.pixelColor(300, 0), kRed);
  EXPECT_EQ(image.pixelColor(600, 10), kNavy);
  EXPECT_EQ(image.pixelColor(100, 2), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(200, 2), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(900, 2), kLime);
  EXPECT_EQ(image.pixelColor(1000, 58), kYellow);  // the square around (1000, 60)
  EXPECT_NE(image.pixelColor(400, 2), kLime);

  // Without the Ignore Loran switch the interference line is not marked.
  marks.ignoreLoran = false;
  DrawSpectrum(image, spectrum.data(), power.data(), 1.0, marks);
  EXPECT_EQ(image.pixelColor(100, 2), kGrey);
}

TEST_F(DisplaysTest, InputOscillogramScalesToTheLargestSampleAndTurnsRedWhenBlanked) {
  std::vector<float> samples(12000, 0.0f);
  samples[100] = 0.5f;
  samples[200] = -0.25f;
  QImage image = Picture(617, 40);
  DrawInputOscillogram(image, samples.data(), 12000, 0);
  // 20 - 0.5 × 0.9 / 0.5 × 40 × 0.5 = 2: the peak nearly reaches the top.
  EXPECT_EQ(image.pixelColor(100, 2), kGreen);
  EXPECT_EQ(image.pixelColor(100, 1), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(200, 29), kGreen);  // 20 + 0.25 × 0.9 / 0.5 × 20 = 29
  EXPECT_EQ(image.pixelColor(50, 20), kGreen);   // the rest on the centre line

  DrawInputOscillogram(image, samples.data(), 12000, 601);
  EXPECT_EQ(image.pixelColor(50, 20), kRed);
  EXPECT_EQ(CountColour(image, kGreen), 0);

  std::fill(samples.begin(), samples.end(), 0.0f);
  DrawInputOscillogram(image, samples.data(), 12000, 0);
  EXPECT_EQ(CountColour(image, Qt::black), 617 * 40);  // silence: nothing drawn
}

TEST_F(DisplaysTest, ChannelOscillogramShowsNewestEntryAtTheLeftAndTheRecentMeanTick) {
  std::array<float, 961> history{};
  history[960] = 1.0f;  // newest: columns 0 and 1
  history[959] = 2.0f;  // column 2; the scale is the largest of entries 0 … 959
  QImage image = Picture(617, 40);
  DrawChannelOscillogram(image, history.data(), 0.5);
  EXPECT_EQ(image.pixelColor(1, 19), kYellow);    // (1 - 1/2) × 40 - 1
  EXPECT_EQ(image.pixelColor(300, 39), kYellow);  // older, empty entries on the bottom row
  EXPECT_EQ(image.pixelColor(4, 29), kRed);       // the tick: (1 - 0.5/2) × 40 - 1 = 29
  EXPECT_EQ(image.pixelColor(8, 29), QColor(Qt::black));

  // An entry above the scale (the newest is not part of it) leaves the picture.
  history[960] = 5.0f;
  DrawChannelOscillogram(image, history.data(), 0.5);
  EXPECT_EQ(image.pixelColor(1, 19), QColor(Qt::black));
}

TEST_F(DisplaysTest, CaptureIsLabelledAndSavedAsRealJpeg) {
  vs32::test::TempDir dir;
  QImage image = Picture(617, 240);
  image.fill(kGrey);
  const QString path = QString::fromStdString((dir / "Q1ABC_20240102_0304.jpg").string());
  ASSERT_TRUE(AnnotateAndSave(image, 615, "Q1ABC", path,
                              "2024-01-02 03:04:05 Q1ABC de Q9XYZ -17.0dB in JO01AA"));
  const std::string bytes = vs32::test::ReadFile(path.toStdString());
  ASSERT_GT(bytes.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
  EXPECT_EQ(QImageReader(path).format(), "jpeg");
  // The red mark under the call at x = 617 × 615 div 1230 = 308.
  const int th = QFontMetrics(CanvasFont()).height();
  EXPECT_EQ(image.pixelColor(308, th + 6), kRed);
  // The caption sits on white at the bottom left.
  EXPECT_EQ(image.pixelColor(2, 240 - th), QColor(Qt::white));

  // A folder that does not exist: the save fails and says so.
  EXPECT_FALSE(AnnotateAndSave(image, 10, "Q1ABC",
                               QString::fromStdString((dir / "no/x.jpg").string()), "caption"));
}

}  // namespace
}  // namespace vs32::gui
