// libFuzzer target: arbitrary bytes as a picture (a file with its 512-byte
// header, a picture resource or a device-independent bitmap), drawn at its
// frame and scaled into small surfaces, one of them 8-bit with the
// picture palette. Never a crash or a read outside the input.
#include <cstdint>

#include "media/pict.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> pic = media::strip_file_header({data, size});
  gfx::Surface s(64, 48);
  gfx::DC dc(s);
  media::draw_picture(dc, pic, {0, 0, 64, 48});
  if (auto frame = media::picture_frame(pic)) media::draw_picture(dc, pic, *frame);
  gfx::Surface small(17, 9, gfx::Format::Index8);
  small.palette() = media::standard_palette();
  gfx::DC dc8(small);
  media::draw_picture(dc8, pic, {-3, 2, 14, 11}, {0x00FF00});
  return 0;
}
