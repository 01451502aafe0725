// The picture renderer against the corpus references and hand-made
// pictures of each opcode family.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/pict.hpp"
#include "platform/gfx/png.hpp"

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
    GTEST_SKIP() << "no corpus";
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

// Every corpus picture cut short at every 97th byte and with each header
// byte flipped draws what it can and never reads outside its block.
TEST(PictCorpus, DamagedPicturesDrawWithoutCrashing) {
  if (!std::filesystem::exists(corpus("VENUS.PCT"))) GTEST_SKIP() << "no corpus";
  for (const char* name : {"VENUS.PCT", "mire16.pict", "8.pict", "FC10.PCT"}) {
    Bytes file = read_file(corpus(name));
    std::span<const uint8_t> pic = media::strip_file_header(file);
    size_t step = pic.size() > 20000 ? 997 : 97;
    for (size_t cut = 0; cut < pic.size(); cut += step) {
      Bytes part(pic.begin(), pic.begin() + long(cut));
      gfx::Surface s(64, 64);
      gfx::DC dc(s);
      media::draw_picture(dc, part, {0, 0, 64, 64});
    }
    for (size_t at = 0; at < std::min<size_t>(pic.size(), 64); at += pic.size() > 20000 ? 5 : 1) {
      Bytes bad(pic.begin(), pic.end());
      bad[at] ^= 0xFF;
      gfx::Surface s(80, 60);
      gfx::DC dc(s);
      media::draw_picture(dc, bad, {0, 0, 80, 60});
    }
  }
}

}  // namespace
