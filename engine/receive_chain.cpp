#include "engine/receive_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/float_vectors.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vs32 {

// The resonator, detector and smoother state of every channel, array by array
// (the padding channels run but are never read).
struct ChainBank {
  static constexpr int kPadded = ReceiveChain::kPaddedChannels;
  alignas(64) std::array<double, kPadded> a0, a1, a2, b1, b2;
  alignas(64) std::array<double, kPadded> y0, y1;      // latest output, one before
  alignas(64) std::array<double, kPadded> s0, s1, s2;  // smoother stages
  alignas(64) std::array<double, kPadded> phase, phaseStep;
  double x1 = 0, x2 = 0;  // the last two inputs, common to every channel
  double gain = 0, pole = 0;
};

// The vector kernels, as the chain calls them.
struct ChainKernels {
  void (*stepBankPlain)(ChainBank&, const double*, int, float*, float*);
  void (*firRun)(const float*, int, const float*, int, float*);
  void (*decimateRun)(const float*, int, const float*, int, int, int, float*);
  void (*sumEight)(const float* const*, float*, float*);
};

namespace {

constexpr double kStartPhase = kTwoPi / 512;  // both mixers start here every run
constexpr float kResonatorBandwidth = 0.000244f;
constexpr float kSmootherCutoff = 1.0f / 2048;
constexpr int kSmootherStages = 3;
constexpr int kSpectrumFirst = 4;  // the spectrum sums entries 4 … 960
// Channel ticks until every channel's spectrum entries hold real powers.
constexpr int kFullCount = kChannels * (kNewestEntry - kSpectrumFirst + 1);
constexpr int kHalfFullCount = kFullCount / 2;
constexpr int kRecentFirst = 944;  // the recent mean, entries 944 … 959
constexpr int kPadded = ReceiveChain::kPaddedChannels;

// Vectors of the compiler's vector extension: element-wise arithmetic, each
// lane exactly the scalar operation. Used only inside function bodies.
typedef double Doubles __attribute__((vector_size(32)));  // 4 channels
typedef float Floats4 __attribute__((vector_size(16)));   // 4 channels, single precision

#define VS32_ALWAYS_INLINE __attribute__((always_inline)) inline

// The channel bank over `steps` channel steps with the plain detector:
// resonator, y rounded to float, power y², three smoother stages. x[s], x[s+1],
// x[s+2] are the inputs two before, one before and at step s. Channels are
// stepped eight at a time through all the steps, so their state stays in
// registers; each channel's arithmetic is that of ChannelResonator and
// PowerSmoother, operation for operation. Writes the detector power and the
// smoothed power of the last step (steps >= 1).
VS32_ALWAYS_INLINE void StepBankPlainBody(ChainBank& b, const double* x, int steps,
                                          float* detectorPower, float* channelPower) {
  constexpr int kLanes = 4;
  constexpr int kVectors = 2;
  const double gain = b.gain, pole = b.pole;
  for (int c = 0; c < kPadded; c += kLanes * kVectors) {
    Doubles y0[kVectors], y1[kVectors], s0[kVectors], s1[kVectors], s2[kVectors];
    Floats4 power[kVectors];
#pragma GCC unroll 4
    for (int v = 0; v < kVectors; ++v) {
      const int at = c + kLanes * v;
      std::memcpy(&y0[v], &b.y0[at], sizeof(Doubles));
      std::memcpy(&y1[v], &b.y1[at], sizeof(Doubles));
      std::memcpy(&s0[v], &b.s0[at], sizeof(Doubles));
      std::memcpy(&s1[v], &b.s1[at], sizeof(Doubles));
      std::memcpy(&s2[v], &b.s2[at], sizeof(Doubles));
      power[v] = Floats4{};
    }
    for (int t = 0; t < steps; ++t) {
      const Doubles x2 = {x[t], x[t], x[t], x[t]};
      const Doubles x1 = {x[t + 1], x[t + 1], x[t + 1], x[t + 1]};
      const Doubles x0 = {x[t + 2], x[t + 2], x[t + 2], x[t + 2]};
#pragma GCC unroll 4
      for (int v = 0; v < kVectors; ++v) {
        const int at = c + kLanes * v;
        Doubles a0, a1, a2, b1, b2;
        std::memcpy(&a0, &b.a0[at], sizeof(Doubles));
        std::memcpy(&a1, &b.a1[at], sizeof(Doubles));
        std::memcpy(&a2, &b.a2[at], sizeof(Doubles));
        std::memcpy(&b1, &b.b1[at], sizeof(Doubles));
        std::memcpy(&b2, &b.b2[at], sizeof(Doubles));
        const Doubles y = a0 * x0 + a1 * x1 + a2 * x2 + b1 * y0[v] + b2 * y1[v];
        y1[v] = y0[v];
        y0[v] = y;
        const Floats4 yf = __builtin_convertvector(y, Floats4);
        power[v] = yf * yf;
        const Doubles p = __builtin_convertvector(power[v], Doubles);
        s0[v] = gain * p + pole * s0[v];
        s1[v] = gain * s0[v] + pole * s1[v];
        s2[v] = gain * s1[v] + pole * s2[v];
      }
    }
#pragma GCC unroll 4
    for (int v = 0; v < kVectors; ++v) {
      const int at = c + kLanes * v;
      std::memcpy(&b.y0[at], &y0[v], sizeof(Doubles));
      std::memcpy(&b.y1[at], &y1[v], sizeof(Doubles));
      std::memcpy(&b.s0[at], &s0[v], sizeof(Doubles));
      std::memcpy(&b.s1[at], &s1[v], sizeof(Doubles));
      std::memcpy(&b.s2[at], &s2[v], sizeof(Doubles));
      const Floats4 smoothed = __builtin_convertvector(s2[v], Floats4);
      std::memcpy(&detectorPower[at], &power[v], sizeof(Floats4));
      std::memcpy(&channelPower[at], &smoothed, sizeof(Floats4));
    }
  }
}

// The bank with the coherent detector: I = y cos φ and Q = y sin φ, each
// rounded to float, power I² + Q², then φ advances by 2π f and is brought back
// to at most 2π. The library's sine and cosine set the pace here, so one
// channel at a time.
void StepBankCoherent(ChainBank& b, const double* x, int steps, float* detectorPower,
                      float* channelPower) {
  const double gain = b.gain, pole = b.pole;
  for (int c = 0; c < kChannels; ++c) {
    const double a0 = b.a0[c], a1 = b.a1[c], a2 = b.a2[c], b1 = b.b1[c], b2 = b.b2[c];
    const double phaseStep = b.phaseStep[c];
    double y0 = b.y0[c], y1 = b.y1[c], s0 = b.s0[c], s1 = b.s1[c], s2 = b.s2[c];
    double phase = b.phase[c];
    float power = 0.0f;
    for (int t = 0; t < steps; ++t) {
      const double y = a0 * x[t + 2] + a1 * x[t + 1] + a2 * x[t] + b1 * y0 + b2 * y1;
      y1 = y0;
      y0 = y;
      const float i = static_cast<float>(y * std::cos(phase));
      const float q = static_cast<float>(y * std::sin(phase));
      phase += phaseStep;
      while (phase > kTwoPi) phase -= kTwoPi;
      power = i * i + q * q;
      s0 = gain * power + pole * s0;
      s1 = gain * s0 + pole * s1;
      s2 = gain * s1 + pole * s2;
    }
    b.y0[c] = y0;
    b.y1[c] = y1;
    b.s0[c] = s0;
    b.s1[c] = s1;
    b.s2[c] = s2;
    b.phase[c] = phase;
    detectorPower[c] = power;
    channelPower[c] = static_cast<float>(s2);
  }
}

// out[n] = sum over k = 0 … taps − 1 of coefficients[k] × x[n − k], each output
// summed in single precision with k ascending, exactly as a one-sample FIR step
// does; x has taps − 1 earlier samples before x[0]. Forty-eight outputs are
// summed side by side so that the adds of one output never wait on each other.
VS32_ALWAYS_INLINE void FirRunBody(const float* coefficients, int taps, const float* x, int count,
                                   float* out) {
  constexpr int kLanes = 8;
  constexpr int kVectors = 6;
  constexpr int kWidth = kLanes * kVectors;
  int n = 0;
  for (; n + kWidth <= count; n += kWidth) {
    Floats acc[kVectors] = {};
    const float* base = x + n;
    for (int k = 0; k < taps; ++k) {
      const float c = coefficients[k];
      const float* xk = base - k;
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) {
        Floats xv;
        std::memcpy(&xv, xk + kLanes * v, sizeof xv);
        acc[v] += c * xv;
      }
    }
    std::memcpy(out + n, acc, sizeof acc);
  }
  for (; n < count; ++n) {
    float acc = 0.0f;
    for (int k = 0; k < taps; ++k) acc += coefficients[k] * x[n - k];
    out[n] = acc;
  }
}

// The wide path's low-pass and decimation by four: out[m] = sum over
// j = 0 … taps − 1 of coefficients[j] × y[4m + 3 − j], j ascending, single
// precision. y is held split by phase (y[4q + r] at phases[r·stride + q], with
// `past` earlier values of each phase in front), so the samples one tap meets
// in neighbouring outputs are neighbours in memory.
VS32_ALWAYS_INLINE void DecimateRunBody(const float* coefficients, int taps, const float* phases,
                                        int stride, int past, int count, float* out) {
  constexpr int kLanes = 8;
  constexpr int kVectors = 6;
  constexpr int kWidth = kLanes * kVectors;
  int m = 0;
  for (; m + kWidth <= count; m += kWidth) {
    Floats acc[kVectors] = {};
    for (int j = 0; j < taps; ++j) {
      const float c = coefficients[j];
      const float* src = phases + (3 - (j & 3)) * stride + past + m - (j >> 2);
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) {
        Floats yv;
        std::memcpy(&yv, src + kLanes * v, sizeof yv);
        acc[v] += c * yv;
      }
    }
    std::memcpy(out + m, acc, sizeof acc);
  }
  for (; m < count; ++m) {
    float acc = 0.0f;
    for (int j = 0; j < taps; ++j) {
      acc += coefficients[j] * phases[(3 - (j & 3)) * stride + past + m - (j >> 2)];
    }
    out[m] = acc;
  }
}

// Adds entries first … first + count − 1 of eight histories to their sums,
// oldest first: lane l of sums is history l's own chain of single-precision
// additions. Eight entries of the eight histories are turned around at a time
// so that one vector add serves all eight.
VS32_ALWAYS_INLINE void AddEntries(const float* const* h, int first, int count, Floats* sums) {
  int i = first;
  for (; i + 8 <= first + count; i += 8) {
    Floats r[8], c[8];
    for (int l = 0; l < 8; ++l) std::memcpy(&r[l], h[l] + i, sizeof(Floats));
    Transpose8(r, c);
    for (int t = 0; t < 8; ++t) *sums += c[t];
  }
  for (; i < first + count; ++i) {
    float lanes[8];
    for (int l = 0; l < 8; ++l) lanes[l] = h[l][i];
    Floats v;
    std::memcpy(&v, lanes, sizeof v);
    *sums += v;
  }
}

// The spectrum sum (entries 4 … 960) and the recent sum (944 … 959) of eight
// histories.
VS32_ALWAYS_INLINE void SumEightBody(const float* const* h, float* spectrumSums,
                                     float* recentSums) {
  Floats sum = {}, recent = {};
  AddEntries(h, kSpectrumFirst, kNewestEntry + 1 - kSpectrumFirst, &sum);
  AddEntries(h, kRecentFirst, kNewestEntry - kRecentFirst, &recent);
  std::memcpy(spectrumSums, &sum, sizeof sum);
  std::memcpy(recentSums, &recent, sizeof recent);
}

// The portable build of every kernel.
void StepBankPlainPortable(ChainBank& b, const double* x, int steps, float* detectorPower,
                           float* channelPower) {
  StepBankPlainBody(b, x, steps, detectorPower, channelPower);
}
void FirRunPortable(const float* coefficients, int taps, const float* x, int count, float* out) {
  FirRunBody(coefficients, taps, x, count, out);
}
void DecimateRunPortable(const float* coefficients, int taps, const float* phases, int stride,
                         int past, int count, float* out) {
  DecimateRunBody(coefficients, taps, phases, stride, past, count, out);
}
void SumEightPortable(const float* const* h, float* spectrumSums, float* recentSums) {
  SumEightBody(h, spectrumSums, recentSums);
}
constexpr ChainKernels kPortableKernels = {&StepBankPlainPortable, &FirRunPortable,
                                           &DecimateRunPortable, &SumEightPortable};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VS32_HAVE_AVX2_KERNELS 1
// The same kernels for CPUs with AVX2, picked at run time, so the program
// itself needs only the baseline x86-64 CPU. Both builds do the same
// operations in the same order on every value (separate multiplies and adds:
// -ffp-contract=off, and no FMA in these builds), so their results are
// bit-identical.
#define VS32_AVX2 __attribute__((target("avx2")))

// The bank with AVX2 intrinsics: the compiler's own lowering of the float
// round trip goes through memory, which costs more than the rest of the step.
VS32_AVX2 void StepBankPlainAvx2(ChainBank& b, const double* x, int steps, float* detectorPower,
                                 float* channelPower) {
  const __m256d gain = _mm256_set1_pd(b.gain);
  const __m256d pole = _mm256_set1_pd(b.pole);
  for (int c = 0; c < kPadded; c += 8) {
    const int d = c + 4;
    __m256d y0a = _mm256_load_pd(&b.y0[c]), y1a = _mm256_load_pd(&b.y1[c]);
    __m256d s0a = _mm256_load_pd(&b.s0[c]), s1a = _mm256_load_pd(&b.s1[c]);
    __m256d s2a = _mm256_load_pd(&b.s2[c]);
    __m256d y0b = _mm256_load_pd(&b.y0[d]), y1b = _mm256_load_pd(&b.y1[d]);
    __m256d s0b = _mm256_load_pd(&b.s0[d]), s1b = _mm256_load_pd(&b.s1[d]);
    __m256d s2b = _mm256_load_pd(&b.s2[d]);
    __m128 pa = _mm_setzero_ps(), pb = _mm_setzero_ps();
    for (int t = 0; t < steps; ++t) {
      const __m256d x2 = _mm256_broadcast_sd(&x[t]);
      const __m256d x1 = _mm256_broadcast_sd(&x[t + 1]);
      const __m256d x0 = _mm256_broadcast_sd(&x[t + 2]);
      // y = a0·x0 + a1·x1 + a2·x2 + b1·y1 + b2·y2, added left to right.
      __m256d ya = _mm256_mul_pd(_mm256_load_pd(&b.a0[c]), x0);
      __m256d yb = _mm256_mul_pd(_mm256_load_pd(&b.a0[d]), x0);
      ya = _mm256_add_pd(ya, _mm256_mul_pd(_mm256_load_pd(&b.a1[c]), x1));
      yb = _mm256_add_pd(yb, _mm256_mul_pd(_mm256_load_pd(&b.a1[d]), x1));
      ya = _mm256_add_pd(ya, _mm256_mul_pd(_mm256_load_pd(&b.a2[c]), x2));
      yb = _mm256_add_pd(yb, _mm256_mul_pd(_mm256_load_pd(&b.a2[d]), x2));
      ya = _mm256_add_pd(ya, _mm256_mul_pd(_mm256_load_pd(&b.b1[c]), y0a));
      yb = _mm256_add_pd(yb, _mm256_mul_pd(_mm256_load_pd(&b.b1[d]), y0b));
      ya = _mm256_add_pd(ya, _mm256_mul_pd(_mm256_load_pd(&b.b2[c]), y1a));
      yb = _mm256_add_pd(yb, _mm256_mul_pd(_mm256_load_pd(&b.b2[d]), y1b));
      y1a = y0a;
      y1b = y0b;
      y0a = ya;
      y0b = yb;
      // Power of y rounded to float, in float; then the smoother stages.
      const __m128 yfa = _mm256_cvtpd_ps(ya);
      const __m128 yfb = _mm256_cvtpd_ps(yb);
      pa = _mm_mul_ps(yfa, yfa);
      pb = _mm_mul_ps(yfb, yfb);
      const __m256d qa = _mm256_cvtps_pd(pa);
      const __m256d qb = _mm256_cvtps_pd(pb);
      s0a = _mm256_add_pd(_mm256_mul_pd(gain, qa), _mm256_mul_pd(pole, s0a));
      s0b = _mm256_add_pd(_mm256_mul_pd(gain, qb), _mm256_mul_pd(pole, s0b));
      s1a = _mm256_add_pd(_mm256_mul_pd(gain, s0a), _mm256_mul_pd(pole, s1a));
      s1b = _mm256_add_pd(_mm256_mul_pd(gain, s0b), _mm256_mul_pd(pole, s1b));
      s2a = _mm256_add_pd(_mm256_mul_pd(gain, s1a), _mm256_mul_pd(pole, s2a));
      s2b = _mm256_add_pd(_mm256_mul_pd(gain, s1b), _mm256_mul_pd(pole, s2b));
    }
    _mm256_store_pd(&b.y0[c], y0a);
    _mm256_store_pd(&b.y1[c], y1a);
    _mm256_store_pd(&b.s0[c], s0a);
    _mm256_store_pd(&b.s1[c], s1a);
    _mm256_store_pd(&b.s2[c], s2a);
    _mm256_store_pd(&b.y0[d], y0b);
    _mm256_store_pd(&b.y1[d], y1b);
    _mm256_store_pd(&b.s0[d], s0b);
    _mm256_store_pd(&b.s1[d], s1b);
    _mm256_store_pd(&b.s2[d], s2b);
    _mm_storeu_ps(&detectorPower[c], pa);
    _mm_storeu_ps(&detectorPower[d], pb);
    _mm_storeu_ps(&channelPower[c], _mm256_cvtpd_ps(s2a));
    _mm_storeu_ps(&channelPower[d], _mm256_cvtpd_ps(s2b));
  }
}
VS32_AVX2 void FirRunAvx2(const float* coefficients, int taps, const float* x, int count,
                          float* out) {
  FirRunBody(coefficients, taps, x, count, out);
}
VS32_AVX2 void DecimateRunAvx2(const float* coefficients, int taps, const float* phases, int stride,
                               int past, int count, float* out) {
  DecimateRunBody(coefficients, taps, phases, stride, past, count, out);
}
VS32_AVX2 void SumEightAvx2(const float* const* h, float* spectrumSums, float* recentSums) {
  SumEightBody(h, spectrumSums, recentSums);
}
constexpr ChainKernels kAvx2Kernels = {&StepBankPlainAvx2, &FirRunAvx2, &DecimateRunAvx2,
                                       &SumEightAvx2};
#endif

[[maybe_unused]] bool Avx2Available() {
#ifdef VS32_HAVE_AVX2_KERNELS
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

const ChainKernels* BestKernels() {
#ifdef VS32_HAVE_AVX2_KERNELS
  if (Avx2Available()) return &kAvx2Kernels;
#endif
  return &kPortableKernels;
}

}  // namespace

DecimatingLowpass::DecimatingLowpass() {
  // Blackman-windowed sinc at 48000 samples/s, cut-off 2400 Hz: flat over the
  // 1500 … 1600 Hz band, more than 70 dB down from about 3.2 kHz, so nothing
  // folds onto the band when every fourth sample is kept.
  constexpr double kCutoff = 2400.0 / kWideRate;
  const int mid = (kTaps - 1) / 2;
  double sum = 0;
  std::array<double, kTaps> h{};
  for (int k = 0; k < kTaps; ++k) {
    const double n = k - mid;
    const double sinc = n == 0 ? 2 * kCutoff : std::sin(kTwoPi * kCutoff * n) / (M_PI * n);
    const double w = 0.42 - 0.5 * std::cos(kTwoPi * k / (kTaps - 1)) +
                     0.08 * std::cos(2 * kTwoPi * k / (kTaps - 1));
    h[k] = sinc * w;
    sum += h[k];
  }
  for (int k = 0; k < kTaps; ++k) coefficients_[k] = static_cast<float>(h[k] / sum);
}

BandFilterChoice ChooseBandFilter(double bandStartHz) {
  if (bandStartHz > 1430 && bandStartHz < 1460) return BandFilterChoice::kBandFir1500;
  if (bandStartHz > 2430 && bandStartHz < 2460) return BandFilterChoice::kBandFir2500;
  if (bandStartHz > 1930 && bandStartHz < 1960) return BandFilterChoice::kBandFir2000;
  if (bandStartHz < kWideBandStartHz) return BandFilterChoice::kDesigned;
  return BandFilterChoice::kWidePath;
}

// A FIR over whole blocks: the last taps − 1 inputs stay in front of the new
// ones, so every output reads one contiguous run.
class BlockFir {
 public:
  static constexpr int kMaxTaps = 256;

  // coefficients: `taps` values (at most kMaxTaps), coefficient k meeting the
  // input k samples old; the filter keeps them. Blocks of up to maxBlock
  // samples. Starts from zero inputs.
  BlockFir(const float* coefficients, int taps, int maxBlock)
      : taps_(std::clamp(taps, 0, kMaxTaps)),
        run_(static_cast<size_t>(kMaxTaps - 1 + maxBlock), 0.0f) {
    std::copy_n(coefficients, taps_, coefficients_.begin());
  }
  // No coefficients until the first Redesign.
  explicit BlockFir(int maxBlock) : BlockFir(kNoCoefficients, 0, maxBlock) {}

  // A new design, from zero inputs (no allocation).
  void Redesign(const BandpassFir& design) {
    taps_ = std::min(design.taps(), kMaxTaps);
    for (int k = 0; k < taps_; ++k) coefficients_[k] = design.coefficient(k);
    std::fill(run_.begin(), run_.end(), 0.0f);
  }

  // output[i] for input[i], n at most maxBlock; output may be input.
  void Filter(const ChainKernels& kernels, const float* input, int n, float* output) {
    if (taps_ == 0) {
      std::fill(output, output + n, 0.0f);
      return;
    }
    const int past = taps_ - 1;
    std::memcpy(run_.data() + past, input, sizeof(float) * n);
    kernels.firRun(coefficients_.data(), taps_, run_.data() + past, n, output);
    std::memmove(run_.data(), run_.data() + n, sizeof(float) * past);
  }

 private:
  static constexpr float kNoCoefficients[1] = {0.0f};
  int taps_;
  std::array<float, kMaxTaps> coefficients_{};
  std::vector<float> run_;  // taps − 1 past inputs, then room for a block
};

struct ChainFilters {
  // The fixed filters: they live as long as the chain and are never reset.
  BlockFir bandFir1500{kBandFir1500Coefficients, kBandFirTaps, kWorkingRate};
  BlockFir bandFir2000{kBandFir2000Coefficients, kBandFirTaps, kWorkingRate};
  BlockFir bandFir2500{kBandFir2500Coefficients, kBandFirTaps, kWorkingRate};
  BlockFir mixLowpass{kMixLowpassCoefficients, kMixLowpassTaps, kWorkingRate};
  // The run's designed band filter (narrow path, or the wide path's 48000
  // samples/s filter), redesigned at the start of every run.
  BlockFir designed{kWideRate};
  std::vector<float> wideFiltered = std::vector<float>(kWideRate);

  // The wide path's low-pass before decimation. Its input is kept split by
  // phase (sample 4q + r of a block at phases[r·kPhaseStride + kDecimatorPast + q]),
  // behind the last kDecimatorPast samples of each phase from the block before;
  // like the fixed filters it carries them from run to run.
  static constexpr int kDecimatorPast = (DecimatingLowpass::kTaps - 1) / 4 + 1;
  static constexpr int kPhaseStride = kDecimatorPast + kWorkingRate;
  DecimatingLowpass decimator;
  std::vector<float> phases = std::vector<float>(4 * kPhaseStride);
};

ReceiveChain::ReceiveChain(const ReceiverSettings& settings, const KnownCallTable* knownCalls,
                           const ChannelMask* loranMask, const ChannelMask* alwaysDecodeMask,
                           DecodeSlotTable* slots, ReceiverEvents* events)
    : settings_(settings),
      knownCalls_(knownCalls),
      loranMask_(loranMask),
      alwaysDecodeMask_(alwaysDecodeMask),
      slots_(slots),
      events_(events),
      kernels_(BestKernels()),
      filters_(std::make_unique<ChainFilters>()),
      bank_(std::make_unique<ChainBank>()),
      powerRing_(static_cast<size_t>(kChannels) * 2 * kRingSlots),
      signRing_(static_cast<size_t>(kChannels) * 2 * kRingSlots),
      snapshot_(std::make_unique<DisplaySnapshot>()) {
  StartRun();
}

ReceiveChain::~ReceiveChain() = default;

bool ReceiveChain::wideKernels() const {
  return kernels_ != &kPortableKernels;
}

void ReceiveChain::usePortableKernels(bool portable) {
  kernels_ = portable ? &kPortableKernels : BestKernels();
}

void ReceiveChain::StartRun() {
  const double bandStart = settings_.bandStartHz;
  wide_ = bandStart >= kWideBandStartHz;
  choice_ = ChooseBandFilter(bandStart);

  // The menu may switch the list on during the run: its workspace is always there.
  if (!list_ || list_->listSize() != std::clamp(settings_.listSize, kMinListSize, kMaxListSize)) {
    list_ = std::make_unique<ListDecoder>(settings_.listSize);
  }
  historyFill_ = 0;
  historyHalfFull_ = false;
  ticks_ = 0;
  stepCounter_ = 0;
  decoderCalls_ = 0;
  blocks_ = 0;
  preShiftPhase_ = kStartPhase;
  mixPhase_ = kStartPhase;

  inputBlock_.fill(0);
  filteredBlock_.fill(0);
  wideBlock_.fill(0);
  channelPower_.fill(0);
  detectorPower_.fill(0);
  stepPower_.fill(0);
  spectrum_.fill(0);
  recentMean_.fill(0);
  peakFlags_.fill(0);
  peakCount_.store(0, std::memory_order_relaxed);
  blankedCount_.store(0, std::memory_order_relaxed);
  inputLevel_.store(1.0f / 6, std::memory_order_relaxed);
  if (slots_) slots_->Clear();

  // New channels: the resonators as ChannelResonator builds them, the smoothers
  // as PowerSmoother does, all state zero. The padding channels copy the last.
  ChainBank& b = *bank_;
  const PowerSmoother smoother(kSmootherCutoff, kSmootherStages);
  b.gain = smoother.gain();
  b.pole = smoother.pole();
  b.x1 = b.x2 = 0;
  for (int c = 0; c < kPaddedChannels; ++c) {
    const int channel = std::min(c, kChannels - 1);
    // Two roundings, as the channel frequencies have always been formed.
    const float f = static_cast<float>(ChannelOffsetHz(channel) + kMixedBandStartHz);
    const float fn =
        static_cast<float>(static_cast<double>(f) * (1.0 / kWorkingRate) * kSamplesPerStep);
    const ChannelResonator r(fn, kResonatorBandwidth);
    b.a0[c] = r.a0();
    b.a1[c] = r.a1();
    b.a2[c] = r.a2();
    b.b1[c] = r.b1();
    b.b2[c] = r.b2();
    b.phase[c] = r.phase();
    b.phaseStep[c] = r.phase_step();
    b.y0[c] = b.y1[c] = 0;
    b.s0[c] = b.s1[c] = b.s2[c] = 0;
  }

  std::fill(powerRing_.begin(), powerRing_.end(), 0.0f);
  std::fill(signRing_.begin(), signRing_.end(), int8_t{0});
  ringPos_ = 0;
  spectrumStale_ = false;
  nextSpectrum_.fill(0);
  nextRecent_.fill(0);

  // Both designs are centred on F_CENTER; edges in extended precision, passed as floats.
  const long double start = bandStart;
  float lo, hi;
  if (wide_) {
    lo = static_cast<float>((start - 450) / kWideRate);
    hi = static_cast<float>((start + 550) / kWideRate);
  } else {
    lo = static_cast<float>((start - 100) / kWorkingRate);
    hi = static_cast<float>((start + 200) / kWorkingRate);
  }
  bandFilter_ = std::make_unique<BandpassFir>(lo, hi);
  filters_->designed.Redesign(*bandFilter_);
  Publish();
}

void ReceiveChain::ProcessBlock(double blockStartSeconds, bool fromWav) {
  FrontEnd();
  // The histories change only at ticks, so the sums of the last block still
  // hold when no tick came since.
  if (spectrumStale_) UpdateSpectrum();

  SelectionInput selection;
  selection.spectrum = spectrum_.data();
  selection.minPeakSpacing = settings_.minPeakSpacing;
  selection.maxPeaks = settings_.maxPeaks;
  selection.ignoreLoranLines = settings_.ignoreLoranLines;
  selection.loranMask = loranMask_ ? loranMask_->data() : nullptr;
  selection.useFrequencyList = settings_.useFrequencyList;
  selection.alwaysDecodeMask = alwaysDecodeMask_ ? alwaysDecodeMask_->data() : nullptr;
  selection.channelSelected = channelSelected.load(std::memory_order_relaxed);
  selection.selectedChannel = selectedChannel.load(std::memory_order_relaxed);
  const int count = SelectChannels(selection, peakFlags_.data());
  peakCount_.store(count, std::memory_order_relaxed);
  if (events_) events_->PeaksSelected(count);

  ChannelSteps(blockStartSeconds, fromWav);
  ++blocks_;
  Publish();
}

void ReceiveChain::UpdateSpectrum() {
  for (int c = 0; c < kChannels; ++c) {
    spectrum_[c] = nextSpectrum_[c];
    recentMean_[c] = 0.0625 * nextRecent_[c];
  }
  spectrumStale_ = false;
}

// The sums of history entries 4 … 960 (the spectrum) and 944 … 959 (the
// recent mean) of channels first … last − 1, each channel's own chain of
// single-precision additions, oldest entry first. Reading a channel's history
// here also brings it into the cache for its decoder.
void ReceiveChain::SumHistories(int first, int last) {
  constexpr int kLanes = 8;
  const int start = WindowStart();
  for (int c0 = first; c0 < last; c0 += kLanes) {
    const int lanes = std::min(kLanes, last - c0);
    const float* h[kLanes];
    for (int l = 0; l < kLanes; ++l) {
      h[l] = &powerRing_[RingOffset(c0 + std::min(l, lanes - 1)) + start];
    }
    float sum[kLanes], recent[kLanes];
    kernels_->sumEight(h, sum, recent);
    for (int l = 0; l < lanes; ++l) {
      nextSpectrum_[c0 + l] = sum[l];
      nextRecent_[c0 + l] = recent[l];
    }
  }
}

void ReceiveChain::FrontEnd() {
  float* block = inputBlock_.data();

  if (wide_) {
    // Band filter, pre-shift so the band starts at 1500 Hz, low-pass, keep
    // sample 4k + 3 of every group of four.
    ChainFilters& f = *filters_;
    f.designed.Filter(*kernels_, wideBlock_.data(), kWideRate, f.wideFiltered.data());
    const double step = settings_.preShiftStep;
    constexpr int kStride = ChainFilters::kPhaseStride;
    constexpr int kPast = ChainFilters::kDecimatorPast;
    float* phases = f.phases.data();
    for (int i = 0; i < kWideRate; ++i) {
      const float y = static_cast<float>(f.wideFiltered[i] * std::cos(preShiftPhase_));
      preShiftPhase_ += step;
      if (preShiftPhase_ > kTwoPi) preShiftPhase_ -= kTwoPi;
      phases[(i & 3) * kStride + kPast + (i >> 2)] = y;
    }
    kernels_->decimateRun(f.decimator.coefficients(), DecimatingLowpass::kTaps, phases, kStride,
                          kPast, kWorkingRate, block);
    for (int r = 0; r < 4; ++r) {
      float* phase = phases + r * kStride;
      std::memmove(phase, phase + kWorkingRate, sizeof(float) * kPast);
    }
  }

  // Level and impulse blanking.
  float sum = 0.0f;
  for (int i = 0; i < kWorkingRate; ++i) sum += std::fabs(block[i]);
  const float m = sum / kWorkingRate;
  float level = inputLevel_.load(std::memory_order_relaxed);
  level = static_cast<float>(0.95 * level + 0.05 * m);
  inputLevel_.store(level, std::memory_order_relaxed);
  int blanked = 0;
  const double limit = 3.0 * level;
  for (int i = 0; i < kWorkingRate; ++i) {
    if (std::fabs(block[i]) > limit) {
      block[i] = 0;
      ++blanked;
    }
  }
  blankedCount_.store(blanked, std::memory_order_relaxed);
  if (level > 0) {
    const double scale = 6.0 * level;
    for (int i = 0; i < kWorkingRate; ++i) block[i] = static_cast<float>(block[i] / scale);
  }

  ChainFilters& f = *filters_;
  float* out = filteredBlock_.data();
  switch (choice_) {
    case BandFilterChoice::kBandFir1500:
    case BandFilterChoice::kWidePath:
      f.bandFir1500.Filter(*kernels_, block, kWorkingRate, out);
      break;
    case BandFilterChoice::kBandFir2500:
      f.bandFir2500.Filter(*kernels_, block, kWorkingRate, out);
      break;
    case BandFilterChoice::kBandFir2000:
      f.bandFir2000.Filter(*kernels_, block, kWorkingRate, out);
      break;
    case BandFilterChoice::kDesigned:
      f.designed.Filter(*kernels_, block, kWorkingRate, out);
      break;
  }

  // Mixer: the band's lower edge moves to 100 Hz.
  const double mixStep = settings_.mixStep;
  for (int i = 0; i < kWorkingRate; ++i) {
    out[i] = static_cast<float>(out[i] * std::cos(mixPhase_));
    mixPhase_ += mixStep;
    if (mixPhase_ > kTwoPi) mixPhase_ -= kTwoPi;
  }
  f.mixLowpass.Filter(*kernels_, out, kWorkingRate, out);
}

void ReceiveChain::RunBank(int firstStep, int steps, bool coherent) {
  ChainBank& b = *bank_;
  bankInput_[0] = b.x2;
  bankInput_[1] = b.x1;
  for (int s = 0; s < steps; ++s) {
    bankInput_[2 + s] = filteredBlock_[(firstStep + s) * kSamplesPerStep];
  }
  if (coherent) {
    StepBankCoherent(b, bankInput_.data(), steps, detectorPower_.data(), stepPower_.data());
  } else {
    kernels_->stepBankPlain(b, bankInput_.data(), steps, detectorPower_.data(), stepPower_.data());
  }
  b.x2 = bankInput_[steps];
  b.x1 = bankInput_[steps + 1];
}

void ReceiveChain::ChannelSteps(double blockStartSeconds, bool fromWav) {
  const bool coherent = settings_.coherentDetector;
  // The bank runs from tick to tick: a channel's state stays in registers over
  // hundreds of steps, and only the powers at a tick and at the end of the
  // block are kept.
  int step = 0;
  while (step < kStepsPerBlock) {
    const int remaining = kStepsPerBlock - step;
    const int beforeTick = stepCounter_ % kStepsPerTick == 0 ? 0 : kStepsPerTick - stepCounter_;
    const bool tick = beforeTick < remaining;
    const int n = tick ? beforeTick + 1 : remaining;
    RunBank(step, n, coherent);
    step += n;
    if (tick) {
      const int t = (step - 1) * kSamplesPerStep;
      Tick(blockStartSeconds + static_cast<double>(t) / kWorkingRate, fromWav);
      stepCounter_ = 1;
    } else {
      stepCounter_ += n;
    }
  }
  std::copy_n(stepPower_.begin(), kChannels, channelPower_.begin());
}

void ReceiveChain::Tick(double tickSeconds, bool fromWav) {
  // Every channel's new entry goes in first; the decoder of channel c is then
  // shown channels c − 1 and c with it and channel c + 1 without it (its window
  // before this tick, which the ring still holds), as when the channels tick
  // one after the other.
  const int p = ringPos_;
  for (int c = 0; c < kChannels; ++c) {
    const float power = stepPower_[c];
    float* h = &powerRing_[RingOffset(c)];
    h[p] = power;
    h[p + kRingSlots] = power;
    const int8_t sign = power > recentMean_[c] ? 1 : -1;
    int8_t* s = &signRing_[RingOffset(c)];
    s[p] = sign;
    s[p + kRingSlots] = sign;
  }
  ringPos_ = p + 1 == kRingSlots ? 0 : p + 1;
  spectrumStale_ = true;
  const int now = WindowStart();
  const int before = now == 0 ? kRingSlots - 1 : now - 1;

  DecoderOptions options;
  options.useCorrelator = settings_.useCorrelator;
  options.correlator51Threshold = settings_.correlator51Threshold;
  options.correlator237Threshold = settings_.correlator237Threshold;
  options.correlatorSecondOpinion = settings_.correlatorSecondOpinion;
  options.knownCalls = knownCalls_;
  options.events = events_;
  options.strictFrameCheck = settings_.strictFrameCheck;
  options.decodeAfterWarmup = settings_.decodeAfterWarmup;
  options.listDecoder = list_.get();
  options.listThreshold = settings_.listThreshold;
  if (ticks_ <= kNewestEntry) ++ticks_;
  options.historyFull = ticks_ > kNewestEntry;
  const int depth = settings_.listDecoder        ? 3
                    : settings_.ultraDeepDecoder ? 2
                    : settings_.deepDecoder      ? 1
                                                 : 0;

  // The sums for the next block's spectrum are formed channel by channel just
  // ahead of the decoder, so each history comes from memory once a tick.
  constexpr int kSumAhead = 8;
  int summed = 0;  // channels 0 … summed − 1 have their sums
  for (int c = 0; c < kChannels; ++c) {
    if (summed < kChannels && summed <= c + 1) {
      const int last = std::min(summed + kSumAhead, kChannels);
      SumHistories(summed, last);
      summed = last;
    }
    historyFill_ += 1;
    if (historyFill_ >= kHalfFullCount) {
      historyFill_ = kFullCount;
      historyHalfFull_ = true;
    } else {
      historyHalfFull_ = false;
    }

    if (slots_) slots_->CountDownHold(c);

    char call[8] = {};
    float ebNo = -100.0f;
    int attempts = 0;
    DecodeStatus status = 0;
    if (peakFlags_[c] != 0 && c > 0 && c < kChannels - 1) {
      options.historyHalfFull = historyHalfFull_;
      status = decoder_(&powerRing_[RingOffset(c) + now], &powerRing_[RingOffset(c - 1) + now],
                        &powerRing_[RingOffset(c + 1) + before], &signRing_[RingOffset(c) + now],
                        call, &ebNo, &attempts, depth, options);
      ++decoderCalls_;
    }
    if (slots_ && status != 0) {
      slots_->AcceptDecode(c, status, call, ebNo, attempts, static_cast<int>(tickSeconds),
                           spectrum_.data(), settings_.decodeThreshold, fromWav);
    }
  }
}

void ReceiveChain::Publish() {
  std::lock_guard lock(snapshotMutex_);
  DisplaySnapshot& s = *snapshot_;
  s.inputBlock = inputBlock_;
  s.channelPower = channelPower_;
  s.spectrum = spectrum_;
  s.peakFlags = peakFlags_;
  int sel = selectedChannel.load(std::memory_order_relaxed);
  if (sel < 0 || sel >= kChannels) sel = 0;
  s.selectedChannel = sel;
  std::memcpy(s.selectedHistory.data(), powerHistory(sel), sizeof(float) * (kNewestEntry + 1));
  std::fill(s.selectedHistory.begin() + kNewestEntry + 1, s.selectedHistory.end(), 0.0f);
  s.selectedRecentMean = recentMean_[sel];
  s.peakCount = peakCount_.load(std::memory_order_relaxed);
  s.inputLevel = inputLevel_.load(std::memory_order_relaxed);
  s.blankedCount = blankedCount_.load(std::memory_order_relaxed);
  s.blocks = blocks_;
}

void ReceiveChain::Snapshot(DisplaySnapshot* out) const {
  std::lock_guard lock(snapshotMutex_);
  *out = *snapshot_;
}

}  // namespace vs32
