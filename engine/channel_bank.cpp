#include "engine/channel_bank.h"

#include <cmath>
#include <cstring>

#include "engine/filter_design.h"
#include "engine/float_vectors.h"
#include "engine/receive_chain.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vs32 {

namespace {

constexpr int kPadded = ChainBank::kPadded;
static_assert(kPadded >= kChannels && kPadded % 8 == 0);

// The channel bank over `steps` channel steps with the plain detector:
// resonator, y rounded to float, power y², three smoother stages. x[s], x[s+1],
// x[s+2] are the inputs two before, one before and at step s. Channels are
// stepped eight at a time through all the steps, so their state stays in
// registers; each channel's arithmetic is that of the one-channel resonator and
// smoother, operation for operation. Writes the detector power and the
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

}  // namespace

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

namespace {

void StepBankPlainPortable(ChainBank& b, const double* x, int steps, float* detectorPower,
                           float* channelPower) {
  StepBankPlainBody(b, x, steps, detectorPower, channelPower);
}

#ifdef VS32_HAVE_AVX2_KERNELS
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
#endif

}  // namespace

StepBankKernel SelectStepBankPlain(bool portable) {
#ifdef VS32_HAVE_AVX2_KERNELS
  if (!portable && Avx2KernelsAvailable()) return &StepBankPlainAvx2;
#endif
  return &StepBankPlainPortable;
}

}  // namespace vs32
