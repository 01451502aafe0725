// The host library of the desktop back-end, loaded when it is first needed.
//
// The runtime does not link SDL2: a headless run, the read-eval-print loop
// and every command-line tool start without it and the dozens of libraries
// it brings (sound servers, X, Wayland). The desktop back-end loads it on
// its first use and calls it through the pointers below, which carry the
// host's own names inside namespace platform and so hide its declarations
// there: the back-end's code reads as plain calls to the host.
//
// Included only by the back-end's source, after <SDL.h>.
#pragma once
#include <string>

// Every host function the back-end calls (SDL_BlitSurface is a macro for
// SDL_UpperBlit).
#define TALVEN_SDL_FUNCTIONS(X)                                                                  \
  X(SDL_CloseAudioDevice) X(SDL_CreateCursor) X(SDL_CreateRGBSurfaceWithFormatFrom)              \
  X(SDL_CreateSystemCursor) X(SDL_CreateWindow) X(SDL_Delay) X(SDL_DestroyWindow)                \
  X(SDL_FreeCursor) X(SDL_FreeSurface) X(SDL_GetClipboardText) X(SDL_GetCurrentVideoDriver)      \
  X(SDL_GetDesktopDisplayMode) X(SDL_GetDisplayUsableBounds) X(SDL_GetError)                     \
  X(SDL_GetQueuedAudioSize) X(SDL_GetTicks) X(SDL_GetWindowDisplayIndex) X(SDL_GetWindowID)      \
  X(SDL_GetWindowSurface) X(SDL_InitSubSystem) X(SDL_OpenAudioDevice) X(SDL_PauseAudioDevice)    \
  X(SDL_PollEvent) X(SDL_QueueAudio) X(SDL_Quit) X(SDL_QuitSubSystem) X(SDL_SetClipboardText)    \
  X(SDL_SetCursor) X(SDL_SetHint) X(SDL_SetSurfaceBlendMode) X(SDL_SetWindowSize)                \
  X(SDL_SetWindowTitle) X(SDL_ShowCursor) X(SDL_StartTextInput) X(SDL_StopTextInput)             \
  X(SDL_UnionRect) X(SDL_UpdateWindowSurfaceRects) X(SDL_UpperBlit) X(SDL_WaitEventTimeout)      \
  X(SDL_WasInit) X(SDL_free)

namespace platform {

#define TALVEN_SDL_POINTER(name) extern decltype(&::name) name;
TALVEN_SDL_FUNCTIONS(TALVEN_SDL_POINTER)
#undef TALVEN_SDL_POINTER

// Loads the host library and finds every function above, once: true when
// they are all there; otherwise false with the reason in *error, and the
// back-end is not used.
bool load_sdl(std::string* error);

}  // namespace platform
