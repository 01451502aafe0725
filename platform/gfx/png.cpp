#include "platform/gfx/png.hpp"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

#include "platform/host_library.hpp"

#ifndef TALVEN_PNG_LIBRARY
#define TALVEN_PNG_LIBRARY "libpng16.so.16"
#endif

namespace gfx {

namespace {

// The PNG library, loaded at the first PNG read or written: screenshots and
// golden pictures need it, nothing else does.
struct Png {
  decltype(&::png_image_write_to_memory) write_to_memory = nullptr;
  decltype(&::png_image_begin_read_from_memory) begin_read_from_memory = nullptr;
  decltype(&::png_image_finish_read) finish_read = nullptr;
  decltype(&::png_image_free) free = nullptr;
  bool loaded = false;
  std::string reason;
};

// The functions, or null with the reason in *error.
const Png* png(std::string* error) {
  static const Png p = [] {
    Png q;
    const platform::HostSymbol symbols[] = {
        platform::host_symbol("png_image_write_to_memory", q.write_to_memory),
        platform::host_symbol("png_image_begin_read_from_memory", q.begin_read_from_memory),
        platform::host_symbol("png_image_finish_read", q.finish_read),
        platform::host_symbol("png_image_free", q.free)};
    q.loaded = platform::load_host_library(TALVEN_PNG_LIBRARY, symbols, &q.reason);
    return q;
  }();
  if (!p.loaded) {
    if (error) *error = "cannot load the PNG library: " + p.reason;
    return nullptr;
  }
  return &p;
}

}  // namespace

std::vector<uint8_t> encode_png(const Surface& s, std::string* error) {
  const Png* lib = png(error);
  if (lib == nullptr) return {};
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(s.width());
  image.height = uint32_t(s.height());
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(size_t(s.width()) * size_t(s.height()) * 3);
  for (int32_t y = 0; y < s.height(); ++y)
    for (int32_t x = 0; x < s.width(); ++x) {
      uint32_t c = s.color(x, y);
      uint8_t* p = &rgb[(size_t(y) * size_t(s.width()) + size_t(x)) * 3];
      p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
    }
  png_alloc_size_t size = 0;
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return std::vector<uint8_t>();
  };
  if (s.width() == 0 || s.height() == 0) return fail("cannot encode an empty surface");
  if (!lib->write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr)) return fail(image.message);
  std::vector<uint8_t> out(size);
  if (!lib->write_to_memory(&image, out.data(), &size, 0, rgb.data(), 0, nullptr)) return fail(image.message);
  out.resize(size);
  return out;
}

bool write_png(const Surface& s, const std::string& path, std::string* error) {
  std::string reason;
  std::vector<uint8_t> bytes = encode_png(s, &reason);
  auto fail = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  if (bytes.empty()) return fail(reason);
  std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return fail(std::strerror(errno));
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return fail(std::strerror(errno));
  }
  return true;
}

std::optional<Surface> decode_png(std::span<const uint8_t> bytes, std::string* error) {
  const Png* lib = png(error);
  if (lib == nullptr) return std::nullopt;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  auto fail = [&](const char* why) -> std::optional<Surface> {
    if (error) *error = why;
    lib->free(&image);
    return std::nullopt;
  };
  if (!lib->begin_read_from_memory(&image, bytes.data(), bytes.size())) return fail(image.message);
  if (image.width == 0 || image.height == 0 || image.width > uint32_t(Surface::kMaxSide) ||
      image.height > uint32_t(Surface::kMaxSide))
    return fail("image too large");
  if (uint64_t(image.width) * image.height > (uint64_t(1) << 26)) return fail("image too large");
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  png_color white{255, 255, 255};
  if (!lib->finish_read(&image, &white, rgb.data(), 0, nullptr)) return fail(image.message);
  Surface s(int32_t(image.width), int32_t(image.height));
  for (int32_t y = 0; y < s.height(); ++y)
    for (int32_t x = 0; x < s.width(); ++x) {
      const uint8_t* p = &rgb[(size_t(y) * image.width + size_t(x)) * 3];
      s.row32(y)[x] = gfx::rgb(p[0], p[1], p[2]);
    }
  lib->free(&image);
  return s;
}

std::optional<Surface> read_png(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot open";
    return std::nullopt;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto s = decode_png(bytes, error);
  if (!s && error) *error = path + ": " + *error;
  return s;
}

}  // namespace gfx
