// Host libraries loaded on first use: all or nothing, with a reason.
#include "platform/host_library.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/gfx/png.hpp"
#include "platform/gfx/region.hpp"

namespace {

using platform::HostSymbol;
using platform::host_symbol;
using platform::load_host_library;

using Unary = double (*)(double);

TEST(HostLibrary, FindsEveryNamedFunction) {
  Unary cosine = nullptr, square_root = nullptr;
  const HostSymbol symbols[] = {host_symbol("cos", cosine), host_symbol("sqrt", square_root)};
  std::string reason;
  ASSERT_TRUE(load_host_library("libm.so.6", symbols, &reason)) << reason;
  ASSERT_NE(cosine, nullptr);
  ASSERT_NE(square_root, nullptr);
  EXPECT_EQ(square_root(16.0), 4.0);
  EXPECT_EQ(cosine(0.0), 1.0);
}

TEST(HostLibrary, AMissingLibraryOrNameFillsNothingAndSaysWhy) {
  Unary cosine = nullptr, missing = nullptr;
  std::string reason;
  const HostSymbol one[] = {host_symbol("cos", cosine)};
  EXPECT_FALSE(load_host_library("libtalven-no-such-library.so.9", one, &reason));
  EXPECT_NE(reason.find("libtalven-no-such-library.so.9"), std::string::npos) << reason;
  EXPECT_EQ(cosine, nullptr);

  // The first name exists, the second does not: neither is filled.
  const HostSymbol two[] = {host_symbol("cos", cosine), host_symbol("talven_no_such_function", missing)};
  EXPECT_FALSE(load_host_library("libm.so.6", two, &reason));
  EXPECT_EQ(reason, "libm.so.6 has no talven_no_such_function");
  EXPECT_EQ(cosine, nullptr);
  EXPECT_EQ(missing, nullptr);
  EXPECT_FALSE(load_host_library("libm.so.6", two, nullptr));  // no reason asked for
}

// The libraries the executable no longer names load when first used, and
// what they do is unchanged by it.
TEST(HostLibrary, RegionsAndPngsLoadOnFirstUse) {
  std::string reason;
  ASSERT_TRUE(gfx::load_regions(&reason)) << reason;
  gfx::Region a(gfx::Rect{0, 0, 10, 10}), b(gfx::Rect{5, 5, 20, 20});
  EXPECT_EQ(gfx::unite(a, b).bounds(), (gfx::Rect{0, 0, 20, 20}));
  EXPECT_TRUE(gfx::subtract(a, a).empty());

  gfx::Surface s(3, 2);
  s.fill(0x123456);
  std::vector<uint8_t> bytes = gfx::encode_png(s, &reason);
  ASSERT_FALSE(bytes.empty()) << reason;
  auto back = gfx::decode_png(bytes, &reason);
  ASSERT_TRUE(back) << reason;
  EXPECT_EQ(back->color(2, 1), 0x123456u);
  EXPECT_TRUE(gfx::encode_png(gfx::Surface(0, 0), &reason).empty());
  EXPECT_EQ(reason, "cannot encode an empty surface");
}

}  // namespace
