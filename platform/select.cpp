#include <cstdlib>

#include "platform/backend.hpp"
#if TALVEN_HAVE_SDL
#include "platform/sdl_backend.hpp"
#endif

namespace platform {

bool display_available() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

bool desktop_built() {
#if TALVEN_HAVE_SDL
  return true;
#else
  return false;
#endif
}

std::unique_ptr<Backend> make_backend(const BackendOptions& options, std::string* note) {
  if (!options.headless && display_available()) {
#if TALVEN_HAVE_SDL
    std::string why;
    if (auto sdl = SdlBackend::create(&why)) return sdl;
    if (note) *note = "no desktop window (" + why + "); running headless";
#else
    if (note) *note = "built without a desktop back-end; running headless";
#endif
  }
  if (options.make_headless)
    if (auto b = options.make_headless(options.screen, options.start)) return b;
  return std::make_unique<HeadlessBackend>(options.screen, options.start);
}

}  // namespace platform
