// libFuzzer target: arbitrary bytes as a packed device-independent bitmap,
// drawn stretched and clipped when it parses. Never a crash or a read
// outside the input.
#include <cstdint>

#include "platform/gfx/dc.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto dib = gfx::parse_dib({data, size});
  if (!dib) return 0;
  if (dib->width * int64_t(dib->height) > 1 << 20) return 0;
  gfx::Surface s(64, 48);
  gfx::DC dc(s);
  dc.draw_dib({-3, -2, 70, 30}, *dib, {0, 0, dib->width, dib->height});
  dc.draw_dib({5, 5, 9, 9}, *dib, {1, 1, dib->width - 1, dib->height + 3}, gfx::kSrcInvert,
              gfx::StretchMode::HalfTone);
  return 0;
}
