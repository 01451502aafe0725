// The window system: windows, the message queue, painting and composition,
// input state (capture, focus, activation, enabling), scroll bars, menus,
// alerts, the colour chooser, timers, the clipboard store and the cursor
// state, all inside the process.
//
// Windows, menus and cursors are named by 32-bit handles (slot index and
// generation, the top bits telling the three apart); a handle whose object
// is gone is simply not found. The message numbers are the desktop's, so
// code written against them reads as it always has. Windows draw straight
// into the frame surface, clipped to what of them is visible; the frame is
// presented to the back-end in the areas that changed. The desktop window
// stands for the host's window, the frame: its client area holds the
// top-level windows, and it may carry a menu bar.
//
// Input waits in the queue as the back-end delivered it and goes to a
// window (the capture, the window under the pointer, the focus) when it is
// taken. The system's own modal loops (menus, scroll bars, dragged captions
// and sizing frames, alerts, the colour chooser) take it the same way.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/backend.hpp"
#include "platform/gfx/dc.hpp"
#include "platform/gfx/region.hpp"

namespace platform {

using Handle = uint32_t;  // 0 is none

namespace msg {
enum : uint32_t {
  Create = 0x0001, Destroy = 0x0002, Move = 0x0003, Size = 0x0005, Activate = 0x0006,
  SetFocus = 0x0007, KillFocus = 0x0008, Enable = 0x000A, Paint = 0x000F, Close = 0x0010,
  Quit = 0x0012, EraseBackground = 0x0014, ShowWindow = 0x0018, SetCursor = 0x0020,
  MouseActivate = 0x0021, GetMinMaxInfo = 0x0024, PosChanging = 0x0046, PosChanged = 0x0047,
  NcActivate = 0x0086,
  NcMouseMove = 0x00A0, NcLButtonDown = 0x00A1, NcLButtonUp = 0x00A2, NcLButtonDblClk = 0x00A3,
  KeyDown = 0x0100, KeyUp = 0x0101, Char = 0x0102, SysKeyDown = 0x0104, SysKeyUp = 0x0105,
  SysChar = 0x0106, Command = 0x0111, Timer = 0x0113, HScroll = 0x0114, VScroll = 0x0115,
  InitMenuPopup = 0x0117, EnterIdle = 0x0121,
  MouseMove = 0x0200, LButtonDown = 0x0201, LButtonUp = 0x0202, LButtonDblClk = 0x0203,
  RButtonDown = 0x0204, RButtonUp = 0x0205, RButtonDblClk = 0x0206,
  MButtonDown = 0x0207, MButtonUp = 0x0208, MButtonDblClk = 0x0209,
  CaptureChanged = 0x0215, User = 0x0400,
  FirstKey = KeyDown, LastKey = 0x0109, FirstMouse = MouseMove, LastMouse = MButtonDblClk,
};
}  // namespace msg

enum Style : uint32_t {
  kOverlapped = 0, kPopup = 0x80000000u, kChild = 0x40000000u, kMinimize = 0x20000000u,
  kVisible = 0x10000000u, kDisabled = 0x08000000u, kMaximize = 0x01000000u,
  kCaption = 0x00C00000u, kBorder = 0x00800000u, kVScroll = 0x00200000u, kHScroll = 0x00100000u,
  kSysMenu = 0x00080000u, kSizeBox = 0x00040000u,  // a sizing frame: the edges drag
};
// Siblings lie in layers, front to back: topmost windows (alerts, menus),
// floating windows (windoids: a press on one does not take the activation
// from the front window), ordinary ones, and the bottom layer (a window that
// stays behind all its siblings). No reordering moves a window out of its
// layer.
enum ExStyle : uint32_t { kTopmost = 0x8, kToolWindow = 0x80, kFloating = 0x100, kBackmost = 0x200 };
enum ClassStyle : uint32_t { kDoubleClicks = 0x8 };
// Where a point lies on a window: the word a non-client button message
// carries.
enum HitTest : uint32_t {
  kHtNowhere = 0, kHtClient = 1, kHtCaption = 2, kHtMenu = 5, kHtHScroll = 6, kHtVScroll = 7,
  kHtLeft = 10, kHtRight = 11, kHtTop = 12, kHtTopLeft = 13, kHtTopRight = 14, kHtBottom = 15,
  kHtBottomLeft = 16, kHtBottomRight = 17, kHtBorder = 18, kHtClose = 20,
};
enum ActivateState : uint32_t { kInactive = 0, kActive = 1, kClickActive = 2 };
enum MouseActivateResult : int64_t { kMaActivate = 1, kMaActivateAndEat = 2, kMaNoActivate = 3, kMaNoActivateAndEat = 4 };

struct Message {
  Handle window = 0;
  uint32_t message = 0;
  uint64_t wparam = 0;
  int64_t lparam = 0;
  Tick time = 0;
  Pt at;               // cursor position in frame coordinates when it was queued
  uint32_t keys = 0;   // modifier and button snapshot
  uint16_t host_char = 0;  // key-down: 0x100 | the character the host gave, if any
};

class WindowSystem;
using WindowProc = std::function<int64_t(WindowSystem&, const Message&)>;

struct WindowClass {
  std::string name;
  WindowProc proc;           // null: the default procedure
  uint32_t style = 0;        // ClassStyle
  std::optional<uint32_t> background;  // erase colour; none leaves the background alone
};

struct CreateParams {
  std::string class_name;
  std::string title;
  uint32_t style = 0, ex_style = 0;
  Rect rect;                 // in the parent's client coordinates
  Handle parent = 0;         // 0: a top-level window on the desktop
  Handle owner = 0;
};

// A drawing context on the frame for one window: the clip is the visible
// part of the window, and `origin` is where its client (0,0) lies on the
// frame, to be added to client coordinates.
struct WindowDC {
  gfx::DC dc;
  Pt origin;
  Rect client(Rect r) const { return gfx::offset(r, origin.x, origin.y); }
  Pt client(Pt p) const { return {p.x + origin.x, p.y + origin.y}; }
};

// Asked of a window (get-min-max-info, lparam the address of this record)
// before its sizing frame is dragged: the smallest and largest window size.
struct MinMaxInfo {
  Pt min_track, max_track;
};

struct PaintInfo {
  Rect paint;      // bounds of the update region, client coordinates
  bool erase = false;
};

class WindowSystem {
 public:
  explicit WindowSystem(Backend& backend, Pt frame_size = {});
  ~WindowSystem();
  WindowSystem(const WindowSystem&) = delete;
  WindowSystem& operator=(const WindowSystem&) = delete;

  Backend& backend() { return backend_; }
  gfx::Surface& frame() { return frame_; }
  Handle desktop() const { return desktop_; }

  // Classes and windows.
  // False for an empty name or one taken ("#desktop", "#menu", "#alert"
  // and "#color" are the system's own).
  bool register_class(WindowClass c);
  Handle create(const CreateParams& p);
  bool destroy(Handle w);
  bool alive(Handle w) const { return find(w) != nullptr; }
  Handle parent(Handle w) const;
  Handle owner(Handle w) const;
  std::vector<Handle> children(Handle w) const;  // front to back
  uint32_t style(Handle w) const;
  uint32_t ex_style(Handle w) const;
  std::string title(Handle w) const;
  void set_title(Handle w, std::string_view t);
  Rect window_rect(Handle w) const;   // parent's client coordinates
  Rect client_rect(Handle w) const;   // its own client coordinates, left-top 0
  Rect screen_client(Handle w) const; // client area on the frame
  bool move(Handle w, Rect r);
  bool show(Handle w, bool visible);
  bool visible(Handle w) const;       // its own flag and every ancestor's
  void bring_to_top(Handle w);              // the front of its layer
  // Places w right behind `sibling` (0: at the back), kept in its layer.
  bool place_behind(Handle w, Handle sibling);
  bool set_property(Handle w, const std::string& name, uint64_t value);
  std::optional<uint64_t> property(Handle w, const std::string& name) const;
  bool remove_property(Handle w, const std::string& name);
  Handle window_at(Pt frame_point) const;  // deepest visible window
  HitTest hit_test(Handle w, Pt frame_point) const;
  // Replaces the procedure of one window (null: its class's again).
  bool set_window_proc(Handle w, WindowProc proc);

  // Messages.
  int64_t send(Handle w, uint32_t message, uint64_t wparam = 0, int64_t lparam = 0);
  bool post(Handle w, uint32_t message, uint64_t wparam = 0, int64_t lparam = 0);
  void post_quit(int code);
  struct Range { uint32_t first, last; };
  // The next message for `window` (0: any; else it or its descendants)
  // whose number lies in one of `ranges` (none: all): posted messages,
  // then input, then a paint, then a due timer.
  bool peek(Message& out, Handle window = 0, std::span<const Range> ranges = {}, bool remove = true);
  int64_t dispatch(const Message& m);
  // Posts the character message a key-down produces, in code page 1252.
  bool translate(const Message& m);
  // What a window does unless its procedure does otherwise: close
  // destroys it (on the desktop, which stands for the frame and receives
  // the host's close requests, it posts quit); erase fills the class's
  // background; presses on the frame track its caption, sizing frame,
  // close box, scroll bars and menu bar; F10 and Alt with a title's letter
  // open the menu bar.
  static int64_t default_proc(WindowSystem& ws, const Message& m);
  // Pulls the back-end's input into the queue.
  void pump_input();
  // Nothing to do: presents the frame, then waits for input through the
  // back-end, at most `max_ms` and no later than the next timer is due.
  void wait_idle(Tick max_ms);
  // The state of keys and buttons as of the message being handled.
  uint32_t keys() const { return current_keys_; }
  Tick message_time() const { return current_time_; }
  // The state of keys and buttons, and where the pointer is, as the latest
  // input the back-end delivered has them (whether taken yet or not).
  uint32_t keys_now();
  Pt pointer_now();

  // Painting. A window paints its update region through a PaintScope
  // (below), which ends the paint however the handler is left.
  void invalidate(Handle w, const std::optional<Rect>& client_area, bool erase);
  void validate(Handle w);
  // Drops the part of the update region within `client_area`.
  void validate(Handle w, Rect client_area);
  bool has_update(Handle w) const;
  WindowDC window_dc(Handle w);     // client area, for drawing outside paint
  // Moves what the client area shows within `area` (client coordinates;
  // none: all of it) by dx, dy. What is uncovered, and what would have come
  // from a hidden part, joins the update region; a pending update region
  // moves along.
  void scroll_window(Handle w, int32_t dx, int32_t dy, const std::optional<Rect>& area = std::nullopt);
  // Draws the chrome of windows whose frames changed and presents every
  // changed area of the frame.
  void flush();
  // Sends paint to every window with an update region, then flushes.
  void update_all();

  // Input state.
  Handle set_capture(Handle w);
  void release_capture();
  Handle capture() const { return capture_; }
  Handle set_focus(Handle w);
  Handle focus() const { return focus_; }
  bool activate(Handle w, uint32_t how = kActive);
  Handle active() const { return active_; }
  bool enable(Handle w, bool on);   // previous: was it disabled
  bool enabled(Handle w) const;     // its own flag and no modal holds it
  // A modal window disables every other top-level window until it ends;
  // nesting restores each window to what the inner modal found. A modal
  // loop holds its window modal through a ModalScope (below); a window
  // made modal for longer than one call (the application's own modal
  // windows) pairs these itself.
  void begin_modal(Handle modal);
  void end_modal(Handle modal);

  // The one pump of the system's modal loops (menus, scroll bars, dragged
  // captions and sizing frames, the close box, alerts, the colour
  // chooser). While nothing is there it paints what is due, presents the
  // frame, runs the timers and waits for input as `ModalWaits` says.
  struct ModalWaits {
    // Called once each time the input runs dry (the owner hears
    // enter-idle); afterwards `still` says whether the loop goes on.
    std::function<void()> idle;
    std::function<bool()> still;
    // How long to wait for input when it has run dry (50 ms when not set);
    // a loop that repeats on a timer of its own does its work here.
    std::function<Tick()> interval;
    bool idle_told = false;
  };
  // The next input event, for loops that track the pointer or the keys
  // themselves; false when no more input will come or the loop is to stop.
  bool modal_input(InputEvent& e, ModalWaits& waits);
  // The next message, for loops that dispatch whole messages; false as
  // well at the quit message, which is posted again for the loop outside.
  bool modal_message(Message& m, ModalWaits& waits);
  Pt cursor() const { return cursor_; }
  void set_caps_lock(bool on) { caps_lock_ = on; }
  bool caps_lock() const { return caps_lock_; }

  // Scroll bars of windows with the vertical or horizontal scroll style.
  // The position stays within min .. max - page + 1 (min when that is less).
  // A press on the bar is tracked until the button comes up, the window
  // being sent the scroll message of that bar: on the arrows line up/down,
  // on the track page up/down, both repeated while the button is held; the
  // thumb dragged sends thumb-track with each new position and
  // thumb-position with the last; the release sends end-scroll. The
  // window moves the position itself. The scroll message's wparam holds
  // the code in its low 16 bits and, for the thumb, the position as a
  // 32-bit number above them (scroll_wparam, scroll_code, scroll_position).
  struct ScrollInfo { int32_t min = 0, max = 100, page = 0, pos = 0; };
  enum ScrollBar : int { kHorizontal = 0, kVertical = 1 };
  enum ScrollCode : uint32_t {
    kLineUp = 0, kLineDown = 1, kPageUp = 2, kPageDown = 3, kThumbPosition = 4, kThumbTrack = 5,
    kTop = 6, kBottom = 7, kEndScroll = 8,
  };
  bool set_scroll(Handle w, int bar, ScrollInfo info);
  std::optional<ScrollInfo> scroll(Handle w, int bar) const;
  static uint64_t scroll_wparam(uint32_t code, int32_t pos = 0) { return (uint64_t(uint32_t(pos)) << 16) | (code & 0xFFFF); }
  static uint32_t scroll_code(uint64_t wparam) { return uint32_t(wparam & 0xFFFF); }
  static int32_t scroll_position(uint64_t wparam) { return int32_t(uint32_t(wparam >> 16)); }

  // Menus: a menu bar or a pop-up is a list of items, named by a handle
  // with a generation as windows are (a destroyed menu's handle is dead).
  // Command ids are 32 bits. A menu shown as the bar of a window takes a
  // row below its caption (more rows when its titles do not fit one; Alt
  // pressed and let go alone opens it too); a press on a title there (or F10, or Alt with
  // a title's marked letter) tracks the bar. Tracking is modal: each
  // pop-up's owner is sent init-menu-popup (wparam the menu, lparam the
  // item's position in its parent) before the pop-up opens, and
  // enter-idle while the tracking waits; the mouse and the arrow keys move
  // the highlight (a pop-up taller than the frame scrolls); a release or
  // Enter on an enabled item chooses it, as does an item's marked letter;
  // Escape or a press outside every menu chooses nothing. The bar posts
  // command (wparam the id) to its window.
  enum MenuFlags : uint32_t { kMenuSeparator = 1, kMenuChecked = 2, kMenuDisabled = 4 };
  struct MenuItem {
    std::string text;     // '&' marks the next letter as the item's key; a tab starts the right-hand part
    uint32_t id = 0;
    uint32_t flags = 0;   // MenuFlags
    Handle submenu = 0;   // opens this menu instead of choosing
  };
  Handle create_menu();
  bool destroy_menu(Handle m);  // and the submenus in it
  bool menu_alive(Handle m) const;
  // A submenu must be a live menu that does not hold this one.
  bool append_menu(Handle m, const MenuItem& item);
  bool insert_menu(Handle m, size_t position, const MenuItem& item);
  bool set_menu_item(Handle m, size_t position, const MenuItem& item);
  bool remove_menu_item(Handle m, size_t position);  // a submenu lives on
  size_t menu_item_count(Handle m) const;
  std::optional<MenuItem> menu_item(Handle m, size_t position) const;
  bool check_menu_item(Handle m, size_t position, bool on);
  bool enable_menu_item(Handle m, size_t position, bool on);
  // The bar of a top-level window or of the desktop (0 removes it); the
  // client area gives way to it.
  bool set_menu_bar(Handle w, Handle menu);
  Handle menu_bar(Handle w) const;
  void draw_menu_bar(Handle w);
  // Shows the pop-up with its top-left at a frame point (moved to fit)
  // and tracks it: the id chosen, 0 for none. Posts command to the owner
  // too when asked.
  uint32_t track_popup(Handle menu, Pt at, Handle owner, bool post_command = false);
  // Tracks the bar of w from its title at `index`; by keyboard the first
  // item is highlighted. The id chosen (also posted as command), 0 for none.
  uint32_t track_menu_bar(Handle w, int index, bool by_keyboard);
  bool tracking_menu() const { return menu_depth_ > 0; }
  // Where a title of w's bar lies on the frame, and where an item of a
  // pop-up that is open now lies (none when the menu is not open or the
  // item is scrolled out of sight): what a user would press.
  std::optional<Rect> menu_title_rect(Handle w, size_t index) const;
  std::optional<Rect> open_menu_item_rect(Handle menu, size_t index) const;
  static constexpr int32_t kMenuBarHeight = 18, kMenuItemHeight = 16;

  // The colour chooser: a modal window of basic colours, 16 custom colours
  // (white until the user adds one; kept while the system lives), red,
  // green and blue bars and the colour as it stands. The colour (0xRRGGBB)
  // on OK or Enter; none on Cancel, Escape, a close or the end of input.
  std::optional<uint32_t> choose_color(uint32_t initial, Handle owner = 0);
  std::array<uint32_t, 16>& custom_colors() { return custom_colors_; }

  // An alert: a modal window with the text (broken into lines to fit) and
  // a row of buttons ("OK" when none are given), run in a nested loop
  // until a button is pressed (Enter or Space the focused one, the first
  // unless Tab or an arrow moved it; Escape the last) or the script of the
  // back-end answers; with no more input to come, the last. Its owner is
  // sent enter-idle while it waits. The index of the button.
  int alert(const std::string& title, const std::string& text, const std::vector<std::string>& buttons);

  // Timers.
  bool set_timer(Handle w, uint64_t id, Tick interval);
  bool kill_timer(Handle w, uint64_t id);

  // Cursor state: shown while the display count is 0 or more.
  int show_cursor(bool show);
  void set_cursor(CursorShape shape);
  void set_cursor(const CursorImage& image);  // an invalid image shows the arrow
  CursorShape cursor_shape() const { return cursor_shape_; }
  bool cursor_shown() const { return cursor_count_ >= 0; }
  int cursor_count() const { return cursor_count_; }
  // What a custom cursor is called where it is named for a user (the
  // headless script's `cursor` line); set with the cursor.
  void set_cursor_label(std::string label) { cursor_label_ = std::move(label); }
  const std::string& cursor_label() const { return cursor_label_; }
  // Cursors made from 1-bit images, named by handles with a generation:
  // made once, used as often as wanted, destroyed when done with.
  Handle create_cursor(const CursorImage& image);  // 0 for a malformed image
  bool destroy_cursor(Handle c);                   // the arrow replaces it if shown
  bool cursor_alive(Handle c) const;
  bool use_cursor(Handle c);                       // false for a dead handle
  Handle current_cursor() const { return cursor_shape_ == CursorShape::Custom ? current_cursor_ : 0; }

  // Clipboard: format names to bytes; "text" is mirrored to the host.
  void clipboard_empty();
  void clipboard_add(const std::string& format, std::vector<uint8_t> bytes);
  std::optional<std::vector<uint8_t>> clipboard_get(const std::string& format);

  // Chrome metrics.
  static constexpr int32_t kBorderWidth = 1, kSizeFrame = 4, kCaptionHeight = 14, kScrollBarWidth = 12;
  static constexpr uint32_t kFaceColor = 0xF0F0F0;  // the face of controls, menus and dialogs

  struct Window;

 private:
  struct Menu;
  struct MenuTracker;
  friend struct MenuTracker;
  Window* find(Handle w) const;
  Handle alloc(std::unique_ptr<Window> win);
  void destroy_tree(Window* w);
  Rect screen_rect(const Window* w) const;
  Rect client_of(const Window* w) const;  // client area within the window rect
  Rect bar_rect(const Window* w) const;   // the menu bar row on the frame
  gfx::Region visible_region(const Window* w, bool client_only) const;
  void invalidate_screen(const gfx::Region& area);
  void mark_dirty(Rect r) { dirty_.push_back(r); }
  void draw_frame(Window* w);
  void draw_bar(Window* w, gfx::DC& dc);
  void queue_input(const InputEvent& e);
  bool resolve(const InputEvent& e, Message& m) const;
  bool take_input(Message& out, Handle window, std::span<const Range> ranges, bool remove);
  Window* top_level(Window* w) const;
  bool is_descendant(Handle w, Handle ancestor) const;
  bool matches(const Message& m, Handle window, std::span<const Range> ranges) const;
  void set_enabled_state(Window* w, bool was);
  friend class PaintScope;
  WindowDC begin_paint(Handle w, PaintInfo& info);
  void end_paint(Handle w);
  bool modal_pause(ModalWaits& waits);  // false: the loop ends
  void z_insert(Window* parent, Window* w, Window* behind = nullptr);
  void reorder(Handle w, Window* behind);  // z_insert, then what it uncovers repainted
  void flush_frames();
  void validate_if_unpainted(Handle w);
  // Modal tracking reads the input itself, in frame coordinates.
  bool next_event(InputEvent& e);
  bool modal_wait(Tick max_ms);  // false: no input will come
  int64_t nc_button_down(const Message& m);
  void track_scroll(Handle w, int bar, Pt at);
  void follow_pointer(Handle w, Pt at, const std::function<Rect(const Window*, Rect, int32_t, int32_t)>& place);
  void track_caption(Handle w, Pt at);
  void track_size(Handle w, uint32_t hit, Pt at);
  int32_t frame_inset(const Window* w) const;
  void track_close_box(Handle w);
  Rect scroll_track(const Window* w, int bar) const;
  Rect scroll_thumb(const Window* w, int bar) const;
  Menu* find_menu(Handle m) const;
  bool menu_holds(Handle m, Handle inner, int depth = 0) const;
  std::vector<Rect> bar_titles(const Window* w) const;
  // The rows a window's menu bar takes: its titles wrap onto more rows
  // when they do not fit the window's width.
  int32_t bar_rows(const Window* w) const;
  // A menu that some window shows as its bar changed: the bar is laid out
  // again, and a window whose client area changed with it hears its size.
  void bar_changed(Handle menu);

  Backend& backend_;
  gfx::Surface frame_;
  struct Slot { uint16_t generation = 1; std::unique_ptr<Window> window; };
  std::vector<Slot> slots_;
  std::vector<uint32_t> free_;
  struct MenuSlot { uint16_t generation = 1; std::unique_ptr<Menu> menu; };
  std::vector<MenuSlot> menu_slots_;
  std::vector<uint32_t> menu_free_;
  std::map<std::string, WindowClass> classes_;
  Handle desktop_ = 0;
  std::deque<Message> posted_;
  std::deque<InputEvent> input_;  // targets are found as each is taken
  std::vector<Rect> dirty_;
  Handle capture_ = 0, focus_ = 0, active_ = 0;
  uint32_t current_keys_ = 0, latest_keys_ = 0;
  Pt latest_pointer_;
  Tick current_time_ = 0;
  Pt cursor_;
  struct LastClick { Handle window = 0; uint32_t message = 0; Tick time = 0; Pt at; } last_click_;
  struct Timer { Handle window; uint64_t id; Tick interval, due; };
  std::vector<Timer> timers_;
  std::vector<Handle> modals_;
  int menu_depth_ = 0;
  struct ScrollDrag { Handle window = 0; int bar = 0; int32_t pos = 0; } scroll_drag_;
  int cursor_count_ = 0;
  CursorShape cursor_shape_ = CursorShape::Arrow;
  CursorImage cursor_image_;
  struct CursorSlot { uint16_t generation = 1; std::optional<CursorImage> image; };
  std::vector<CursorSlot> cursors_;
  Handle current_cursor_ = 0;
  std::string cursor_label_;
  std::map<std::string, std::vector<uint8_t>> clipboard_;
  std::array<uint32_t, 16> custom_colors_;
  bool caps_lock_ = false;
  bool alt_alone_ = false;  // Alt is down, and nothing else was pressed since
  bool quit_ = false;
  int quit_code_ = 0;
};

// A window painting its update region: the DC is clipped to it, and the
// window counts as painting until the scope ends, whether its handler
// returns or is left by an exception.
class PaintScope {
 public:
  PaintScope(WindowSystem& ws, Handle window) : ws_(ws), window_(window), dc_(ws.begin_paint(window, info_)) {}
  ~PaintScope() { ws_.end_paint(window_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;

  WindowDC& dc() { return dc_; }
  gfx::DC& operator*() { return dc_.dc; }
  gfx::DC* operator->() { return &dc_.dc; }
  const PaintInfo& info() const { return info_; }
  Rect client(Rect r) const { return dc_.client(r); }
  Pt client(Pt p) const { return dc_.client(p); }

 private:
  WindowSystem& ws_;
  Handle window_;
  PaintInfo info_;
  WindowDC dc_;
};

// A window held modal for as long as the scope lives.
class ModalScope {
 public:
  ModalScope(WindowSystem& ws, Handle modal) : ws_(ws), modal_(modal) { ws_.begin_modal(modal_); }
  ~ModalScope() { ws_.end_modal(modal_); }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  WindowSystem& ws_;
  Handle modal_;
};

}  // namespace platform
