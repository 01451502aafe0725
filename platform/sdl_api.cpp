#include <SDL.h>

#include "platform/host_library.hpp"
#include "platform/sdl_api.hpp"

#ifndef TALVEN_SDL_LIBRARY
#define TALVEN_SDL_LIBRARY "libSDL2-2.0.so.0"
#endif

namespace platform {

#define TALVEN_SDL_POINTER(name) decltype(&::name) name = nullptr;
TALVEN_SDL_FUNCTIONS(TALVEN_SDL_POINTER)
#undef TALVEN_SDL_POINTER

bool load_sdl(std::string* error) {
  // 0 not tried, 1 loaded, -1 failed for good (the reason kept).
  static int state = 0;
  static std::string reason;
  if (state == 0) {
#define TALVEN_SDL_SYMBOL(name) host_symbol(#name, name),
    const HostSymbol symbols[] = {TALVEN_SDL_FUNCTIONS(TALVEN_SDL_SYMBOL)};
#undef TALVEN_SDL_SYMBOL
    state = load_host_library(TALVEN_SDL_LIBRARY, symbols, &reason) ? 1 : -1;
  }
  if (state < 0 && error) *error = reason;
  return state > 0;
}

}  // namespace platform
