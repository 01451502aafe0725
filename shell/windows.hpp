// Window objects: the Lisp class `obj-window`, the tree of window objects
// and their native halves, the event loop that turns the window system's
// messages into messages to them, and the paint pipeline.
//
// Each opened instance of `obj-window` (or a subclass) has a WindowObject
// as its native part, which names its WindowRecord in the frame's table
// (media/window_record.hpp) by a generation-checked id. Everything here
// holds ids, never record addresses across a Lisp call: a method may
// close any window, open new ones (the table then grows) or close the
// frame, so after every send a record is looked up again, and a window
// that went away is simply not found.
//
// The tree: the first window object opened is the system window (its
// native window the desktop area); the next, a child of it, the desktop
// object, a window at the back of the desktop area that covers it; the
// desktop object's children are the top-level windows, each a native
// window of its own; deeper objects share their top-level window's native
// window and are drawn into it by the paint pipeline. Coordinates: an
// object's rectangle lies in its parent's coordinates, and its own
// coordinates start at that rectangle's top-left corner; the system
// window's coordinates are the desktop area's.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/module.hpp"
#include "core/value.hpp"
#include "media/frame.hpp"
#include "objects/configs.hpp"
#include "platform/window.hpp"

namespace shell {

using media::WindowRecord;

// The native part of a window instance. Its virtual operations are the
// table of native operations: the classes built on obj-window derive from
// it and replace what they do differently.
class WindowObject : public objects::PersistentRecord {
 public:
  uint32_t id = 0;  // the record in the frame's table; 0 once closed

  ~WindowObject() override;

  void show() override;
  void hide() override;
  void enable() override;
  void disable() override;
  bool enabled() override;
  core::Value get_title() override;
  void set_title(core::Value text, int flag) override;

  // Takes the mouse at a press (true: the object tracks it itself, and the
  // native capture is not taken for it).
  virtual bool take_mouse(gfx::Pt) { return false; }
  // The native window class and style a top-level window is made with.
  virtual const char* native_class() const { return "TalvenWndClass"; }
  virtual uint32_t native_style(int32_t type, gfx::Pt size, bool close_box) const;
  // A native drag of the object from a point, and its end.
  virtual void begin_drag(gfx::Pt) {}
  virtual void end_drag() {}
  // What the object's content is, for the classes that have one.
  virtual core::Value get_content() { return core::kNil; }
  virtual void set_content(core::Value) {}
  virtual core::Value get_selection() { return core::kNil; }
  virtual void set_selection(core::Value) {}
  virtual void load_from_pathname(core::Value) {}
  // Draws the object's background content (a pattern, a picture) into
  // `area`; false when it has none, and the background colour is used.
  virtual bool draw_background(gfx::DC&, gfx::Rect) { return false; }
  virtual bool has_background_content() const { return false; }
};

// Message names, interned once.
#define TALVEN_WINDOW_SYMBOLS(X)                                                                          \
  X(size_update, "size-update") X(destroy, "destroy") X(grow_rect_limits, "grow-rect-limits")             \
  X(select, "select") X(key_down, "key-down") X(scroll, "scroll") X(end_scroll, "end-scroll")             \
  X(line_width, "line-width") X(line_height, "line-height") X(page_width, "page-width")                  \
  X(page_height, "page-height") X(out_of_modal, "out-of-modal") X(mouse_down_system, "mouse-down-system") \
  X(mouse_up_system, "mouse-up-system") X(mouse_move_system, "mouse-move-system")                         \
  X(mouse_drag_system, "mouse-drag-system") X(ready_mouse_drag_p, "ready-mouse-drag?")                    \
  X(get_draggable_p, "get-draggable?") X(activate_cursor, "activate-cursor") X(enter_mouse, "enter-mouse") \
  X(exit_mouse, "exit-mouse") X(activate, "activate") X(deactivate, "deactivate")                         \
  X(activate_focus, "activate-focus") X(deactivate_focus, "deactivate-focus") X(appeal, "appeal")         \
  X(point_in_click_zone_p, "point-in-click-zone?") X(editor_selectable_p, "editor-selectable?")           \
  X(get_handles_mouse_p, "get-handles-mouse?") X(handles_mouse_p, "handles-mouse?")                       \
  X(handles_keys_p, "handles-keys?") X(do_quit, "do-quit") X(system_key_down, "system-key-down")          \
  X(paint, "paint") X(edit_paint, "edit-paint") X(draw_frame, "draw-frame") X(after_paint, "after-paint") \
  X(parent, "parent") X(title, "title") X(effect, "effect") X(size, "size") X(type, "type")               \
  X(position, "position") X(color, "color") X(color_ref, "color-ref") X(color_fore, "color-fore")         \
  X(color_fore_ref, "color-fore-ref") X(font, "font") X(floating_p, "floating?")                          \
  X(close_box_p, "close-box?") X(frame_p, "frame?") X(erase_p, "erase?") X(opaque_p, "opaque?")           \
  X(scroll_p, "scroll?") X(grow_icon_p, "grow-icon?") X(hide_on_close_p, "hide-on-close?")                \
  X(transfer_mode, "transfer-mode") X(can_double_click_p, "can-double-click?")                            \
  X(zoom_factor, "zoom-factor") X(virtual_rect, "virtual-rect") X(transparent_p, "transparent?")          \
  X(closed_zone_p, "closed-zone?") X(name, "name") X(in_quit_p, "InQuit?") X(talven, "TALVEN")

// The cursor the application chose by number, and the resource cursor
// made last.
struct CursorMemory {
  int32_t chosen = 0;
  int32_t custom_number = -1;
  platform::Handle custom = 0;
  bool refresh_posted = false;  // the frame is to bring the chosen cursor back
  bool watch_while_collecting = false;
};

struct WindowsState : core::ModuleState {
#define TALVEN_X(field, text) core::Value field = core::kNil;
  TALVEN_WINDOW_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  core::Value window_class = core::kNil;  // obj-window

  uint32_t system = 0, desktop = 0;  // the system window and the desktop object
  // The mouse and the keyboard (ids of window records; 0: none).
  uint32_t click = 0, mouse_window = 0, captured = 0, drag_object = 0, focus = 0;
  gfx::Pt click_point, last_mouse{-1, -1};
  bool mouse_down = false, drag_pending = false, dragging = false, double_click = false;
  bool tracking_activation = true;
  bool classes_registered = false;
  uint32_t last_poll = 0;  // the clock at the last implicit poll
  CursorMemory cursor;
  // The paint under way: the object being painted and the area (in its
  // own coordinates) that `get-update-rect` answers.
  uint32_t painting = 0;
  // An interactive resize under way (grow-setup .. grow-terminate).
  struct Grow {
    uint32_t id = 0;
    gfx::Pt anchor, start_size, min_size;
    gfx::Rect limits;
    bool live = false;
  } grow;
};

extern const core::Module kWindowsModule;
WindowsState& windows_state();

// ---- Colours ----------------------------------------------------------------------------

// A colour value, the list (red green blue) of 16-bit components; error 2
// with the value for anything else (components are clamped to 0..65535).
core::Value colour_value(media::Rgb16 c);
media::Rgb16 colour_arg(core::Value v);

// ---- Records and the tree -------------------------------------------------------------

WindowRecord* record(uint32_t id);
// The record of the current object (`self`); error 2 when it is no open
// window.
uint32_t self_id();
WindowRecord& self_record();
// The record id of a window instance, 0 when the value is none.
uint32_t id_of(core::Value instance);
core::Value instance_of(uint32_t id);  // nil when there is none

std::vector<uint32_t> children_of(uint32_t id);  // front to back
uint32_t top_of(uint32_t id);
bool is_top_level(uint32_t id);       // a child of the desktop object
// A font family given as a number (0 to 16383) or as an installed
// family's name (a string or a symbol); error 2 otherwise.
int32_t font_family_arg(core::Value family);
// A family as get-font answers it: its number, or the name it was given by.
core::Value font_family_value(int32_t family);
gfx::Rect own_bounds(const WindowRecord& w);  // (0, 0, width, height)
// Where an object's (0, 0) lies in the system window's coordinates, and
// in its native window's client area.
gfx::Pt system_origin(uint32_t id);
gfx::Pt native_origin(uint32_t id);
// The object whose native window this is (0: none).
uint32_t object_of_native(platform::Handle h);

// Sends a message to a window's instance from inside a window-system
// callback (a protected send); no-value when the window is gone.
core::Value send_to(uint32_t id, core::Value message, std::initializer_list<core::Value> args = {});

// Marks and sends of activation.
void activate_tree(uint32_t id);
void deactivate_tree(uint32_t id);
void rebuild_desktop_chain();
uint32_t front_window(uint32_t parent);  // the first shown non-floating child

// Closes a window object and its descendants (the closing mark, `destroy`,
// the native window, the record): its instance's methods answer error 2
// from then on.
void close_window(uint32_t id);

// ---- The event loop ------------------------------------------------------------------

int64_t object_proc(platform::WindowSystem& ws, const platform::Message& m);
// The desktop area's share of the frame's procedure: true when it took the
// message.
bool desktop_area_message(platform::WindowSystem& ws, const platform::Message& m, int64_t& result);
void release_mouse();
// Mouse-move processing at a point of the system window.
void mouse_move(gfx::Pt system_point, bool forced);
void set_focus(uint32_t id);
// Forgets a window that is going: the click, mouse, capture, drag and
// focus windows that were it.
void forget_window(uint32_t id);
// Runs the event loop over what is pending, for the event mask (nil: all).
void process_events(core::Value mask, bool from_application);
// The evaluator's implicit poll.
void implicit_poll();

// ---- Painting -----------------------------------------------------------------------

// Paints the tree of a top-level window (or the desktop object) into its
// native window's update region.
void paint_native(platform::WindowSystem& ws, uint32_t id);
// Marks an object's area of its native window for repainting.
void invalidate_object(uint32_t id, bool with_children = true);
// Brings an object's offscreen image up to date.
void update_offscreen(uint32_t id);
uint32_t pixel_of(uint32_t id, gfx::Pt p);  // 0xRRGGBB
// The hit test of the event loop started at `id` (the point in its
// coordinates): the object under the point, 0 for none.
uint32_t find_window_at(uint32_t id, gfx::Pt p);
// The plain drawing operations of obj-window: on the paint under way, or
// straight on the window.
void frame_object(uint32_t id);
// The paint under way that draws `id`: its DC and where the object's
// (0, 0) lies on the DC's surface. False outside a paint of its window.
bool paint_target(uint32_t id, gfx::DC*& dc, gfx::Pt& origin);
void register_drawing();
void push_button(uint32_t id, gfx::Rect r, const std::string& title, int32_t state);
// The face of a push button drawn at `b` (the DC's coordinates): raised
// with the title centred, sunken while pressed (bit 0 of the state), a
// heavier border for the default button (bit 1), the title greyed when
// disabled (bit 2). Shared by draw-push-button and obj-button.
void draw_button_face(gfx::DC& dc, gfx::Rect b, const std::string& title, int32_t state);

// Opens the native half of a new instance of a window class (`self`): its
// record from its properties, with `object` as its native part (the
// native constructors of obj-window and of the classes built on it).
core::Value construct_window_with(std::unique_ptr<WindowObject> object);

// The controls' share of the keyboard (shell/controls.cpp). Tab or
// shift-Tab moving the focus to the next or previous control of the focused
// window's top-level window: false when it has none, and the key goes on
// as a character. And whether an object is one of the standard controls,
// which receive the keys without characters (arrows, Home, End, the page
// keys, Delete) as key-down codes.
bool focus_next_control(bool backward);
bool is_control(uint32_t id);

void register_window_methods(core::Value cls);
void register_event_natives();

}  // namespace shell
