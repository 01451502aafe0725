#include <SDL.h>
#include <dlfcn.h>

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
    // The library stays loaded to the end of the process: its threads and
    // handlers may outlive a back-end.
    void* lib = dlopen(TALVEN_SDL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
      const char* why = dlerror();
      reason = why ? why : "cannot load " TALVEN_SDL_LIBRARY;
      state = -1;
    } else {
      state = 1;
#define TALVEN_SDL_FIND(name)                                                          \
  if (state == 1) {                                                                    \
    name = reinterpret_cast<decltype(name)>(dlsym(lib, #name));                        \
    if (name == nullptr) {                                                             \
      reason = TALVEN_SDL_LIBRARY " has no " #name;                                    \
      state = -1;                                                                      \
    }                                                                                  \
  }
      TALVEN_SDL_FUNCTIONS(TALVEN_SDL_FIND)
#undef TALVEN_SDL_FIND
    }
  }
  if (state < 0 && error) *error = reason;
  return state > 0;
}

}  // namespace platform
