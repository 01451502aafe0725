// The application resource file as the start-up reads it before the Lisp
// machine exists: where it is, the preferences that shape the frame and
// the machine's memory, and the layout of the frame on the screen.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/runtime.hpp"
#include "platform/gfx/surface.hpp"

namespace shell {

// Frame flags, byte 2 of PREF 257.
enum FrameFlags : uint8_t {
  kFlagMenuBar = 0x01,
  kFlagFramelessIfTooBig = 0x02,
  kFlagTopmost = 0x04,
  kFlagQuickTime = 0x10,
  kFlagPaintDesktop = 0x20,
  kFlagMaximized = 0x80,
};

struct AppPrefs {
  std::string title;  // PREF 258 (code page 1252); empty when absent
  bool has_title = false;
  uint8_t flags = 0;
  int language = 0;  // 0 English, 1 French, 2 Spanish
  int32_t width = 640, height = 480;
  core::MemoryPrefs memory = core::default_prefs();  // VPRF 256
  uint32_t preferred = core::kDefaultPreferred;     // SIZE -1
};

// The path of the application file that an executable at `exe` runs: the
// extension of its last path component replaced by "RI", or ".RI"
// appended when that component has none.
std::string application_path_for(const std::string& exe);

// Reads PREF 258 and 257, VPRF 256 and SIZE -1 from the bytes of a
// resource file (plain, AppleDouble or MacBinary). False when the bytes
// are not a resource file the reader accepts.
bool read_app_prefs(std::span<const uint8_t> file, AppPrefs& out);

// The fields of PREF 257 by its length: the flags from 3 bytes on, the
// language from 4, the size from 8 (640 by 480 below).
void apply_pref257(std::span<const uint8_t> pref, AppPrefs& out);
// The title of PREF 258: its length byte, clipped to the bytes there are.
std::string pref258_title(std::span<const uint8_t> pref);

// Where the frame goes on a screen: the client size, and how it is shown.
struct FrameLayout {
  gfx::Pt client;         // the client area, the size the application draws in
  bool framed = true;     // caption, border and system menu
  bool maximized = false;
  bool topmost = false;
  bool menu_bar = false;
};
FrameLayout layout_frame(const AppPrefs& prefs, gfx::Pt screen);

// The frame of a splash picture (bytes 2-9: top, left, bottom, right), or
// nothing when the picture is too short to hold one or the frame is
// inverted.
std::optional<gfx::Rect> splash_frame(std::span<const uint8_t> pict);

// The duration in a `wait` resource; nothing for one shorter than 2 bytes.
std::optional<uint32_t> wait_duration(std::span<const uint8_t> wait);

}  // namespace shell
