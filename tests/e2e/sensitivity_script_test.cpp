// The sensitivity harness (scripts/sensitivity) on a grid of one strong
// recording: it must find the station, keep its recording for the next run,
// and stop with a message when a tool is missing or a decode run fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32::test {
namespace {

CommandResult RunHarness(const TempDir& dir, const std::string& build, const std::string& curves) {
  return RunCommand(
      {std::string(VS32_SOURCE_DIR) + "/scripts/sensitivity"}, dir.path().string(),
      {"BUILD=" + build, "SNRS=-20", "SEEDS=1", "CURVES=" + curves, "NOISE_HOURS=0.01", "JOBS=1",
       "OUT=" + (dir / "out").string(), "CACHE=" + (dir / "cache").string()});
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(SensitivityHarness, StrongStationDecodesAndItsRecordingIsReused) {
  TempDir dir;
  CommandResult r = RunHarness(dir, VS32_BIN_DIR, "strong:--depth 0");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "generating 2 recordings (0 cached)")) << r.out;
  EXPECT_TRUE(Contains(r.out, "== strong ==")) << r.out;
  EXPECT_TRUE(Contains(r.out, "phantoms on noise alone: 0.01 h in 1 recordings")) << r.out;

  const std::string md = ReadFile(dir / "out" / "sensitivity.md");
  EXPECT_TRUE(Contains(md, "| -20 | 1 | 1 (100 %) |")) << md;
  EXPECT_TRUE(Contains(md, "| 50 % point | | below grid |")) << md;
  EXPECT_TRUE(Contains(md, "Decodes on noise alone")) << md;
  const std::string svg = ReadFile(dir / "out" / "sensitivity.svg");
  EXPECT_TRUE(Contains(svg, "<svg")) << svg.substr(0, 200);
  EXPECT_TRUE(Contains(svg, "strong (")) << "the legend names the curve and its phantom rate";

  // Same grid, another curve: the recordings are not made again, and a decode
  // run that fails stops the harness.
  r = RunHarness(dir, VS32_BIN_DIR, "broken:--depth 9");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "generating 0 recordings (2 cached)")) << r.out;
  EXPECT_TRUE(Contains(r.err, "vs32decode failed for the curve \"broken\"")) << r.err;
}

TEST(SensitivityHarness, MissingToolsAndBadSettingsAreNamed) {
  TempDir dir;
  CommandResult r = RunHarness(dir, (dir / "no-build").string(), "depth 0:--depth 0");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.err, "no-build/vs32gen not found")) << r.err;

  r = RunHarness(dir, VS32_BIN_DIR, "no arguments here");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.err, "CURVES: \"no arguments here\" is not name:arguments")) << r.err;
}

}  // namespace
}  // namespace vs32::test
