// Comparing rendered surfaces with PNG goldens committed beside the tests.
//
// On a mismatch the actual image and a difference image (differing pixels
// red on a dimmed copy of the golden) are written to gfx-output/ in the
// test's working directory. With TALVEN_UPDATE_GOLDENS=1 in the
// environment a missing or differing golden is written instead, to be
// reviewed by eye before it is committed.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/gfx/png.hpp"

namespace gfx::testing {

inline std::string golden_path(const std::string& name) {
  return std::string(TALVEN_SOURCE_DIR) + "/tests/platform/golden/" + name + ".png";
}

inline ::testing::AssertionResult matches_golden(const Surface& actual, const std::string& name) {
  std::string path = golden_path(name);
  std::string error;
  auto golden = read_png(path, &error);
  bool update = std::getenv("TALVEN_UPDATE_GOLDENS") != nullptr;
  int differing = 0;
  Surface diff(actual.width(), actual.height());
  if (golden && golden->width() == actual.width() && golden->height() == actual.height()) {
    for (int32_t y = 0; y < actual.height(); ++y)
      for (int32_t x = 0; x < actual.width(); ++x) {
        uint32_t want = golden->color(x, y), got = actual.color(x, y);
        diff.set_pixel(x, y, want == got ? (want >> 2) & 0x3F3F3F : 0xFF0000);
        differing += want != got;
      }
    if (differing == 0) return ::testing::AssertionSuccess();
  }
  if (update) {
    if (!write_png(actual, path, &error)) return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess() << "golden written: " << path;
  }
  std::filesystem::create_directories("gfx-output");
  write_png(actual, "gfx-output/" + name + ".actual.png");
  if (!golden) return ::testing::AssertionFailure() << error << " (actual in gfx-output/" << name << ".actual.png)";
  if (differing == 0)
    return ::testing::AssertionFailure() << name << ": golden is " << golden->width() << "x" << golden->height()
                                         << ", actual " << actual.width() << "x" << actual.height();
  write_png(diff, "gfx-output/" + name + ".diff.png");
  return ::testing::AssertionFailure() << name << ": " << differing
                                       << " pixels differ; see gfx-output/" << name << ".actual.png and .diff.png";
}

}  // namespace gfx::testing
