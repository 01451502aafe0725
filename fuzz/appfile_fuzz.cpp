// Fuzz target for the start-up's reading of an application file: the
// preferences from any bytes taken as a resource file, and the short
// resources (PREF 257 and 258, a splash picture's frame, a wait) read
// from the input itself. Every input must end in an answer; a crash, a
// sanitizer report or a read outside the input is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "shell/appfile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  shell::AppPrefs prefs;
  if (shell::read_app_prefs(bytes, prefs)) {
    shell::FrameLayout f = shell::layout_frame(prefs, {1024, 768});
    if (f.client.x < 1 || f.client.y < 1) std::abort();
  }
  shell::AppPrefs direct;
  shell::apply_pref257(bytes, direct);
  if (size < 8 && (direct.width != 640 || direct.height != 480)) std::abort();
  if (shell::pref258_title(bytes).size() > (size ? size - 1 : 0)) std::abort();
  if (std::optional<gfx::Rect> r = shell::splash_frame(bytes); r && (r->right < r->left || r->bottom < r->top))
    std::abort();
  if (shell::wait_duration(bytes).has_value() != (size >= 2)) std::abort();
  return 0;
}
