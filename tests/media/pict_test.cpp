// The picture renderer against the corpus references and hand-made
// pictures of each opcode family.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "data/handles.hpp"
#include "media/pict.hpp"
#include "platform/gfx/png.hpp"
#include "tests/core/fixture.hpp"
#include "tests/platform/png_golden.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// The corpus sits beside the project root (or beside the folder of
// worktrees that holds it).
std::string corpus(const std::string& name) {
  for (const char* up : {"/../shared/corpus/pict/", "/../../shared/corpus/pict/"}) {
    std::string dir = std::string(TALVEN_SOURCE_DIR) + up;
    if (std::filesystem::exists(dir)) return dir + name;
  }
  return std::string(TALVEN_SOURCE_DIR) + "/../shared/corpus/pict/" + name;
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

gfx::Surface render(std::span<const uint8_t> file, gfx::Format format = gfx::Format::XRGB8888) {
  std::span<const uint8_t> pic = media::strip_file_header(file);
  auto frame = media::picture_frame(pic);
  if (!frame) return {};
  gfx::Surface s(frame->width(), frame->height(), format);
  if (format == gfx::Format::Index8) s.palette() = media::standard_palette();
  s.fill(s.map_color(0xFFFFFF));
  gfx::DC dc(s);
  media::draw_picture(dc, pic, {0, 0, frame->width(), frame->height()});
  return s;
}

// Counts the pixels that differ from the reference PNG.
long differing(const gfx::Surface& s, const std::string& reference) {
  auto want = gfx::read_png(reference);
  if (!want || want->width() != s.width() || want->height() != s.height()) return -1;
  long n = 0;
  for (int32_t y = 0; y < s.height(); ++y)
    for (int32_t x = 0; x < s.width(); ++x) n += s.color(x, y) != want->color(x, y);
  return n;
}

TEST(PictCorpus, RasterPicturesEqualTheirReferences) {
  if (!std::filesystem::exists(corpus("README.md")) && !std::filesystem::exists(corpus("VENUS.PCT")))
    GTEST_SKIP() << "skipped: no corpus at " << corpus("");
  struct Case {
    const char* file;
    const char* reference;
  } cases[] = {{"VENUS.PCT", "VENUS.png"}, {"FC10.PCT", "FC10.alt.png"}, {"mire16.pict", "mire16.alt.png"}};
  for (const Case& c : cases) {
    Bytes file = read_file(corpus(c.file));
    ASSERT_FALSE(file.empty()) << c.file;
    EXPECT_EQ(differing(render(file), corpus(c.reference)), 0) << c.file;
  }
}

// The vector sample draws its first rectangle and stops at the reserved
// opcode after it (checked by eye against the scan of its opcodes).
TEST(PictCorpus, VectorSampleStopsWhereTheSubsetEnds) {
  Bytes file = read_file(corpus("8.pict"));
  if (file.empty()) GTEST_SKIP() << "skipped: no corpus picture at " << corpus("8.pict");
  EXPECT_TRUE(gfx::testing::matches_golden(render(file), "pict_8"));
}

// Every corpus picture cut short at every 97th byte and with each byte of
// its headers flipped draws what it can and never reads outside its block.
TEST(PictCorpus, DamagedPicturesDrawWithoutCrashing) {
  if (!std::filesystem::exists(corpus("VENUS.PCT"))) GTEST_SKIP() << "skipped: no corpus at " << corpus("");
  for (const char* name : {"VENUS.PCT", "mire16.pict", "8.pict", "FC10.PCT"}) {
    Bytes file = read_file(corpus(name));
    std::span<const uint8_t> pic = media::strip_file_header(file);
    // The big one-bit picture costs a full-size conversion per drawing:
    // it is cut and flipped more sparsely.
    bool big = pic.size() > 40000;
    size_t step = big ? 9973 : 97;
    for (size_t cut = 0; cut < pic.size(); cut += step) {
      Bytes part(pic.begin(), pic.begin() + long(cut));
      gfx::Surface s(64, 64);
      gfx::DC dc(s);
      media::draw_picture(dc, part, {0, 0, 64, 64});
    }
    for (size_t at = 0; at < std::min<size_t>(pic.size(), 64); at += big ? 7 : 1) {
      Bytes bad(pic.begin(), pic.end());
      bad[at] ^= 0xFF;
      gfx::Surface s(80, 60);
      gfx::DC dc(s);
      media::draw_picture(dc, bad, {0, 0, 80, 60});
    }
  }
}

// Writes pictures opcode by opcode, big-endian; version 2 unless told.
struct PictWriter {
  Bytes b;
  int version;
  // The frame as {top, left, bottom, right}.
  explicit PictWriter(gfx::Rect frame, int v = 2) : version(v) {
    w16(0);
    rect(frame);
    if (v == 1) {
      u8(0x11), u8(0x01);
    } else {
      w16(0x0011), w16(0x02FF);
    }
  }
  void u8(unsigned x) { b.push_back(uint8_t(x)); }
  void w16(unsigned x) { u8(x >> 8), u8(x); }
  void w32(uint32_t x) { w16(x >> 16), w16(x & 0xFFFF); }
  // Rectangles are given in the picture's own order: {top, left, bottom, right}.
  void rect(gfx::Rect r) { w16(unsigned(r.left)), w16(unsigned(r.top)), w16(unsigned(r.right)), w16(unsigned(r.bottom)); }
  void op(unsigned o) {
    if (version == 1) u8(o);
    else w16(o);
  }
  void rgb(unsigned o, uint32_t c) { op(o), w16((c >> 16 & 255) * 257), w16((c >> 8 & 255) * 257), w16((c & 255) * 257); }
  void end() { op(0xFF); }
  // A pixel map header up to the colour table (excluded).
  void pixmap(unsigned o, unsigned row_bytes, gfx::Rect bounds, unsigned pack_type, unsigned pixel_size) {
    op(o);
    if (o == 154) w32(0xFF);
    w16(row_bytes | 0x8000);
    rect(bounds);
    w16(0), w16(pack_type), w32(0), w32(0x480000), w32(0x480000);
    w16(pixel_size <= 8 ? 0 : 16), w16(pixel_size), w16(pixel_size <= 8 ? 1 : 3), w16(pixel_size <= 8 ? pixel_size : 8);
    w32(0), w32(0), w32(0);
  }
  void table(std::initializer_list<uint32_t> colours) {
    w32(0), w16(0), w16(unsigned(colours.size() - 1));
    unsigned i = 0;
    for (uint32_t c : colours) w16(i++), w16((c >> 16 & 255) * 257), w16((c >> 8 & 255) * 257), w16((c & 255) * 257);
  }
  void placement(gfx::Rect dst, unsigned mode) { rect(dst), rect(dst), w16(mode); }
  void align() {
    if (version == 2 && (b.size() & 1)) u8(0);
  }
};

gfx::Surface draw(const Bytes& pic, gfx::Rect dest, int32_t w, int32_t h, uint32_t paper = 0xFFFFFF,
                  media::PictStatus* status = nullptr) {
  gfx::Surface s(w, h);
  s.fill(paper);
  gfx::DC dc(s);
  media::PictStatus st = media::draw_picture(dc, pic, dest, {paper});
  if (status) *status = st;
  return s;
}

TEST(Pict, ShapesPenModesAndTheEndAtText) {
  PictWriter p({0, 0, 40, 60}, 1);
  p.op(0x30), p.rect({2, 2, 20, 30});            // frame rect
  p.rgb(0x1A, 0xFF0000);                          // red foreground
  p.op(0x51), p.rect({22, 4, 38, 20});            // paint oval
  p.rgb(0x1A, 0x000000);
  p.op(0x08), p.w16(9);                           // pen mode or: a black pen stays black on white
  p.op(0x20), p.w16(36), p.w16(0), p.w16(36), p.w16(59);  // line across the bottom
  p.op(0x28), p.w16(10), p.w16(10), p.u8(1), p.u8('x');   // text ends the drawing
  p.op(0x31), p.rect({0, 0, 40, 60});             // never drawn
  p.end();
  media::PictStatus st;
  gfx::Surface s = draw(p.b, {0, 0, 60, 40}, 60, 40, 0xFFFFFF, &st);
  EXPECT_EQ(st, media::PictStatus::Drawn);
  EXPECT_EQ(s.color(2, 10), 0u);             // the frame's left side, unshifted
  EXPECT_EQ(s.color(10, 10), 0xFFFFFFu);     // its inside untouched
  EXPECT_EQ(s.color(12, 30), 0xFF0000u);     // the oval's centre
  EXPECT_EQ(s.color(30, 36), 0u);            // the or-mode line
  EXPECT_EQ(s.color(50, 5), 0xFFFFFFu);      // the rectangle after the text is not painted
  EXPECT_TRUE(gfx::testing::matches_golden(s, "pict_shapes"));
}

TEST(Pict, PackedRowsUseOneOrTwoByteCounts) {
  for (unsigned row_bytes : {200u, 300u}) {
    PictWriter p({0, 0, 2, int32_t(row_bytes)});
    p.pixmap(0x98, row_bytes, {0, 0, 2, int32_t(row_bytes)}, 0, 8);
    p.table({0xFFFFFF, 0x00FF00, 0x0000FF});
    p.placement({0, 0, 2, int32_t(row_bytes)}, 0);
    for (int row = 0; row < 2; ++row) {
      // runs of 100 pixels of index row + 1, then literal index 0s
      Bytes data;
      for (unsigned left = row_bytes; left > 0;) {
        unsigned n = std::min(left, 100u);
        data.push_back(uint8_t(257 - n)), data.push_back(uint8_t(row + 1));
        left -= n;
      }
      if (row_bytes > 250) p.w16(unsigned(data.size()));
      else p.u8(unsigned(data.size()));
      p.b.insert(p.b.end(), data.begin(), data.end());
    }
    p.align();
    p.end();
    gfx::Surface s = draw(p.b, {0, 0, int32_t(row_bytes), 2}, int32_t(row_bytes), 2);
    EXPECT_EQ(s.color(0, 0), 0x00FF00u) << row_bytes;
    EXPECT_EQ(s.color(int32_t(row_bytes) - 1, 1), 0x0000FFu) << row_bytes;
  }
}

TEST(Pict, TwoBitMapsKeepTheirIndexesAndSixteenBitColoursWiden) {
  PictWriter p({0, 0, 2, 4});
  p.pixmap(0x90, 2, {0, 0, 1, 4}, 0, 2);  // rowBytes below 8: rows unpacked
  p.table({0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF});
  p.placement({0, 0, 1, 4}, 0);
  p.u8(0x1B), p.u8(0);  // indexes 0 1 2 3
  p.pixmap(0x9A, 6, {1, 0, 2, 3}, 1, 16);
  p.placement({1, 0, 2, 3}, 0);
  p.w16(31 << 10), p.w16(1 << 10), p.w16(0x7FFF);
  p.end();
  gfx::Surface s = draw(p.b, {0, 0, 4, 2}, 4, 2);
  EXPECT_EQ(s.color(0, 0), 0xFFFFFFu);
  EXPECT_EQ(s.color(1, 0), 0xFF0000u);
  EXPECT_EQ(s.color(2, 0), 0x00FF00u);
  EXPECT_EQ(s.color(3, 0), 0x0000FFu);
  EXPECT_EQ(s.color(0, 1), 0xFF0000u);
  EXPECT_EQ(s.color(1, 1), 0x080000u);
  EXPECT_EQ(s.color(2, 1), 0xFFFFFFu);
}

TEST(Pict, TransparentPixmapsShowTheSurfaceWhereTheyHaveTheBackground) {
  PictWriter p({0, 0, 1, 3});
  p.pixmap(0x90, 3, {0, 0, 1, 3}, 0, 8);
  p.table({0xFFFFFF, 0x0000FF, 0xFF0000});
  p.placement({0, 0, 1, 3}, 36);
  p.u8(2), p.u8(1), p.u8(2), p.u8(0);
  p.end();
  // The surface's background is blue: the blue pixel lets the green show.
  gfx::Surface s(3, 1);
  s.fill(0x00FF00);
  gfx::DC dc(s);
  media::draw_picture(dc, p.b, {0, 0, 3, 1}, {0x0000FF});
  EXPECT_EQ(s.color(0, 0), 0xFF0000u);  // opaque: whitened, then the red and-ed in
  EXPECT_EQ(s.color(1, 0), 0x00FF00u);
}

// A one-bit bitmap in or mode paints its set bits black and leaves the
// surface elsewhere; bic clears them to white; copy mode copies both.
TEST(Pict, OneBitBitmapModes) {
  for (unsigned mode : {0u, 1u, 3u}) {
    PictWriter p({0, 0, 1, 2}, 1);
    p.op(0x90), p.w16(2), p.rect({0, 0, 1, 2}), p.placement({0, 0, 1, 2}, mode);
    p.u8(0x80), p.u8(0);
    p.end();
    gfx::Surface s = draw(p.b, {0, 0, 2, 1}, 2, 1, 0x336699);
    uint32_t set = mode == 3 ? 0xFFFFFF : 0, clear = mode == 0 ? 0xFFFFFF : 0x336699;
    EXPECT_EQ(s.color(0, 0), set) << mode;
    EXPECT_EQ(s.color(1, 0), clear) << mode;
  }
}

TEST(Pict, ExtendedHeaderScalesFromTheNativeFrame) {
  // Frame 10x10 at 36 dpi; the native frame is 20x20 and the bitmap fills it.
  PictWriter p({0, 0, 10, 10});
  p.op(0x0C00), p.w16(0xFFFE), p.w16(0), p.w32(0x480000), p.w32(0x480000), p.rect({0, 0, 20, 20}), p.w32(0);
  p.pixmap(0x98, 20, {0, 0, 20, 20}, 0, 8);
  p.table({0xFFFFFF, 0x000000});
  p.placement({0, 0, 20, 20}, 0);
  for (int row = 0; row < 20; ++row) p.u8(2), p.u8(256 - 19), p.u8(row < 10 ? 1 : 0);
  p.end();
  gfx::Surface s = draw(p.b, {0, 0, 10, 10}, 10, 10);
  EXPECT_EQ(s.color(9, 4), 0u);           // the black top half, halved
  EXPECT_EQ(s.color(9, 5), 0xFFFFFFu);
  gfx::Surface big = draw(p.b, {5, 5, 45, 25}, 50, 30);
  EXPECT_TRUE(gfx::testing::matches_golden(big, "pict_scaled"));
}

TEST(Pict, PaletteSnapping) {
  EXPECT_EQ(media::snap_to_palette_grid(gfx::rgb(117, 0, 0)), gfx::rgb(119, 0, 0));
  EXPECT_EQ(media::snap_to_palette_grid(gfx::rgb(102, 0, 0)), gfx::rgb(128, 0, 0));
  EXPECT_EQ(media::snap_to_palette_grid(gfx::rgb(102, 102, 102)), gfx::rgb(102, 102, 102));
  EXPECT_EQ(media::snap_to_palette_grid(gfx::rgb(40, 200, 90)), gfx::rgb(51, 204, 102));
  auto palette = media::standard_palette();
  std::sort(palette.begin(), palette.end());
  EXPECT_EQ(std::unique(palette.begin(), palette.end()), palette.end());  // 256 distinct colours
  // On an 8-bit surface every snapped colour is exactly a palette entry.
  gfx::Surface s(1, 1, gfx::Format::Index8);
  s.palette() = media::standard_palette();
  for (uint32_t c : {gfx::rgb(40, 200, 90), gfx::rgb(117, 0, 0), gfx::rgb(250, 250, 200), gfx::rgb(100, 100, 100)}) {
    gfx::Pixel px = media::picture_color(s, uint16_t((c >> 16) << 8), uint16_t((c >> 8 & 255) << 8), uint16_t((c & 255) << 8));
    EXPECT_EQ(s.palette()[px], media::snap_to_palette_grid(c));
  }
}

TEST(Pict, LyingCountsStopDrawingAndKeepWhatWasDrawn) {
  PictWriter p({0, 0, 4, 8});
  p.op(0x31), p.rect({0, 0, 4, 4});  // painted black first
  p.pixmap(0x98, 8, {0, 0, 4, 8}, 0, 8);
  p.table({0xFFFFFF, 0xFF0000});
  p.placement({0, 0, 4, 8}, 0);
  p.u8(2), p.u8(256 - 7), p.u8(1);  // one good row of red
  p.u8(200), p.u8(0);               // a count past the end
  media::PictStatus st;
  gfx::Surface s = draw(p.b, {0, 0, 8, 4}, 8, 4, 0xFFFFFF, &st);
  EXPECT_EQ(st, media::PictStatus::Drawn);
  EXPECT_EQ(s.color(7, 0), 0xFF0000u);  // the decoded row is drawn
  EXPECT_EQ(s.color(1, 2), 0u);         // the rectangle stays
  // An undefined pack type draws nothing of the bitmap and fails it.
  PictWriter q({0, 0, 4, 8});
  q.pixmap(0x98, 8, {0, 0, 4, 8}, 7, 8);
  q.table({0xFFFFFF});
  q.placement({0, 0, 4, 8}, 0);
  q.end();
  draw(q.b, {0, 0, 8, 4}, 8, 4, 0xFFFFFF, &st);
  EXPECT_EQ(st, media::PictStatus::BitmapFailed);
  // Not a picture at all.
  Bytes junk(64, 0x42);
  draw(junk, {0, 0, 8, 4}, 8, 4, 0xFFFFFF, &st);
  EXPECT_EQ(st, media::PictStatus::NotAPicture);
}

class PictHandleTest : public core::testing::MachineTest {};

TEST_F(PictHandleTest, HandlesDrawAndAFailedBitmapSignalsError9) {
  PictWriter p({0, 0, 2, 2});
  p.op(0x31), p.rect({0, 0, 2, 2});
  p.end();
  auto handle_of = [](const Bytes& b) {
    uint32_t h = data::new_handle(uint32_t(b.size()));
    std::memcpy(core::at_addr(data::handle_memory(h)), b.data(), b.size());
    return data::box_handle(h);
  };
  gfx::Surface s(2, 2);
  s.fill(0xFFFFFF);
  gfx::DC dc(s);
  media::draw_picture_handle(dc, handle_of(p.b), {0, 0, 2, 2});
  EXPECT_EQ(s.color(1, 1), 0u);
  PictWriter q({0, 0, 2, 2});
  q.pixmap(0x98, 8, {0, 0, 2, 2}, 9, 8);
  core::Value bad = handle_of(q.b);
  EXPECT_EQ(error_of([&] { media::draw_picture_handle(dc, bad, {0, 0, 2, 2}); }), 9);
  EXPECT_EQ(error_of([&] { media::draw_picture_handle(dc, core::make_fixnum(3), {0, 0, 2, 2}); }), 2);
}

}  // namespace
