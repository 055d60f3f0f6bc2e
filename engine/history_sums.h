// The sums the chain forms over its channel histories after a tick: the
// spectrum (entries 4 … 960) and the recent mean's sum (944 … 959), eight
// channels at a time.
#pragma once

namespace vs32 {

// Sums of eight histories h[0 … 7], each its own chain of single-precision
// additions, oldest entry first.
using SumEightKernel = void (*)(const float* const* h, float* spectrumSums, float* recentSums);

// The AVX2 build where the CPU runs it, unless `portable`. Both give the same bits.
SumEightKernel SelectSumEight(bool portable);

}  // namespace vs32
