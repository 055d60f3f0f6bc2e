// design_filters: designs the coefficient tables of the four fixed FIR filters
// (BandFir1500, BandFir2000, BandFir2500, MixLowpass), checks every response
// figure they must meet, and writes engine/fixed_filter_tables.cpp.
//
//   design_filters                    write the source file to standard output
//   design_filters FILE               write it to FILE (replaced only when complete)
//   design_filters --check            design and check only, print the figures
//
// Method: each table is a symmetric (linear-phase) FIR, designed in double
// precision as a weighted least-squares fit of its amplitude response to a
// target curve, with Lawson's reweighting pushing the fit towards the minimax
// solution, so that the largest error relative to each point's tolerance
// shrinks until every figure is met with a margin. The three band filters
// share one low-pass prototype (the "shape"), shifted to 1500, 2000 and
// 2500 Hz by cosine modulation and scaled to their centre gains.
//
// References: C. L. Lawson, "Contributions to the theory of linear least
// maximum approximation", 1961; T. W. Parks, C. S. Burrus, "Digital Filter
// Design", 1987, ch. 3 (least-squares FIR design).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "config/band_plan.h"
#include "engine/fixed_filters.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSampleRateHz = vs32::kWorkingRate;
constexpr double kNyquistHz = kSampleRateHz / 2;

double DbToLinear(double db) {
  return std::pow(10.0, db / 20.0);
}
double LinearToDb(double a) {
  return 20.0 * std::log10(std::fabs(a));
}

// A target curve in dB through knots, monotone piecewise cubic (Fritsch-Carlson),
// so it never overshoots between knots.
class DbCurve {
 public:
  struct Knot {
    double hz;
    double db;
  };
  explicit DbCurve(std::vector<Knot> knots) : k_(std::move(knots)) {
    const size_t n = k_.size();
    std::vector<double> delta(n - 1);
    for (size_t i = 0; i + 1 < n; ++i) {
      delta[i] = (k_[i + 1].db - k_[i].db) / (k_[i + 1].hz - k_[i].hz);
    }
    slope_.assign(n, 0.0);
    slope_[0] = delta[0];
    slope_[n - 1] = delta[n - 2];
    for (size_t i = 1; i + 1 < n; ++i) {
      if (delta[i - 1] * delta[i] <= 0) {
        slope_[i] = 0.0;
      } else {
        const double h0 = k_[i].hz - k_[i - 1].hz;
        const double h1 = k_[i + 1].hz - k_[i].hz;
        const double w1 = 2 * h1 + h0;
        const double w2 = h1 + 2 * h0;
        slope_[i] = (w1 + w2) / (w1 / delta[i - 1] + w2 / delta[i]);
      }
    }
  }

  double Db(double hz) const {
    if (hz <= k_.front().hz) return k_.front().db;
    if (hz >= k_.back().hz) return k_.back().db;
    size_t i = 0;
    while (hz > k_[i + 1].hz) ++i;
    const double h = k_[i + 1].hz - k_[i].hz;
    const double t = (hz - k_[i].hz) / h;
    const double t2 = t * t;
    const double t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * k_[i].db + (t3 - 2 * t2 + t) * h * slope_[i] +
           (-2 * t3 + 3 * t2) * k_[i + 1].db + (t3 - t2) * h * slope_[i + 1];
  }

 private:
  std::vector<Knot> k_;
  std::vector<double> slope_;
};

// One point of a design grid: the wanted amplitude and how far the fit may stray.
struct GridPoint {
  double hz;
  double desired;    // linear amplitude
  double tolerance;  // linear, > 0
};

// Solves the symmetric positive definite system m x = b (Cholesky); m is n×n row-major.
bool SolveSpd(std::vector<double> m, std::vector<double> b, size_t n, std::vector<double>& x) {
  for (size_t j = 0; j < n; ++j) {
    double d = m[j * n + j];
    for (size_t k = 0; k < j; ++k) d -= m[j * n + k] * m[j * n + k];
    if (!(d > 0)) return false;
    d = std::sqrt(d);
    m[j * n + j] = d;
    for (size_t i = j + 1; i < n; ++i) {
      double s = m[i * n + j];
      for (size_t k = 0; k < j; ++k) s -= m[i * n + k] * m[j * n + k];
      m[i * n + j] = s / d;
    }
  }
  for (size_t i = 0; i < n; ++i) {
    double s = b[i];
    for (size_t k = 0; k < i; ++k) s -= m[i * n + k] * b[k];
    b[i] = s / m[i * n + i];
  }
  for (size_t i = n; i-- > 0;) {
    double s = b[i];
    for (size_t k = i + 1; k < n; ++k) s -= m[k * n + i] * b[k];
    b[i] = s / m[i * n + i];
  }
  x = b;
  return true;
}

// Weighted least squares with Lawson's reweighting on the tolerance-scaled error.
// Returns the cosine coefficients c_0 .. c_M of the best iterate.
std::vector<double> DesignSymmetric(int half, const std::vector<GridPoint>& grid, int iterations,
                                    double* worstOut) {
  const size_t n = static_cast<size_t>(half) + 1;
  const size_t g = grid.size();
  std::vector<double> basis(g * n);
  for (size_t i = 0; i < g; ++i) {
    const double w = 2 * kPi * grid[i].hz / kSampleRateHz;
    for (size_t k = 0; k < n; ++k) basis[i * n + k] = std::cos(w * static_cast<double>(k));
  }
  std::vector<double> weight(g);
  for (size_t i = 0; i < g; ++i) weight[i] = 1.0 / (grid[i].tolerance * grid[i].tolerance);

  std::vector<double> best;
  double bestWorst = 1e300;
  std::vector<double> m(n * n), b(n), c;
  for (int it = 0; it < iterations; ++it) {
    std::fill(m.begin(), m.end(), 0.0);
    std::fill(b.begin(), b.end(), 0.0);
    for (size_t i = 0; i < g; ++i) {
      const double* row = &basis[i * n];
      const double wi = weight[i];
      for (size_t r = 0; r < n; ++r) {
        const double wr = wi * row[r];
        b[r] += wr * grid[i].desired;
        for (size_t s = 0; s <= r; ++s) m[r * n + s] += wr * row[s];
      }
    }
    for (size_t r = 0; r < n; ++r) {
      for (size_t s = 0; s < r; ++s) m[s * n + r] = m[r * n + s];
    }
    if (!SolveSpd(m, b, n, c)) break;

    double worst = 0.0;
    double sum = 0.0;
    std::vector<double> err(g);
    for (size_t i = 0; i < g; ++i) {
      double a = 0.0;
      for (size_t k = 0; k < n; ++k) a += c[k] * basis[i * n + k];
      err[i] = std::fabs(a - grid[i].desired) / grid[i].tolerance;
      worst = std::max(worst, err[i]);
    }
    if (worst < bestWorst) {
      bestWorst = worst;
      best = c;
    }
    // Lawson: weight grows where the scaled error is large.
    for (size_t i = 0; i < g; ++i) {
      weight[i] *= err[i] + 1e-9;
      sum += weight[i] * grid[i].tolerance * grid[i].tolerance;
    }
    for (size_t i = 0; i < g; ++i) weight[i] /= sum;
  }
  if (worstOut) *worstOut = bestWorst;
  return best;
}

// ---------------------------------------------------------------------------
// The band filters: flat over ±50 Hz, −4.3 dB at ±100 Hz, about −20 dB at
// ±150 Hz, below −51 dB from ±200 Hz and below −55 dB beyond ±400 Hz. The
// target curve is the same for all three; only the centre moves. The design
// tolerances sit inside the figures with a margin, and the skirt between 156
// and 196 Hz from the centre is left free, which is what lets the stop band
// start at 200 Hz.

std::vector<double> DesignBand(double centreHz, double* worst) {
  const DbCurve skirt(
      {{50, 0.0}, {75, -1.4}, {100, -4.3}, {125, -10.5}, {150, -20.0}, {175, -33.0}});
  std::vector<GridPoint> grid;
  for (double hz = 0; hz <= kNyquistHz + 1e-9; hz += 2.0) {
    const double d = std::fabs(hz - centreHz);
    GridPoint p{hz, 0.0, 1.0};
    if (d <= 55) {
      // ±0.09 dB around 1: the spread seen from the centre stays under 0.2 dB.
      p.desired = 1.0;
      p.tolerance = 1.0 - DbToLinear(-0.09);
    } else if (d <= 156) {
      p.desired = DbToLinear(skirt.Db(d));
      double tolDb = 1.5;  // loose between the required points
      if (std::fabs(d - 100) <= 4) tolDb = 0.3;
      if (std::fabs(d - 150) <= 4) tolDb = 1.0;
      p.tolerance = p.desired * (1.0 - DbToLinear(-tolDb));
    } else if (d < 196) {
      continue;
    } else if (d < 398) {
      p.tolerance = DbToLinear(-53.0);
    } else {
      p.tolerance = DbToLinear(-57.0);
    }
    grid.push_back(p);
  }
  return DesignSymmetric((vs32::kBandFirTaps - 1) / 2, grid, 300, worst);
}

// ---------------------------------------------------------------------------
// MixLowpass: through the required points up to 700 Hz (DC held tightly, since
// every figure is relative to it), the transition up to 1000 Hz left free, and
// a stop band designed to −47 dB for the −43 dB figure.

std::vector<double> DesignMixLowpass(double* worst) {
  const DbCurve curve({{0, 0.0},
                       {100, 0.26},
                       {200, 0.52},
                       {300, -0.27},
                       {384, -2.45},
                       {500, -8.8},
                       {600, -18.2},
                       {700, -27.1}});
  std::vector<GridPoint> grid;
  for (double hz = 0; hz <= kNyquistHz + 1e-9; hz += 2.0) {
    GridPoint p{hz, 0.0, 1.0};
    if (hz <= 702) {
      p.desired = DbToLinear(curve.Db(hz));
      const bool required = std::fmod(hz, 100.0) == 0.0 || std::fabs(hz - 384) <= 2;
      double tolDb = required ? 0.15 : 1.0;
      if (hz == 0) tolDb = 0.05;
      p.tolerance = p.desired * (1.0 - DbToLinear(-tolDb));
    } else if (hz < 996) {
      continue;
    } else {
      p.tolerance = DbToLinear(-47.0);
    }
    grid.push_back(p);
  }
  return DesignSymmetric((vs32::kMixLowpassTaps - 1) / 2, grid, 300, worst);
}

// Taps of a symmetric FIR from its cosine coefficients, scaled so that the
// response at centreHz is `scale`; tap k and tap N − 1 − k are computed once.
std::vector<float> Taps(const std::vector<double>& c, double centreHz, double scale) {
  const int half = static_cast<int>(c.size()) - 1;
  std::vector<double> taps(2 * half + 1);
  for (int k = 0; k <= half; ++k) {
    double v = (k == 0) ? c[0] : c[k] / 2;
    taps[half + k] = v;
    taps[half - k] = v;
  }
  const double w = 2 * kPi * centreHz / kSampleRateHz;
  double a = 0.0;
  for (int n = 0; n <= 2 * half; ++n) a += taps[n] * std::cos(w * (n - half));
  std::vector<float> out(taps.size());
  for (size_t n = 0; n < taps.size(); ++n) out[n] = static_cast<float>(taps[n] * (scale / a));
  return out;
}

// |H(f)| of a float table, evaluated in double precision.
double Magnitude(const std::vector<float>& h, double hz) {
  const double w = 2 * kPi * hz / kSampleRateHz;
  double re = 0.0, im = 0.0;
  for (size_t n = 0; n < h.size(); ++n) {
    re += h[n] * std::cos(w * static_cast<double>(n));
    im -= h[n] * std::sin(w * static_cast<double>(n));
  }
  return std::hypot(re, im);
}

// ---------------------------------------------------------------------------
// Checks of the finished float tables: the same figures the unit tests check.

struct Checker {
  bool ok = true;
  std::ostream& log;

  void Figure(const char* filter, const std::string& what, double valueDb, double lo, double hi) {
    const bool pass = valueDb >= lo && valueDb <= hi;
    char line[200];
    std::snprintf(line, sizeof line, "  %-12s %-34s %8.2f dB  (%s)\n", filter, what.c_str(),
                  valueDb, pass ? "ok" : "FAILS");
    log << line;
    ok = ok && pass;
  }
};

void CheckBandFilter(Checker& ck, const char* name, const std::vector<float>& h, double centreHz,
                     double gain, double db100, double stop200Db) {
  const double g = Magnitude(h, centreHz);
  ck.Figure(name, "centre gain " + std::to_string(gain), LinearToDb(g / gain), -0.001, 0.001);
  double passMin = 0, passMax = -1e9;
  for (double d = -50; d <= 50; d += 0.25) {
    const double db = LinearToDb(Magnitude(h, centreHz + d) / g);
    passMin = std::min(passMin, db);
    passMax = std::max(passMax, db);
  }
  ck.Figure(name, "lowest within ±50 Hz", passMin, -0.2, 0.2);
  ck.Figure(name, "highest within ±50 Hz", passMax, -0.2, 0.2);
  for (int sign : {-1, 1}) {
    const std::string side = sign < 0 ? "-" : "+";
    ck.Figure(name, "at " + side + "100 Hz", LinearToDb(Magnitude(h, centreHz + sign * 100.0) / g),
              db100 - 0.5, db100 + 0.5);
    ck.Figure(name, "at " + side + "150 Hz", LinearToDb(Magnitude(h, centreHz + sign * 150.0) / g),
              -21.5, -18.5);
  }
  double stop200 = -1e9, stop400 = -1e9;
  for (double f = 0; f <= kNyquistHz; f += 0.25) {
    const double d = std::fabs(f - centreHz);
    if (d < 200) continue;
    const double db = LinearToDb(Magnitude(h, f) / g);
    stop200 = std::max(stop200, db);
    if (d > 400) stop400 = std::max(stop400, db);
  }
  ck.Figure(name, "highest from ±200 Hz", stop200, -1e9, stop200Db);
  ck.Figure(name, "highest beyond ±400 Hz", stop400, -1e9, -55.0);
}

void CheckMixLowpass(Checker& ck, const std::vector<float>& h) {
  double sum = 0.0;
  for (float v : h) sum += v;
  ck.Figure("MixLowpass", "sum of coefficients (as dB)", LinearToDb(sum), -1e-5, 1e-5);
  const struct {
    double hz, db;
  } points[] = {{0, 0.0},     {100, 0.26}, {200, 0.52},  {300, -0.27},
                {384, -2.45}, {500, -8.8}, {600, -18.2}, {700, -27.1}};
  for (const auto& p : points) {
    ck.Figure("MixLowpass", "at " + std::to_string(static_cast<int>(p.hz)) + " Hz",
              LinearToDb(Magnitude(h, p.hz)), p.db - 0.5, p.db + 0.5);
  }
  double stop = -1e9;
  for (double f = 1000; f <= kNyquistHz; f += 0.25)
    stop = std::max(stop, LinearToDb(Magnitude(h, f)));
  ck.Figure("MixLowpass", "highest from 1000 Hz", stop, -1e9, -43.0);
}

// ---------------------------------------------------------------------------
// Output

std::string FloatLiteral(float v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
  std::string s = buf;
  if (s.find_first_of(".en") == std::string::npos) s += ".0";
  if (std::strtof(s.c_str(), nullptr) != v) {
    std::fprintf(stderr, "design_filters: %s does not read back exactly\n", s.c_str());
    std::exit(1);
  }
  return s + "f";
}

void WriteTable(std::ostream& out, const char* comment, const char* name, const char* size,
                const std::vector<float>& h) {
  out << "\n// " << comment << "\n";
  out << "const float " << name << "[" << size << "] = {\n";
  for (float v : h) out << "    " << FloatLiteral(v) << ",\n";
  out << "};\n";
}

std::string SourceFile(const std::vector<float>& b1500, const std::vector<float>& b2000,
                       const std::vector<float>& b2500, const std::vector<float>& mix) {
  std::ostringstream out;
  out << "// Coefficient tables of the fixed FIR filters, written by tools/design_filters.\n"
         "// Do not edit: change the design program and regenerate with\n"
         "//   design_filters engine/fixed_filter_tables.cpp\n"
         "#include \"engine/fixed_filters.h\"\n"
         "\n"
         "// clang-format off\n"
         "namespace vs32 {\n";
  WriteTable(out, "Centre 1500 Hz, gain 1.749 at the centre.", "kBandFir1500Coefficients",
             "kBandFirTaps", b1500);
  WriteTable(out, "Centre 2000 Hz, gain 38.8 at the centre.", "kBandFir2000Coefficients",
             "kBandFirTaps", b2000);
  WriteTable(out, "Centre 2500 Hz, gain 101.4 at the centre.", "kBandFir2500Coefficients",
             "kBandFirTaps", b2500);
  WriteTable(out, "Low-pass after the mixer, DC gain 1.", "kMixLowpassCoefficients",
             "kMixLowpassTaps", mix);
  out << "\n}  // namespace vs32\n"
         "// clang-format on\n";
  return out.str();
}

int Usage(std::ostream& os, int status) {
  os << "usage: design_filters [--check | OUTPUT.cpp]\n"
        "Designs the fixed FIR tables (BandFir1500/2000/2500, MixLowpass), checks their\n"
        "responses and writes the C++ source with the tables to OUTPUT.cpp, or to\n"
        "standard output when no file is named. --check only designs and checks.\n"
        "Exit status: 0 done, 1 a response figure is not met or the file cannot be\n"
        "written, 2 usage error.\n";
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  bool checkOnly = false;
  std::string outPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return Usage(std::cout, 0);
    if (arg == "--check") {
      checkOnly = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "design_filters: unknown option " << arg << "\n";
      return Usage(std::cerr, 2);
    } else if (outPath.empty()) {
      outPath = arg;
    } else {
      std::cerr << "design_filters: only one output file can be named\n";
      return Usage(std::cerr, 2);
    }
  }

  double worst[4] = {};
  const std::vector<double> c1500 = DesignBand(1500.0, &worst[0]);
  const std::vector<double> c2000 = DesignBand(2000.0, &worst[1]);
  const std::vector<double> c2500 = DesignBand(2500.0, &worst[2]);
  const std::vector<double> cMix = DesignMixLowpass(&worst[3]);
  if (c1500.empty() || c2000.empty() || c2500.empty() || cMix.empty()) {
    std::cerr << "design_filters: the least-squares system could not be solved\n";
    return 1;
  }
  const std::vector<float> b1500 = Taps(c1500, 1500.0, 1.749);
  const std::vector<float> b2000 = Taps(c2000, 2000.0, 38.8);
  const std::vector<float> b2500 = Taps(c2500, 2500.0, 101.4);
  const std::vector<float> mix = Taps(cMix, 0.0, 1.0);

  std::ostringstream report;
  report << "design_filters: worst scaled errors (below 1 meets the design tolerances): "
         << worst[0] << ", " << worst[1] << ", " << worst[2] << ", " << worst[3] << "\n";
  Checker ck{true, report};
  CheckBandFilter(ck, "BandFir1500", b1500, 1500.0, 1.749, -4.3, -46.0);
  CheckBandFilter(ck, "BandFir2000", b2000, 2000.0, 38.8, -4.3, -48.0);
  CheckBandFilter(ck, "BandFir2500", b2500, 2500.0, 101.4, -4.2, -51.0);
  CheckMixLowpass(ck, mix);
  std::cerr << report.str();
  if (!ck.ok) {
    std::cerr << "design_filters: some figures are not met; nothing written\n";
    return 1;
  }
  if (checkOnly) return 0;

  const std::string source = SourceFile(b1500, b2000, b2500, mix);
  if (outPath.empty()) {
    std::cout << source;
    return std::cout.good() ? 0 : 1;
  }
  // Write beside the target, then rename, so a half-written table never lands
  // in the tree (the build compiles every engine source it finds).
  const std::string tmp = outPath + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << source;
    f.close();
    if (!f) {
      std::cerr << "design_filters: cannot write " << tmp << "\n";
      std::remove(tmp.c_str());
      return 1;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, outPath, ec);
  if (ec) {
    std::cerr << "design_filters: cannot replace " << outPath << ": " << ec.message() << "\n";
    std::remove(tmp.c_str());
    return 1;
  }
  return 0;
}
