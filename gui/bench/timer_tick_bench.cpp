// One tick of the main window's 300 ms timer: the three displays and the
// results pass. Run with the offscreen platform (set below when unset).
//
// Not part of the default build (vs32bench does not link Qt). Build it beside
// the window library, e.g.:
//   g++ -std=c++20 -O2 -fPIC -I. $(pkg-config --cflags Qt6Widgets Qt6Test)
//       gui/bench/timer_tick_bench.cpp build/libvs32gui.a build/libvs32engine.a
//       $(pkg-config --libs Qt6Widgets Qt6Test portaudio-2.0 alsa) -lbenchmark -lpthread
//       -o timer_tick_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "audio/wav_writer.h"
#include "gui/displays.h"
#include "gui/myvsrx1.h"

namespace {

using namespace vs32;
using namespace vs32::gui;

// Display data that looks like a band: noise with a few strong lines.
struct BandData {
  std::array<float, kWorkingRate> input{};
  std::array<double, kChannels> spectrum{};
  std::array<float, kChannels> power{};
  std::array<int, kChannels> peaks{};
  std::array<int, kChannels> hold{};
  std::array<int, kChannels> loran{};
  BandData() {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    for (float& x : input) x = noise(random);
    for (int k = 0; k < kChannels; ++k) {
      power[k] = 1e-4f * (1.0f + std::fabs(noise(random)));
      spectrum[k] = 957.0 * power[k];
      peaks[k] = k % 40 == 0;
      loran[k] = k % 300 == 0;
    }
    power[615] = 5e-3f;
    hold[616] = 100;
  }
};

void BM_DrawDisplaysWithWaterfallLine(benchmark::State& state) {
  static BandData data;
  QImage oscillogram(617, 40, QImage::Format_RGB32);
  QImage spectrum(617, 60, QImage::Format_RGB32);
  QImage waterfall(617, 240, QImage::Format_RGB32);
  waterfall.fill(Qt::gray);
  SpectrumMarks marks;
  marks.ignoreLoran = true;
  marks.loranMask = data.loran.data();
  marks.decodeHold = data.hold.data();
  marks.peakFlags = data.peaks.data();
  for (auto _ : state) {
    DrawInputOscillogram(oscillogram, data.input.data(), 12000, 0);
    const double scale = SpectrumScale(data.power.data());
    DrawSpectrum(spectrum, data.spectrum.data(), data.power.data(), scale, marks);
    int counter = 1000;  // every iteration draws a waterfall line: the heaviest tick
    WaterfallStep(waterfall, counter, 300, data.power.data(), scale);
    benchmark::DoNotOptimize(waterfall.constBits());
  }
}
BENCHMARK(BM_DrawDisplaysWithWaterfallLine)->Unit(benchmark::kMicrosecond);

// The whole Timer1Timer of a started window whose worker has processed a
// recording's blocks (the snapshot holds real data), results pass included.
void BM_Timer1Timer(benchmark::State& state) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vs32_tick_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  std::ofstream(dir / "Vs32Rx.INI") << "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n"
                                       "[PSKREPORTER]\nUPLOAD_SPOT=0\n";
  {
    WavWriter writer;
    writer.open((dir / "band.wav").string(), 12000, 1);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::array<int16_t, 12000> block{};
    for (int second = 0; second < 20; ++second) {
      for (int i = 0; i < 12000; ++i) {
        const double t = (second * 12000 + i) / 12000.0;
        block[i] = static_cast<int16_t>(noise(random) + 2000 * std::sin(2 * M_PI * 1500 * t));
      }
      writer.write(block.data(), block.size());
    }
    writer.close();
  }
  FormEnvironment environment;
  environment.iniPath = dir / "Vs32Rx.INI";
  environment.listDevices = false;
  {
    TForm1 form(environment);
    form.setBoxFunction([](QWidget*, const BoxRequest&) {});
    form.setWavChooser([&] { return QString::fromStdString((dir / "band.wav").string()); });
    form.FormCreate();
    form.Timer1->stop();  // the benchmark calls the tick itself
    form.DecodeWAVfile1Click();
    if (!QTest::qWaitFor([&] { return !form.wavInput(); }, 60000)) {
      state.SkipWithError("the recording did not finish");
    }
    for (auto _ : state) form.Timer1Timer();
    form.close();
  }
  std::filesystem::current_path(old);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Timer1Timer)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
