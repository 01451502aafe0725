// Reading the application file before the machine exists.
#include "shell/appfile.hpp"

#include <algorithm>

#include "core/bytes.hpp"
#include "platform/window.hpp"
#include "storage/fork.hpp"

namespace shell {

std::string application_path_for(const std::string& exe) {
  size_t slash = exe.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = exe.rfind('.');
  // A dot that begins the name ("./.hidden") is not an extension.
  if (dot == std::string::npos || dot <= start) return exe + ".RI";
  return exe.substr(0, dot + 1) + "RI";
}

void apply_pref257(std::span<const uint8_t> pref, AppPrefs& out) {
  core::ByteReader r(pref);
  r.skip(2);
  out.flags = r.has(1) ? r.u8() : 0;
  out.language = r.has(1) ? r.u8() : 0;
  out.width = 640;
  out.height = 480;
  if (r.has(4)) {
    out.width = r.be16();
    out.height = r.be16();
  }
}

std::string pref258_title(std::span<const uint8_t> pref) {
  core::ByteReader r(pref);
  size_t length = r.u8();
  size_t n = std::min(length, r.remaining());
  std::span<const uint8_t> text = r.bytes(n);
  return std::string(text.begin(), text.end());
}

bool read_app_prefs(std::span<const uint8_t> file, AppPrefs& out) {
  std::span<const uint8_t> fork = file;
  storage::ForkPlace place;
  if (storage::find_wrapped_fork(file, file.size(), place)) {
    if (place.offset > file.size() || place.length > file.size() - place.offset) return false;
    fork = file.subspan(size_t(place.offset), size_t(place.length));
  }
  storage::ForkMap map;
  if (storage::parse_fork(fork, storage::kResourceFork, map) != 0) return false;
  auto data = [&](const char* type, int32_t id, std::span<const uint8_t>& bytes) {
    const storage::ForkRef* ref = storage::find_ref(map, storage::fourcc(type), id);
    return ref != nullptr && storage::fork_data(fork, map, *ref, bytes) == 0;
  };
  std::span<const uint8_t> bytes;
  if (data("PREF", 258, bytes)) {
    out.title = pref258_title(bytes);
    out.has_title = true;
  }
  if (data("PREF", 257, bytes)) apply_pref257(bytes, out);
  if (data("VPRF", 256, bytes) && bytes.size() >= 36) {
    core::ByteReader r(bytes);
    uint32_t w[9];
    for (uint32_t& word : w) word = r.be32();
    out.memory = core::MemoryPrefs{w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8]};
  }
  if (data("SIZE", -1, bytes) && bytes.size() >= 6) {
    core::ByteReader r(bytes);
    r.skip(2);
    out.preferred = r.be32();
  }
  return true;
}

FrameLayout layout_frame(const AppPrefs& prefs, gfx::Pt screen) {
  using WS = platform::WindowSystem;
  const int32_t chrome_w = 2 * WS::kBorderWidth, chrome_h = 2 * WS::kBorderWidth + WS::kCaptionHeight;
  FrameLayout f;
  gfx::Pt want{std::max(prefs.width, 1), std::max(prefs.height, 1)};
  bool fits = want.x + chrome_w <= screen.x && want.y + chrome_h <= screen.y;
  f.framed = fits || !(prefs.flags & kFlagFramelessIfTooBig);
  f.maximized = !fits || (prefs.flags & kFlagMaximized);
  f.topmost = prefs.flags & kFlagTopmost;
  f.menu_bar = prefs.flags & kFlagMenuBar;
  if (f.maximized)
    f.client = f.framed ? gfx::Pt{screen.x - chrome_w, screen.y - chrome_h} : screen;
  else
    f.client = want;
  f.client.x = std::max(f.client.x, 1);
  f.client.y = std::max(f.client.y, 1);
  return f;
}

std::optional<gfx::Rect> splash_frame(std::span<const uint8_t> pict) {
  core::ByteReader r(pict);
  r.skip(2);
  if (!r.has(8)) return std::nullopt;
  int32_t top = r.be16s(), left = r.be16s(), bottom = r.be16s(), right = r.be16s();
  if (bottom < top || right < left) return std::nullopt;
  return gfx::Rect{left, top, right, bottom};
}

std::optional<uint32_t> wait_duration(std::span<const uint8_t> wait) {
  core::ByteReader r(wait);
  if (!r.has(2)) return std::nullopt;
  return r.be16();
}

}  // namespace shell
