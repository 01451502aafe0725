// The desktop back-end: one real window on the user's desktop (through
// SDL2) that shows the frame, and the host's input, clock, cursor, sound
// and clipboard.
//
// The frame is kept here as XRGB pixels (an 8-bit frame through its
// palette) and copied to the window in the rectangles that changed; the
// window is repainted from that copy whenever the desktop uncovers it, with
// no help from the window system. Sound is queued to the host and drained
// by its own thread, which never calls anything of ours: the loop asks how
// much is still to play. Text crossing to the host (the title, the
// clipboard) is converted from code page 1252 to UTF-8 and back here.
//
// Built only when SDL2 is installed (TALVEN_HAVE_SDL); make_backend picks it
// when a display is there.
#pragma once
#include <array>
#include <memory>
#include <string>

#include "platform/backend.hpp"

struct SDL_Window;
struct SDL_Cursor;

namespace platform {

class SdlBackend : public Backend {
 public:
  // The back-end with the host's video started, or null with the host's
  // reason in *error.
  static std::unique_ptr<SdlBackend> create(std::string* error = nullptr);
  ~SdlBackend() override;
  SdlBackend(const SdlBackend&) = delete;
  SdlBackend& operator=(const SdlBackend&) = delete;

  Pt screen_size() override;
  int screen_depth() override;
  bool open_frame(std::string_view title, Pt client) override;
  void set_title(std::string_view title) override;
  void present(const gfx::Surface& frame, std::span<const Rect> dirty) override;
  void close_frame() override;
  void poll(std::vector<InputEvent>& out) override;
  void wait_input(Tick max_ms) override;
  Tick now() override;
  void sleep_until(Tick t) override;
  void set_cursor(CursorShape shape) override;
  void set_cursor_image(const CursorImage& image) override;
  bool audio_open(const WaveFormat& format) override;
  bool audio_queue(std::span<const uint8_t> pcm) override;
  size_t audio_pending() override;
  void audio_close() override;
  std::optional<std::string> clipboard_text() override;
  void set_clipboard_text(std::string_view cp1252) override;

  // The host window, for tests that look at what it shows; null while the
  // frame is closed.
  SDL_Window* window() const { return window_; }
  // What the window shows, as XRGB.
  const gfx::Surface& shown() const { return shown_; }

 private:
  SdlBackend() = default;
  void copy_to_shown(const gfx::Surface& frame, Rect r);
  void show(std::span<const Rect> rects);
  void repaint();
  void translate_text(const char* utf8, std::vector<InputEvent>& out, size_t batch_start);
  uint32_t key_state() const;

  SDL_Window* window_ = nullptr;
  std::string title_;
  gfx::Surface shown_;                  // XRGB
  std::array<uint32_t, 256> palette_{};  // of the 8-bit frame last shown
  bool indexed_ = false;
  uint32_t buttons_ = 0;                // Keys bits of the mouse buttons down
  uint16_t mods_ = 0;                   // the host's modifier state, from its key events
  std::array<SDL_Cursor*, 11> system_cursors_{};
  // 1-bit cursors made for the host, the latest last: an application sets
  // the same few again and again (at every move of the pointer, often).
  struct MadeCursor {
    CursorImage image;
    SDL_Cursor* cursor;
  };
  std::vector<MadeCursor> made_cursors_;
  SDL_Cursor* custom_cursor_ = nullptr;  // the one last set
  uint32_t audio_device_ = 0;
  bool audio_started_ = false;
  bool audio_lost_ = false;
  WaveFormat audio_format_;
  // The text we last gave the host's clipboard, and its UTF-8 there: while
  // the host still holds that, ours comes back unchanged.
  std::string clipboard_mine_, clipboard_host_;
};

}  // namespace platform
