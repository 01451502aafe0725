// What the parts of the window system share inside platform/: the window
// and menu records, the colours of the chrome and a few small helpers.
#pragma once
#include <exception>
#include <optional>

#include "platform/window.hpp"

namespace platform {

struct WindowSystem::Window {
  Handle handle = 0;
  const WindowClass* cls = nullptr;
  std::shared_ptr<WindowProc> proc;  // replaces the class's procedure when set
  std::string title;
  uint32_t style = 0, ex_style = 0;
  Rect rect;                   // parent's client coordinates
  Window* parent = nullptr;
  Handle owner = 0;
  std::vector<Window*> children;  // front to back
  std::map<std::string, uint64_t> properties;
  gfx::Region update;          // client coordinates
  bool erase = false, frame_dirty = false, destroying = false, painting = false;
  int modal_count = 0;         // modals holding it disabled
  WindowSystem::ScrollInfo scroll[2];
  Handle menu_bar = 0;
  int bar_hot = -1;
  int32_t bar_rows_laid = 0;   // the rows its menu bar took when last laid out            // the title shown pressed while its menu is open
};

struct WindowSystem::Menu {
  Handle handle = 0;
  std::vector<MenuItem> items;
};

namespace chrome {
// One plain look: grey faces, dark frames, a blue for what is active or
// highlighted, black text in the embedded font.
constexpr uint32_t kDesktop = gfx::rgb(0x3A, 0x6E, 0xA5), kFrame = gfx::rgb(0x40, 0x40, 0x40),
                   kActiveCaption = gfx::rgb(0x1C, 0x3F, 0x7A), kInactiveCaption = gfx::rgb(0x80, 0x80, 0x88),
                   kCaptionText = gfx::rgb(0xFF, 0xFF, 0xFF), kScrollTrack = gfx::rgb(0xD8, 0xD8, 0xD8),
                   kScrollThumb = gfx::rgb(0xA0, 0xA0, 0xA0), kFace = WindowSystem::kFaceColor,
                   kText = gfx::rgb(0, 0, 0), kGreyText = gfx::rgb(0x90, 0x90, 0x90),
                   kHighlight = gfx::rgb(0x1C, 0x3F, 0x7A), kHighlightText = gfx::rgb(0xFF, 0xFF, 0xFF);

// Text with '&' marking the next character's underline ("&&" is one '&'),
// drawn from p in the DC's text colour; its width in pixels.
int32_t draw_label(gfx::DC& dc, Pt p, std::string_view label, gfx::Pixel color);
int32_t label_width(std::string_view label);
// The character after the '&' of a label, lower case; 0 when none.
unsigned char label_key(std::string_view label);
// A plain push button: a frame around a centred label.
void draw_button(gfx::DC& dc, Rect r, std::string_view label, gfx::Pixel frame, gfx::Pixel text);
}  // namespace chrome

// The procedure of the pop-up menu windows ("#menu").
int64_t menu_window_proc(WindowSystem& ws, const Message& m);

// Runs its function when the scope ends, however it is left: for state
// that a loop sets and must not outlive it.
template <class F>
struct AtExit {
  F run;
  ~AtExit() { run(); }
};
template <class F>
AtExit(F) -> AtExit<F>;

// A system dialog (an alert, the colour chooser) from the moment it goes
// modal to its end: then it lets the rest go, is destroyed, and the window
// active before it is made active again. Its procedure refers to the
// caller's locals, so the window never outlives the call, however the call
// is left; while an exception unwinds, nothing else is sent.
class DialogScope {
 public:
  DialogScope(WindowSystem& ws, Handle dialog, Handle previous)
      : ws_(ws), dialog_(dialog), previous_(previous), modal_(std::in_place, ws, dialog) {}
  ~DialogScope() {
    modal_.reset();
    if (ws_.capture() == dialog_) ws_.release_capture();
    ws_.destroy(dialog_);
    if (std::uncaught_exceptions() > 0) return;
    if (ws_.alive(previous_)) ws_.activate(previous_);
    ws_.update_all();
  }
  DialogScope(const DialogScope&) = delete;
  DialogScope& operator=(const DialogScope&) = delete;

 private:
  WindowSystem& ws_;
  Handle dialog_, previous_;
  std::optional<ModalScope> modal_;
};

inline int64_t point_param(Pt p) { return int64_t((uint32_t(uint16_t(p.y)) << 16) | uint16_t(p.x)); }
inline Pt param_point(int64_t l) { return {int16_t(l & 0xFFFF), int16_t((l >> 16) & 0xFFFF)}; }

}  // namespace platform
