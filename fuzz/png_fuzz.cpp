// libFuzzer target: arbitrary bytes as a PNG file. Every input must end in a
// surface or a refusal, never a crash or a read outside the input; a
// decoded surface must encode and decode again to the same pixels.
#include <cstdint>
#include <cstdlib>

#include "platform/gfx/png.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto s = gfx::decode_png({data, size});
  if (!s) return 0;
  if (s->width() * int64_t(s->height()) > 1 << 20) return 0;
  auto again = gfx::decode_png(gfx::encode_png(*s));
  if (!again || !(*again == *s)) std::abort();
  return 0;
}
